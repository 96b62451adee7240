#include "platform/ui/console_renderer.h"

#include <unistd.h>

#include <chrono>
#include <iostream>

#include "platform/ui/progress_text.h"

namespace qx::ui {

console_renderer::console_renderer(std::ostream& out, console_answers answers, std::ostream* progress)
    : out_(out),
      bar_(progress ? *progress : out),
      answers_(std::move(answers)),
      terminal_(&bar_ == &std::cout && ::isatty(STDOUT_FILENO)) {}

void console_renderer::watch_text(int dialog_id, int id, std::string label) {
    std::lock_guard lock(mutex_);
    labels_[{dialog_id, id}] = std::move(label);
}

void console_renderer::watch_progress(int dialog_id, int id) {
    std::lock_guard lock(mutex_);
    progress_[{dialog_id, id}] = true;
}

std::string console_renderer::last_text(int dialog_id, int id) const {
    std::lock_guard lock(mutex_);
    const auto it = last_.find({dialog_id, id});
    return it == last_.end() ? std::string() : it->second;
}

// Called with mutex_ held.
void console_renderer::line(const std::string& text) {
    if (bar_shown_) bar_ << "\r\033[K" << std::flush;
    bar_shown_ = false;
    out_ << text << std::endl;
}

void console_renderer::on_change(dialog& d, int id) {
    const std::pair key{d.layout().id, id};
    std::lock_guard lock(mutex_);
    if (const auto l = labels_.find(key); l != labels_.end()) {
        const std::string text = d.model().text(id);
        auto& last = last_[key];
        if (text != last) {
            last = text;
            // A control being emptied is no news: nothing to print.
            if (!text.empty()) line(l->second + ": " + text);
        }
    }
    if (terminal_ && progress_.count(key)) {
        const control_state s = d.model().state(id);
        // Each bar's clock starts again whenever it is back at its start (a new image, a new file).
        const auto now = std::chrono::steady_clock::now();
        auto& started = bar_started_[key];
        if (s.position <= s.range_low || started == std::chrono::steady_clock::time_point{}) started = now;
        const double elapsed = std::chrono::duration<double>(now - started).count();
        bar_ << "\r\033[K" << progress_text(s.range_low, s.range_high, s.position, elapsed) << std::flush;
        bar_shown_ = true;
    }
}

void console_renderer::show(dialog& d) {
    const int handle = d.model().add_listener([this, &d](int id) {
        if (id != 0) on_change(d, id);
    });
    std::lock_guard lock(mutex_);
    listeners_[&d] = handle;
}

void console_renderer::hide(dialog& d) {
    int handle = 0;
    {
        std::lock_guard lock(mutex_);
        handle = listeners_[&d];
        listeners_.erase(&d);
    }
    d.model().remove_listener(handle);
}

int console_renderer::message_box(dialog*, const message_box_request& r) {
    std::lock_guard lock(mutex_);
    line(r.caption + ": " + r.text);
    switch (r.buttons()) {
    case MB_YESNO: return answers_.yes ? IDYES : IDNO;
    case MB_OKCANCEL: return answers_.yes ? IDOK : IDCANCEL;
    default: return IDOK;
    }
}

std::optional<std::string> console_renderer::browse_folder(dialog&, const std::string&) { return answers_.folder; }

std::optional<std::string> console_renderer::choose_file(dialog&, const file_request&) { return answers_.file; }

int console_renderer::popup_menu(dialog&, const popup_menu_request&) { return -1; }

void console_renderer::serve(const std::atomic<bool>& done) {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return done.load(); });
    if (bar_shown_) bar_ << std::endl;
    bar_shown_ = false;
}

void console_renderer::wake() {
    { std::lock_guard lock(mutex_); }
    cv_.notify_all();
}

}  // namespace qx::ui
