// A renderer shows dialogs and answers prompts: Qt windows, the console, or a headless
// script for tests. Dialog logic never sees which one.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>

#include "platform/ui/prompts.h"

namespace qx::ui {

class dialog;

class renderer {
public:
    virtual ~renderer() = default;

    // The dialog starts (show) and ends (hide) its modal run; called on its logic thread.
    virtual void show(dialog& d) = 0;
    virtual void hide(dialog& d) = 0;
    // A handler of the dialog starts or ends (the busy cursor).
    virtual void busy(dialog&, bool) {}

    // Prompts block the calling thread (a handler or a worker) until answered.
    virtual int message_box(dialog* owner, const message_box_request& r) = 0;
    virtual std::optional<std::string> browse_folder(dialog& owner, const std::string& title) = 0;
    virtual std::optional<std::string> choose_file(dialog& owner, const file_request& r) = 0;
    // The chosen item's index, or -1.
    virtual int popup_menu(dialog& owner, const popup_menu_request& r) = 0;
    // A Yes (stop) / No question asked while the dialog's logic thread may be busy with its
    // work: it blocks neither that thread nor the caller's (a GUI thread). `answered` gets
    // true for Yes, at most once, and never after the dialog ended. Renderers that answer at
    // once (scripts) answer here.
    virtual void ask_stop(dialog& owner, const message_box_request& r, std::function<void(bool)> answered) {
        answered(message_box(&owner, r) == IDYES);
    }

    // Runs the renderer's own loop on the calling thread until `done` is set and wake() is
    // called. The headless and console renderers simply wait.
    virtual void serve(const std::atomic<bool>& done) = 0;
    virtual void wake() = 0;
};

}  // namespace qx::ui
