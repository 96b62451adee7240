// The renderer of the console front-end: chosen controls are printed as `label: TEXT` lines
// when their text changes, message boxes as `CAPTION: TEXT`, and a progress bar is drawn on
// a terminal; or, in another line format, each of them as a line of that format. Prompts are
// answered from the command line's options.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>

#include "platform/ui/dialog.h"
#include "platform/ui/renderer.h"

namespace qx::ui {

struct console_answers {
    bool yes = false;  // yes/no and OK/Cancel boxes answered yes/OK instead of no/Cancel
    std::optional<std::string> folder;
    std::optional<std::string> file;
};

// How the console renderer words what it prints, one line per event. This base is the text
// format: `label: TEXT`, `CAPTION: TEXT`, and progress as a bar on a terminal.
class console_format {
public:
    virtual ~console_format() = default;
    virtual std::string text_line(const std::string& label, const std::string& text) const;
    // answer: what the box was answered with (IDOK, IDYES, ...).
    virtual std::string message_line(const message_box_request& r, int answer) const;
    // True: progress is printed as lines (progress_line, at most one per percent per control)
    // and never drawn as a bar.
    virtual bool progress_lines() const { return false; }
    virtual std::string progress_line(const std::string& label, const control_state& s) const;
};

class console_renderer : public renderer {
public:
    // progress: where the bars go (else `out`); drawn only when that is std::cout on a terminal.
    // format: how the lines are worded (the text format when null); it must outlive the renderer.
    console_renderer(std::ostream& out, console_answers answers, std::ostream* progress = nullptr,
                     const console_format* format = nullptr);

    // Prints the text of control `id` of dialogs with resource `dialog_id` as `label: TEXT`
    // whenever it changes to a text that is not empty.
    void watch_text(int dialog_id, int id, std::string label);
    // Draws control `id` as a progress bar when the output is a terminal, or prints its
    // position as lines labelled `label` when the format wants lines.
    void watch_progress(int dialog_id, int id, std::string label = "progress");
    // The last text printed for a watched control (for the caller's exit decision).
    std::string last_text(int dialog_id, int id) const;
    // The text of the last message box shown; empty when there was none.
    std::string last_message() const;

    void show(dialog& d) override;
    void hide(dialog& d) override;
    int message_box(dialog* owner, const message_box_request& r) override;
    std::optional<std::string> browse_folder(dialog& owner, const std::string& title) override;
    std::optional<std::string> choose_file(dialog& owner, const file_request& r) override;
    int popup_menu(dialog& owner, const popup_menu_request& r) override;
    void serve(const std::atomic<bool>& done) override;
    void wake() override;

private:
    void on_change(dialog& d, int id);
    void line(const std::string& text);
    void progress_changed(const std::pair<int, int>& key, const std::string& label, const control_state& s);

    std::ostream& out_;
    std::ostream& bar_;
    const console_format& format_;
    console_answers answers_;
    bool terminal_ = false;
    bool bar_shown_ = false;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::map<std::pair<int, int>, std::string> labels_;
    std::map<std::pair<int, int>, std::string> last_;
    std::map<std::pair<int, int>, std::string> progress_;  // label of each watched bar
    // The last progress line of each bar: range and percent.
    std::map<std::pair<int, int>, std::tuple<int, int, int>> progress_printed_;
    std::string last_message_;
    std::map<std::pair<int, int>, std::chrono::steady_clock::time_point> bar_started_;
    std::map<dialog*, int> listeners_;
};

}  // namespace qx::ui
