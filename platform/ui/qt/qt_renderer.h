// The renderer of the desktop program: a real window per shown dialog. Construct it on the
// GUI thread (the QApplication's) after the application object. Model changes, busy states
// and prompts reach the GUI thread queued; a prompt blocks only the thread that raised it.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include <QObject>
#include <QPointer>

#include "platform/ui/dialog.h"
#include "platform/ui/renderer.h"

class QEventLoop;

namespace qx::ui::qt {

class dialog_window;

class qt_renderer : public renderer {
public:
    qt_renderer();
    ~qt_renderer() override;
    qt_renderer(const qt_renderer&) = delete;
    qt_renderer& operator=(const qt_renderer&) = delete;

    // The window of a shown dialog, or nullptr. GUI thread only.
    dialog_window* window(const dialog& d) const;
    // The windows shown, outermost first. GUI thread only.
    std::vector<dialog_window*> windows() const;

    void show(dialog& d) override;
    void hide(dialog& d) override;
    void busy(dialog& d, bool on) override;
    int message_box(dialog* owner, const message_box_request& r) override;
    std::optional<std::string> browse_folder(dialog& owner, const std::string& title) override;
    std::optional<std::string> choose_file(dialog& owner, const file_request& r) override;
    int popup_menu(dialog& owner, const popup_menu_request& r) override;
    void ask_stop(dialog& owner, const message_box_request& r, std::function<void(bool)> answered) override;
    // On the GUI thread: runs the Qt event loop until done. On any other thread: waits.
    void serve(const std::atomic<bool>& done) override;
    void wake() override;

private:
    struct shown_window {
        dialog* d = nullptr;
        QPointer<dialog_window> window;  // GUI thread only
        int listener = 0;
    };
    // Work for the GUI thread passes through a queue of our own under a std::mutex, so the
    // hand-over is ordered where ThreadSanitizer can see it (Qt's queue waits on futexes).
    template <class F>
    void post(F f);
    template <class F>
    void call(F f);  // on the GUI thread, waiting for it
    void run_posted();  // GUI thread
    template <class T, class Open>
    T ask(Open open);
    bool on_gui_thread() const;
    std::shared_ptr<shown_window> find(const dialog& d) const;
    QWidget* owner_widget(const dialog* d) const;

    QObject* context_;  // lives on the GUI thread; queued calls run in its name
    std::mutex posted_mutex_;
    std::deque<std::function<void()>> posted_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::shared_ptr<shown_window>> shown_;
    struct loop_entry {
        QEventLoop* loop;
        const std::atomic<bool>* done;
    };
    std::vector<loop_entry> loops_;  // GUI thread only
};

// Translates a file filter "PAK files (*.pak)|*.pak|All files (*.*)|*.*" to Qt's form.
QString qt_file_filter(const std::string& filter);

}  // namespace qx::ui::qt
