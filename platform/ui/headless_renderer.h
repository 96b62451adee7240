// The renderer of tests: no windows. It keeps the dialogs shown, records every prompt and
// answers from a script, and lets a test wait for a dialog's controls to reach a state.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/dialog.h"
#include "platform/ui/renderer.h"

namespace qx::ui {

class headless_renderer : public renderer {
public:
    struct prompt_record {
        std::string kind;  // "message", "folder", "file", "menu"
        std::string caption;
        std::string text;
        unsigned style = 0;
        bool owned = true;
    };

    // Scripted answers, taken in order; an unscripted message box gets IDOK (MB_OK),
    // IDCANCEL (MB_OKCANCEL) or IDNO (MB_YESNO); an unscripted folder or file prompt is cancelled.
    void answer_message(int answer);
    void answer_folder(std::optional<std::string> folder);
    void answer_file(std::optional<std::string> path);
    void answer_menu(int item);

    std::vector<prompt_record> prompts() const;
    // The dialogs shown, outermost first.
    std::vector<dialog*> shown() const;
    // Waits until pred holds (checked after every model change, prompt and show/hide).
    bool wait_until(const std::function<bool()>& pred, std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Waits until a dialog with that resource id is shown; nullptr on timeout.
    dialog* wait_for_dialog(int resource_id, std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Number of prompts recorded so far.
    std::size_t prompt_count() const;

    void show(dialog& d) override;
    void hide(dialog& d) override;
    int message_box(dialog* owner, const message_box_request& r) override;
    std::optional<std::string> browse_folder(dialog& owner, const std::string& title) override;
    std::optional<std::string> choose_file(dialog& owner, const file_request& r) override;
    int popup_menu(dialog& owner, const popup_menu_request& r) override;
    void serve(const std::atomic<bool>& done) override;
    void wake() override;

private:
    void changed();

    mutable std::mutex mutex_;
    std::condition_variable cv_;     // any change, for wait_until
    std::condition_variable ended_;  // wake(), for serve
    std::vector<dialog*> shown_;
    std::map<dialog*, int> listeners_;
    std::vector<prompt_record> prompts_;
    std::deque<int> message_answers_;
    std::deque<std::optional<std::string>> folder_answers_;
    std::deque<std::optional<std::string>> file_answers_;
    std::deque<int> menu_answers_;
};

}  // namespace qx::ui
