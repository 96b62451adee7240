#include "platform/ui/console_renderer.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iostream>

#include "platform/ui/progress_text.h"

namespace qx::ui {

std::string console_format::text_line(const std::string& label, const std::string& text) const {
    return label + ": " + text;
}

std::string console_format::message_line(const message_box_request& r, int) const { return r.caption + ": " + r.text; }

std::string console_format::progress_line(const std::string&, const control_state&) const { return {}; }

namespace {

const console_format text_format;

}  // namespace

console_renderer::console_renderer(std::ostream& out, console_answers answers, std::ostream* progress,
                                   const console_format* format)
    : out_(out),
      bar_(progress ? *progress : out),
      format_(format ? *format : text_format),
      answers_(std::move(answers)),
      terminal_(&bar_ == &std::cout && ::isatty(STDOUT_FILENO) && !format_.progress_lines()) {}

void console_renderer::watch_text(int dialog_id, int id, std::string label) {
    std::lock_guard lock(mutex_);
    labels_[{dialog_id, id}] = std::move(label);
}

void console_renderer::watch_progress(int dialog_id, int id, std::string label) {
    std::lock_guard lock(mutex_);
    progress_[{dialog_id, id}] = std::move(label);
}

std::string console_renderer::last_text(int dialog_id, int id) const {
    std::lock_guard lock(mutex_);
    const auto it = last_.find({dialog_id, id});
    return it == last_.end() ? std::string() : it->second;
}

std::string console_renderer::last_message() const {
    std::lock_guard lock(mutex_);
    return last_message_;
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
            if (!text.empty()) line(format_.text_line(l->second, text));
        }
    }
    if (const auto p = progress_.find(key); p != progress_.end()) progress_changed(key, p->second, d.model().state(id));
}

// Called with mutex_ held.
void console_renderer::progress_changed(const std::pair<int, int>& key, const std::string& label, const control_state& s) {
    if (format_.progress_lines()) {
        // One line per percent: a bar moved block by block would flood the stream.
        const long long span = (long long)s.range_high - s.range_low;
        const long long done = std::clamp((long long)s.position - s.range_low, 0LL, std::max(span, 0LL));
        const int percent = span > 0 ? int(done * 100 / span) : 0;
        const std::tuple printed{s.range_low, s.range_high, percent};
        const auto last = progress_printed_.find(key);
        if (last != progress_printed_.end() && last->second == printed) return;
        progress_printed_[key] = printed;
        line(format_.progress_line(label, s));
        return;
    }
    if (terminal_) {
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
    const int answer = r.buttons() == MB_YESNO      ? (answers_.yes ? IDYES : IDNO)
                       : r.buttons() == MB_OKCANCEL ? (answers_.yes ? IDOK : IDCANCEL)
                                                    : IDOK;
    std::lock_guard lock(mutex_);
    last_message_ = r.text;
    line(format_.message_line(r, answer));
    return answer;
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
