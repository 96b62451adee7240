// The logic of a dialog: handlers that run one at a time on the dialog's logic thread, never
// on a renderer's GUI thread. A modal dialog opened from a handler runs nested on the same
// thread, its parent's handlers waiting as in any modal loop.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>

#include "platform/devnotify/device_event.h"
#include "platform/devnotify/device_notification.h"
#include "platform/ui/cell_info.h"
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

    // From code (any thread): queued for the logic thread, whatever runs (what the user does
    // comes through user_click and user_close below).
    void click(int id);
    void cancel();  // a close, as Escape or the close box
    void device_change(const device_event& e);
    // False when the dialog does not run: nothing was queued.
    bool post(std::function<void()> f);
    // A close request (as the close box) queued behind what is pending.
    void post_close() { cancel(); }

    // ---- Work ----
    // One piece of the dialog's work (a worker, or what a click started), held as long as it
    // runs, on any thread. While any is held the dialog is working.
    class work_hold {
    public:
        work_hold() = default;
        work_hold(work_hold&& o) noexcept : d_(std::exchange(o.d_, nullptr)) {}
        work_hold& operator=(work_hold&& o) noexcept;
        work_hold(const work_hold&) = delete;
        work_hold& operator=(const work_hold&) = delete;
        ~work_hold() { release(); }
        void release();
        explicit operator bool() const { return d_ != nullptr; }

    private:
        friend class dialog;
        explicit work_hold(dialog* d) : d_(d) {}
        dialog* d_ = nullptr;
    };
    work_hold begin_work();
    // Requested when the user chose Stop for the work running now (each stretch of work, from
    // the first hold or pending click to the end of the last, has a token of its own).
    std::stop_token work_stop_token() const;
    // Work runs, or a click that starts work waits for its handler. Meanwhile the renderers
    // show the controls that start work disabled, a user's click on one is dropped (never
    // queued to run later) and a user's close asks the stop question instead of closing.
    bool working() const;
    // Whether a click on control `id` starts work: buttons, check boxes and radio buttons,
    // except the buttons that close (OK, Cancel).
    bool starts_work(int id) const;

    // What the user does in a renderer's window (any thread). A click on a control that starts
    // work is dropped while the dialog works; otherwise `admitted` runs at once on the calling
    // thread (a check box takes its new state there) and the handler is queued, holding work
    // while it runs. True when admitted.
    bool user_click(int id, const std::function<void()>& admitted = {});
    // Escape or the close box (id 0), or a closing button (OK, Cancel, e.g. "Done"): asks the
    // stop question while the dialog works, else closes as the handlers decide.
    void user_close(int id = 0);
    // A right click on a list row: dropped while the dialog works.
    void user_context_menu(int list_id, int item);
    // The question a close asks while work runs (Stop / Continue); empty: such a close is
    // refused without a question.
    virtual std::string stop_question() const { return {}; }
    // The user chose Stop: on_stop runs, once for the work running now, on the calling thread.
    // Nothing happens when no work runs any more.
    void stop_work();

    // List controls. The two questions are answered at once on the asking thread (a GUI
    // thread): their handlers must be thread-safe. The notifications are queued.
    virtual void on_get_cell_info(int list_id, cell_info& record) { (void)list_id, (void)record; }
    // true cancels the edit; `text` may be changed to what the editor starts with.
    virtual bool on_begin_edit(int list_id, int item, int subitem, std::string& text) {
        (void)list_id, (void)item, (void)subitem, (void)text;
        return false;
    }
    void cell_clicked(int list_id, const cell_click& c) { post([this, list_id, c] { on_cell_clicked(list_id, c); }); }
    void read_only_double_click(int list_id, const cell_click& c) {
        post([this, list_id, c] { on_read_only_double_click(list_id, c); });
    }
    void edit_lost_focus(int list_id) { post([this, list_id] { on_edit_lost_focus(list_id); }); }
    // `text` empty: the edit was cancelled (Escape).
    void end_edit(int list_id, int item, int subitem, std::optional<std::string> text) {
        post([this, list_id, item, subitem, text] { on_end_edit(list_id, item, subitem, text); });
    }
    // A right click on a list row (the context menu), with the row (-1 for none).
    void context_menu(int list_id, int item) { post([this, list_id, item] { on_context_menu(list_id, item); }); }

protected:
    // Handlers.
    virtual void on_init() {}
    virtual void on_command(int id);
    virtual void on_ok() { end_dialog(IDOK); }
    virtual void on_cancel() { end_dialog(IDCANCEL); }
    virtual void on_device_change(const device_event&) {}
    virtual void on_cell_clicked(int, const cell_click&) {}
    virtual void on_read_only_double_click(int, const cell_click&) {}
    virtual void on_edit_lost_focus(int) {}
    virtual void on_end_edit(int, int, int, const std::optional<std::string>&) {}
    virtual void on_context_menu(int, int) {}
    // After the dialog ended, before run_modal returns: stop and join workers here.
    virtual void on_end() {}
    // Stop was chosen while work runs: make it end as soon as it can, a wait for the ECU
    // included. Runs on the thread that chose (a renderer's GUI thread), never blocks, never
    // after the work ended; takes no lock that is held while work begins or ends.
    virtual void on_stop() {}

    void end_dialog(int result);
    // Device-change events of an interface class reach on_device_change while registered.
    void register_device_notification(const std::string& interface_class);
    void unregister_device_notification();
    // On the dialog's thread: a registration is in place.
    bool device_notification_registered() const { return notification_ != nullptr; }
    int message_box(const std::string& text, const std::string& caption, unsigned style = MB_OK);

private:
    friend class logic_loop;
    void end_work();
    void new_stretch();
    void publish_work();
    void ask_stop();

    dialog_template template_;
    dialog_model model_;
    renderer* renderer_ = nullptr;
    std::atomic<bool> running_{false};
    bool ended_ = false;
    int result_ = 0;
    std::shared_ptr<class logic_loop> loop_;
    std::unique_ptr<platform::device_notification> notification_;

    mutable std::mutex work_mutex_;
    int work_holds_ = 0;
    bool click_pending_ = false;  // a user's click that starts work waits for its handler
    bool stop_sent_ = false;      // on_stop ran for the work running now
    std::stop_source work_stop_;  // of the work running now
    std::mutex publish_mutex_;    // the model's work flag follows the latest state
    std::atomic<bool> asking_{false};
};

}  // namespace qx::ui
