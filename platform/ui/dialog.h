// The logic of a dialog: handlers that run one at a time on the dialog's logic thread, never
// on a renderer's GUI thread. A modal dialog opened from a handler runs nested on the same
// thread, its parent's handlers waiting as in any modal loop.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "platform/devnotify/device_event.h"
#include "platform/devnotify/device_notification.h"
#include "platform/ui/dialog_model.h"
#include "platform/ui/dialog_template.h"
#include "platform/ui/prompts.h"
#include "platform/ui/renderer.h"

namespace qx::ui {

using platform::device_event;

class dialog {
public:
    explicit dialog(dialog_template t);
    virtual ~dialog();
    dialog(const dialog&) = delete;
    dialog& operator=(const dialog&) = delete;

    const dialog_template& layout() const { return template_; }
    dialog_model& model() { return model_; }

    // Shows the dialog in `r` and returns its result once it ends. From a handler of another
    // dialog it runs nested; from any other thread it starts a logic thread and serves the
    // renderer on the calling thread meanwhile.
    int run_modal(renderer& r);
    bool running() const { return running_; }
    // The renderer it runs in; valid while it runs.
    renderer& ui() { return *renderer_; }

    // From renderers and workers (any thread): queued for the logic thread.
    void click(int id);
    void cancel();  // Escape or the close box
    void device_change(const device_event& e);
    void post(std::function<void()> f);
    // A close request (as the close box) queued behind what is pending.
    void post_close() { cancel(); }

protected:
    // Handlers.
    virtual void on_init() {}
    virtual void on_command(int id);
    virtual void on_ok() { end_dialog(IDOK); }
    virtual void on_cancel() { end_dialog(IDCANCEL); }
    virtual void on_device_change(const device_event&) {}
    // After the dialog ended, before run_modal returns: stop and join workers here.
    virtual void on_end() {}

    void end_dialog(int result);
    // Device-change events of an interface class reach on_device_change while registered.
    void register_device_notification(const std::string& interface_class);
    void unregister_device_notification();
    int message_box(const std::string& text, const std::string& caption, unsigned style = MB_OK);

private:
    friend class logic_loop;
    dialog_template template_;
    dialog_model model_;
    renderer* renderer_ = nullptr;
    std::atomic<bool> running_{false};
    bool ended_ = false;
    int result_ = 0;
    std::shared_ptr<class logic_loop> loop_;
    std::unique_ptr<platform::device_notification> notification_;
};

}  // namespace qx::ui
