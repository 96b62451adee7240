#include "platform/ui/dialog_model.h"

#include <stdexcept>

namespace qx::ui {

dialog_model::dialog_model(const dialog_template& t) : caption_(t.caption) {
    for (const control_template& c : t.controls) {
        control_state s;
        s.kind = c.kind;
        s.text = c.text;
        s.enabled = c.enabled;
        s.visible = c.visible;
        controls_[c.id] = s;
    }
}

template <class F>
void dialog_model::change(int id, F f) {
    bool changed = false;
    {
        std::lock_guard lock(mutex_);
        const auto it = controls_.find(id);
        if (it == controls_.end()) throw std::out_of_range("no control " + std::to_string(id));
        changed = f(it->second);
    }
    if (changed) notify(id);
}

void dialog_model::notify(int id) {
    std::vector<listener> to_call;
    {
        std::lock_guard lock(listeners_mutex_);
        for (const auto& [handle, l] : listeners_) to_call.push_back(l);
    }
    for (const auto& l : to_call) l(id);
}

std::string dialog_model::caption() const {
    std::lock_guard lock(mutex_);
    return caption_;
}

void dialog_model::set_caption(std::string text) {
    {
        std::lock_guard lock(mutex_);
        caption_ = std::move(text);
    }
    notify(0);
}

void dialog_model::set_working(bool on) {
    {
        std::lock_guard lock(mutex_);
        if (working_ == on) return;
        working_ = on;
    }
    notify(working_id);
}

bool dialog_model::working() const {
    std::lock_guard lock(mutex_);
    return working_;
}

#define QX_SETTER(name, type, field)                                          \
    void dialog_model::name(int id, type v) {                                 \
        change(id, [&](control_state& s) {                                    \
            if (s.field == v) return false;                                   \
            s.field = std::move(v);                                           \
            return true;                                                      \
        });                                                                   \
    }
QX_SETTER(set_text, std::string, text)
QX_SETTER(set_enabled, bool, enabled)
QX_SETTER(set_visible, bool, visible)
QX_SETTER(set_checked, bool, checked)
QX_SETTER(set_step, int, step)
QX_SETTER(set_bitmap, int, bitmap)
QX_SETTER(set_row_count, int, row_count)
#undef QX_SETTER

void dialog_model::set_range(int id, int low, int high) {
    change(id, [&](control_state& s) {
        if (s.range_low == low && s.range_high == high) return false;
        s.range_low = low;
        s.range_high = high;
        return true;
    });
}

void dialog_model::set_position(int id, int position) {
    change(id, [&](control_state& s) {
        if (s.position == position) return false;
        s.position = position;
        return true;
    });
}

void dialog_model::step_it(int id) {
    change(id, [&](control_state& s) {
        s.position += s.step;
        if (s.position > s.range_high) s.position = s.range_low + (s.position - s.range_high);
        return true;
    });
}

void dialog_model::set_columns(int id, std::vector<list_column> columns) {
    change(id, [&](control_state& s) {
        s.columns = std::move(columns);
        return true;
    });
}

void dialog_model::invalidate_rows(int id) {
    change(id, [&](control_state& s) {
        ++s.row_generation;
        return true;
    });
}

#define QX_GETTER(name, type, field)                                                        \
    type dialog_model::name(int id) const {                                                \
        std::lock_guard lock(mutex_);                                                      \
        const auto it = controls_.find(id);                                                \
        if (it == controls_.end()) throw std::out_of_range("no control " + std::to_string(id)); \
        return it->second.field;                                                           \
    }
QX_GETTER(text, std::string, text)
QX_GETTER(enabled, bool, enabled)
QX_GETTER(visible, bool, visible)
QX_GETTER(checked, bool, checked)
QX_GETTER(position, int, position)
QX_GETTER(bitmap, int, bitmap)
#undef QX_GETTER

control_state dialog_model::state(int id) const {
    std::lock_guard lock(mutex_);
    const auto it = controls_.find(id);
    if (it == controls_.end()) throw std::out_of_range("no control " + std::to_string(id));
    return it->second;
}

std::vector<int> dialog_model::ids() const {
    std::lock_guard lock(mutex_);
    std::vector<int> out;
    for (const auto& [id, s] : controls_) out.push_back(id);
    return out;
}

int dialog_model::add_listener(listener l) {
    std::lock_guard lock(listeners_mutex_);
    const int handle = next_listener_++;
    listeners_[handle] = std::move(l);
    return handle;
}

void dialog_model::remove_listener(int handle) {
    std::lock_guard lock(listeners_mutex_);
    listeners_.erase(handle);
}

}  // namespace qx::ui
