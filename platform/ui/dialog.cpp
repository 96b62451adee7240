#include "platform/ui/dialog.h"

#include <condition_variable>
#include <deque>
#include <iostream>
#include <mutex>
#include <thread>

namespace qx::ui {

// The event queue of one logic thread, shared by the dialogs that run on it.
class logic_loop {
public:
    // Notified under the lock: the event may end the last dialog of the loop, and the logic
    // thread destroys the loop as soon as it has run it.
    void post(dialog* d, std::function<void()> f) {
        std::lock_guard lock(mutex_);
        if (!d->running_) return;  // the dialog has ended: nothing more for it
        events_.push_back({d, std::move(f)});
        cv_.notify_one();
    }

    // Runs events until `d` has ended.
    void pump(dialog& d) {
        for (;;) {
            event e;
            {
                std::unique_lock lock(mutex_);
                cv_.wait(lock, [&] { return d.ended_ || !events_.empty(); });
                if (d.ended_) return;
                e = std::move(events_.front());
                events_.pop_front();
            }
            if (!e.target->running_ || e.target->ended_) continue;
            e.target->renderer_->busy(*e.target, true);
            try {
                e.run();
            } catch (const std::exception& ex) {
                // A handler must report its own failures; one that escapes is logged and dropped.
                std::cerr << "dialog " << e.target->template_.id << ": unhandled failure: " << ex.what() << '\n';
            }
            e.target->renderer_->busy(*e.target, false);
        }
    }

    void end(dialog& d) {
        std::lock_guard lock(mutex_);
        d.ended_ = true;
        cv_.notify_all();
    }

    // Forgets everything queued for `d`.
    void purge(dialog& d) {
        std::lock_guard lock(mutex_);
        d.running_ = false;
        std::erase_if(events_, [&](const event& e) { return e.target == &d; });
    }

    static thread_local logic_loop* current;

private:
    struct event {
        dialog* target = nullptr;
        std::function<void()> run;
    };
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<event> events_;
};

thread_local logic_loop* logic_loop::current = nullptr;

dialog::dialog(dialog_template t) : template_(std::move(t)), model_(template_) {}

dialog::~dialog() = default;

void dialog::register_device_notification(const std::string& interface_class) {
    notification_ = std::make_unique<platform::device_notification>(
        interface_class, [this](const device_event& e) { device_change(e); });
}

void dialog::unregister_device_notification() { notification_.reset(); }

int dialog::run_modal(renderer& r) {
    auto run_here = [this, &r](std::shared_ptr<logic_loop> loop) {
        loop_ = std::move(loop);
        renderer_ = &r;
        ended_ = false;
        running_ = true;
        // Queued before the dialog can be seen, so nothing a user does comes before it.
        loop_->post(this, [this] { on_init(); });
        r.show(*this);
        loop_->pump(*this);
        loop_->purge(*this);
        // A registration left behind (Escape, close box) ends with the run: no event may
        // reach a dialog that is gone.
        notification_.reset();
        on_end();
        r.hide(*this);
        return result_;
    };
    if (logic_loop* loop = logic_loop::current) {
        // Nested: share the caller's loop (it outlives this run).
        return run_here(std::shared_ptr<logic_loop>(loop, [](logic_loop*) {}));
    }
    std::atomic<bool> done{false};
    int result = 0;
    std::thread logic([&] {
        auto loop = std::make_shared<logic_loop>();
        logic_loop::current = loop.get();
        result = run_here(loop);
        logic_loop::current = nullptr;
        done = true;
        r.wake();
    });
    r.serve(done);
    logic.join();
    return result;
}

void dialog::post(std::function<void()> f) {
    // running_ first: once it reads true, loop_ as it was set before is seen from any thread.
    if (running_ && loop_) loop_->post(this, std::move(f));
}

void dialog::click(int id) {
    post([this, id] { on_command(id); });
}

void dialog::cancel() {
    post([this] { on_cancel(); });
}

void dialog::device_change(const device_event& e) {
    post([this, e] { on_device_change(e); });
}

void dialog::on_command(int id) {
    if (id == IDOK) on_ok();
    else if (id == IDCANCEL) on_cancel();
}

void dialog::end_dialog(int result) {
    result_ = result;
    if (loop_) loop_->end(*this);
}

int dialog::message_box(const std::string& text, const std::string& caption, unsigned style) {
    return renderer_->message_box(this, {caption, text, style, true});
}

}  // namespace qx::ui
