// The state of a dialog's controls, addressed by resource id. Safe to change from any
// thread: workers set texts and progress directly; renderers listen for changes.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ui/dialog_template.h"

namespace qx::ui {

struct list_column {
    std::string title;
    int width = 80;
    enum alignment { left, centre, right } align = left;
};

struct control_state {
    control_kind kind = control_kind::label;
    std::string text;
    bool enabled = true;
    bool visible = true;
    bool checked = false;
    int range_low = 0, range_high = 100, position = 0, step = 10;  // progress bars
    int bitmap = 0;                                                  // lamps: bitmap resource id
    std::vector<list_column> columns;                                // lists
    int row_count = 0;
    std::uint64_t row_generation = 0;  // bumped when the rows' contents change
};

class dialog_model {
public:
    explicit dialog_model(const dialog_template& t);

    std::string caption() const;
    void set_caption(std::string text);

    // Unknown ids throw std::out_of_range: a dialog addresses only its own controls.
    void set_text(int id, std::string text);
    std::string text(int id) const;
    void set_enabled(int id, bool on);
    bool enabled(int id) const;
    void set_visible(int id, bool on);
    bool visible(int id) const;
    void set_checked(int id, bool on);
    bool checked(int id) const;
    void set_range(int id, int low, int high);
    void set_position(int id, int position);
    void set_step(int id, int step);
    void step_it(int id);  // advances by the step, wrapping to the low end past the high end
    int position(int id) const;
    void set_bitmap(int id, int bitmap);
    int bitmap(int id) const;
    void set_columns(int id, std::vector<list_column> columns);
    void set_row_count(int id, int rows);
    void invalidate_rows(int id);  // the rows' texts changed
    control_state state(int id) const;
    std::vector<int> ids() const;

    // The dialog's work runs (set by the dialog): renderers show the controls that start work
    // disabled meanwhile, whatever their own state says. Listeners hear of it as `working_id`.
    static constexpr int working_id = std::numeric_limits<int>::min();  // no control has it
    void set_working(bool on);
    bool working() const;

    // Called after every change with the control's id (0 for the caption, working_id for the
    // work state), on the thread that made the change, outside the model's lock.
    using listener = std::function<void(int id)>;
    int add_listener(listener l);
    void remove_listener(int handle);

private:
    template <class F>
    void change(int id, F f);
    void notify(int id);

    mutable std::mutex mutex_;
    std::string caption_;
    bool working_ = false;
    std::map<int, control_state> controls_;
    std::map<int, listener> listeners_;
    int next_listener_ = 1;
    mutable std::mutex listeners_mutex_;
};

}  // namespace qx::ui
