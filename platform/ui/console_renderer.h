// The renderer of the console front-end: chosen controls are printed as `label: TEXT` lines
// when their text changes, message boxes as `CAPTION: TEXT`, and a progress bar is drawn on
// a terminal. Prompts are answered from the command line's options.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "platform/ui/dialog.h"
#include "platform/ui/renderer.h"

namespace qx::ui {

struct console_answers {
    bool yes = false;  // yes/no and OK/Cancel boxes answered yes/OK instead of no/Cancel
    std::optional<std::string> folder;
    std::optional<std::string> file;
};

class console_renderer : public renderer {
public:
    // progress: where the bars go (else `out`); drawn only when that is std::cout on a terminal.
    console_renderer(std::ostream& out, console_answers answers, std::ostream* progress = nullptr);

    // Prints the text of control `id` of dialogs with resource `dialog_id` as `label: TEXT`
    // whenever it changes to a text that is not empty.
    void watch_text(int dialog_id, int id, std::string label);
    // Draws control `id` as a progress bar when the output is a terminal.
    void watch_progress(int dialog_id, int id);
    // Every line printed so far (for the caller's exit decision).
    std::string last_text(int dialog_id, int id) const;

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

    std::ostream& out_;
    std::ostream& bar_;
    console_answers answers_;
    bool terminal_ = false;
    bool bar_shown_ = false;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::map<std::pair<int, int>, std::string> labels_;
    std::map<std::pair<int, int>, std::string> last_;
    std::map<std::pair<int, int>, bool> progress_;
    std::map<std::pair<int, int>, std::chrono::steady_clock::time_point> bar_started_;
    std::map<dialog*, int> listeners_;
};

}  // namespace qx::ui
