#include "platform/ui/headless_renderer.h"

#include <algorithm>

namespace qx::ui {

void headless_renderer::answer_message(int answer) {
    std::lock_guard lock(mutex_);
    message_answers_.push_back(answer);
}
void headless_renderer::answer_folder(std::optional<std::string> folder) {
    std::lock_guard lock(mutex_);
    folder_answers_.push_back(std::move(folder));
}
void headless_renderer::answer_file(std::optional<std::string> path) {
    std::lock_guard lock(mutex_);
    file_answers_.push_back(std::move(path));
}
void headless_renderer::answer_menu(int item) {
    std::lock_guard lock(mutex_);
    menu_answers_.push_back(item);
}

std::vector<headless_renderer::prompt_record> headless_renderer::prompts() const {
    std::lock_guard lock(mutex_);
    return prompts_;
}

std::size_t headless_renderer::prompt_count() const {
    std::lock_guard lock(mutex_);
    return prompts_.size();
}

std::vector<dialog*> headless_renderer::shown() const {
    std::lock_guard lock(mutex_);
    return shown_;
}

void headless_renderer::changed() {
    { std::lock_guard lock(mutex_); }
    cv_.notify_all();
}

bool headless_renderer::wait_until(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(mutex_);
    for (;;) {
        lock.unlock();
        const bool ok = pred();
        lock.lock();
        if (ok) return true;
        // Re-checked on every change; the timed wait only bounds a test that would hang.
        if (cv_.wait_until(lock, deadline) == std::cv_status::timeout) {
            lock.unlock();
            return pred();
        }
    }
}

dialog* headless_renderer::wait_for_dialog(int resource_id, std::chrono::milliseconds timeout) {
    dialog* found = nullptr;
    wait_until(
        [&] {
            std::lock_guard lock(mutex_);
            for (dialog* d : shown_)
                if (d->layout().id == resource_id) found = d;
            return found != nullptr;
        },
        timeout);
    return found;
}

void headless_renderer::show(dialog& d) {
    const int handle = d.model().add_listener([this](int) { changed(); });
    {
        std::lock_guard lock(mutex_);
        shown_.push_back(&d);
        listeners_[&d] = handle;
    }
    changed();
}

void headless_renderer::hide(dialog& d) {
    int handle = 0;
    {
        std::lock_guard lock(mutex_);
        std::erase(shown_, &d);
        handle = listeners_[&d];
        listeners_.erase(&d);
    }
    d.model().remove_listener(handle);
    changed();
}

int headless_renderer::message_box(dialog*, const message_box_request& r) {
    int answer = IDOK;
    {
        std::lock_guard lock(mutex_);
        prompts_.push_back({"message", r.caption, r.text, r.style, r.owned});
        if (!message_answers_.empty()) {
            answer = message_answers_.front();
            message_answers_.pop_front();
        } else if (r.buttons() == MB_OKCANCEL) {
            answer = IDCANCEL;
        } else if (r.buttons() == MB_YESNO) {
            answer = IDNO;
        }
    }
    changed();
    return answer;
}

std::optional<std::string> headless_renderer::browse_folder(dialog&, const std::string& title) {
    std::optional<std::string> answer;
    {
        std::lock_guard lock(mutex_);
        prompts_.push_back({"folder", "", title, 0, true});
        if (!folder_answers_.empty()) {
            answer = folder_answers_.front();
            folder_answers_.pop_front();
        }
    }
    changed();
    return answer;
}

std::optional<std::string> headless_renderer::choose_file(dialog&, const file_request& r) {
    std::optional<std::string> answer;
    {
        std::lock_guard lock(mutex_);
        prompts_.push_back({"file", r.title, r.default_name, r.save ? 1u : 0u, true});
        if (!file_answers_.empty()) {
            answer = file_answers_.front();
            file_answers_.pop_front();
        }
    }
    changed();
    return answer;
}

int headless_renderer::popup_menu(dialog&, const popup_menu_request& r) {
    int answer = -1;
    {
        std::lock_guard lock(mutex_);
        std::string items;
        for (const auto& i : r.items) items += (items.empty() ? "" : "|") + i;
        prompts_.push_back({"menu", "", items, 0, true});
        if (!menu_answers_.empty()) {
            answer = menu_answers_.front();
            menu_answers_.pop_front();
        }
    }
    changed();
    return answer;
}

// The serving thread waits for the end of the run alone: a model change does not wake it.
void headless_renderer::serve(const std::atomic<bool>& done) {
    std::unique_lock lock(mutex_);
    ended_.wait(lock, [&] { return done.load(); });
}

void headless_renderer::wake() {
    changed();
    ended_.notify_all();
}

}  // namespace qx::ui
