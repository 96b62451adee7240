// The dialog layer with the headless renderer: handlers on the logic thread, nested modal
// dialogs, workers changing the model, prompts, and device notifications from the registry.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <filesystem>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/devnotify/device_notification.h"
#include "platform/registry/device_registry.h"
#include "platform/ui/console_renderer.h"
#include "platform/ui/dialog.h"
#include "platform/ui/headless_renderer.h"
#include "platform/ui/progress_text.h"

namespace qx::ui {
namespace {

dialog_template small_template(int id) {
    return {id, "Small", 100, 50, 0,
            {{1, control_kind::default_button, "OK"},
             {2, control_kind::button, "Cancel"},
             {10, control_kind::button, "Open child"},
             {11, control_kind::label, "idle"},
             {12, control_kind::progress, ""}}};
}

class child_dialog : public dialog {
public:
    child_dialog() : dialog(small_template(200)) {}
    std::thread::id handler_thread;

protected:
    void on_init() override { handler_thread = std::this_thread::get_id(); }
};

class parent_dialog : public dialog {
public:
    parent_dialog() : dialog(small_template(100)) {}
    std::thread::id init_thread;
    int child_result = -1;
    std::thread::id child_thread;
    std::vector<device_event> events;

protected:
    void on_init() override {
        init_thread = std::this_thread::get_id();
        model().set_text(11, "ready");
    }
    void on_command(int id) override {
        if (id == 10) {
            child_dialog child;
            child_result = child.run_modal(ui());
            child_thread = child.handler_thread;
            model().set_text(11, "child closed");
            return;
        }
        dialog::on_command(id);
    }
    void on_device_change(const device_event& e) override {
        events.push_back(e);
        model().set_text(11, e.kind == device_event::arrival ? "arrived" : "removed");
    }
};

TEST(dialog, handlers_run_on_one_logic_thread_and_nested_dialogs_share_it) {
    headless_renderer r;
    parent_dialog d;
    int result = 0;
    std::thread runner([&] { result = d.run_modal(r); });
    ASSERT_TRUE(r.wait_until([&] { return d.running() && d.model().text(11) == "ready"; }));
    d.click(10);
    dialog* child = r.wait_for_dialog(200);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(r.shown().size(), 2u);
    child->click(IDOK);
    ASSERT_TRUE(r.wait_until([&] { return d.model().text(11) == "child closed"; }));
    EXPECT_EQ(d.child_result, IDOK);
    EXPECT_EQ(d.child_thread, d.init_thread);
    EXPECT_NE(d.init_thread, std::this_thread::get_id());
    d.cancel();
    runner.join();
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(r.shown().empty());
    // Events for a dialog that has ended are dropped, not run.
    d.click(10);
    EXPECT_EQ(r.shown().size(), 0u);
}

TEST(dialog, workers_change_the_model_from_any_thread) {
    headless_renderer r;
    parent_dialog d;
    std::thread runner([&] { d.run_modal(r); });
    ASSERT_TRUE(r.wait_until([&] { return d.running(); }));
    d.model().set_range(12, 0, 30);
    d.model().set_step(12, 10);
    std::thread worker([&] {
        for (int i = 0; i < 4; ++i) d.model().step_it(12);
    });
    worker.join();
    EXPECT_TRUE(r.wait_until([&] { return d.model().position(12) == 10; }));  // 40 wraps to 10
    EXPECT_THROW(d.model().set_text(999, "x"), std::out_of_range);
    d.cancel();
    runner.join();
}

TEST(headless_renderer, records_prompts_and_answers_from_the_script) {
    headless_renderer r;
    dialog d(small_template(1));
    r.answer_message(IDYES);
    r.answer_folder("/tmp/packages");
    EXPECT_EQ(r.message_box(&d, {"Question", "Go on?", MB_YESNO | MB_ICONQUESTION}), IDYES);
    EXPECT_EQ(r.message_box(&d, {"Question", "Again?", MB_YESNO}), IDNO);  // unscripted: no
    EXPECT_EQ(r.message_box(&d, {"Note", "Done.", MB_OK}), IDOK);
    EXPECT_EQ(r.browse_folder(d, "Choose"), std::optional<std::string>("/tmp/packages"));
    EXPECT_EQ(r.browse_folder(d, "Choose"), std::nullopt);
    const auto p = r.prompts();
    ASSERT_EQ(p.size(), 5u);
    EXPECT_EQ(p[0].caption, "Question");
    EXPECT_EQ(p[0].style, MB_YESNO | MB_ICONQUESTION);
    EXPECT_EQ(p[3].kind, "folder");
}

// The terminal's progress bar: cells and percentage always, rate and time left once measurable.
TEST(console_renderer, progress_text_shows_share_rate_and_time_left) {
    const std::string empty(40, '.');
    const struct {
        int low, high, position;
        double elapsed;
        std::string text;
    } cases[] = {
        {0, 200, 0, 0.0, "[" + empty + "]   0%"},
        {0, 200, 50, 2.0, "[" + std::string(10, '#') + std::string(30, '.') + "]  25%  12.5 %/s  6 s left"},
        {0, 200, 50, 0.1, "[" + std::string(10, '#') + std::string(30, '.') + "]  25%"},  // too soon to tell
        {10, 20, 20, 9.0, "[" + std::string(40, '#') + "] 100%"},
        {0, 0, 5, 3.0, "[" + empty + "]   0%"},        // no range
        {0, 100, 150, 3.0, "[" + std::string(40, '#') + "] 100%"},  // past the end
    };
    for (const auto& c : cases)
        EXPECT_EQ(progress_text(c.low, c.high, c.position, c.elapsed), c.text) << c.position << "/" << c.high;
}

TEST(console_renderer, prints_watched_texts_once_per_change_and_message_boxes) {
    std::ostringstream out;
    console_renderer r(out, {});
    parent_dialog d;
    r.watch_text(100, 11, "main");
    std::thread runner([&] { d.run_modal(r); });
    // The first handler sets "ready"; the same text again prints nothing.
    while (r.last_text(100, 11) != "ready") std::this_thread::yield();
    d.model().set_text(11, "ready");
    d.model().set_text(11, "two  blanks.");
    r.message_box(&d, {"ERROR!", "No root certificate found.  Cannot continue.", MB_OK});
    d.cancel();
    runner.join();
    EXPECT_EQ(out.str(), "main: ready\nmain: two  blanks.\nERROR!: No root certificate found.  Cannot continue.\n");
}

// A line format with progress lines: one when a bar reaches another percent (back at its start
// included) or range, never one per step.
TEST(console_renderer, progress_lines_come_once_per_percent) {
    struct position_lines : console_format {
        bool progress_lines() const override { return true; }
        std::string progress_line(const std::string& label, const control_state& s) const override {
            return label + " " + std::to_string(s.position) + "/" + std::to_string(s.range_high);
        }
    } format;
    std::ostringstream out;
    console_renderer r(out, {}, nullptr, &format);
    parent_dialog d;
    r.watch_text(100, 11, "main");
    r.watch_progress(100, 12, "bar");
    std::thread runner([&] { d.run_modal(r); });
    while (r.last_text(100, 11) != "ready") std::this_thread::yield();
    d.model().set_range(12, 0, 1000);
    for (int p = 0; p <= 1000; ++p) d.model().set_position(12, p);
    d.model().set_position(12, 0);
    d.cancel();
    runner.join();
    std::vector<std::string> lines;
    std::istringstream in(out.str());
    for (std::string l; std::getline(in, l);)
        if (l.starts_with("bar ")) lines.push_back(l);
    ASSERT_EQ(lines.size(), 102u) << out.str();
    EXPECT_EQ(lines[0], "bar 0/1000");
    EXPECT_EQ(lines[1], "bar 10/1000");
    EXPECT_EQ(lines[100], "bar 1000/1000");
    EXPECT_EQ(lines[101], "bar 0/1000");
}

// A device socket in a registry of the test's own.
class registry_folder {
public:
    registry_folder() {
        std::string t = (std::filesystem::temp_directory_path() / "devnotify-XXXXXX").string();
        root_ = ::mkdtemp(t.data());
        ::setenv("TRELINK_DEVICE_DIR", root_.c_str(), 1);
    }
    ~registry_folder() {
        ::unsetenv("TRELINK_DEVICE_DIR");
        std::filesystem::remove_all(root_);
    }
    std::string plug(const std::string& name) {
        const std::string path = platform::registry_class_dir(platform::ecu_interface_class) + "/" + name;
        fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        return path;
    }
    void unplug(const std::string& path) {
        ::unlink(path.c_str());
        ::close(fd_);
    }

private:
    std::string root_;
    int fd_ = -1;
};

class watching_dialog : public parent_dialog {
protected:
    void on_init() override {
        parent_dialog::on_init();
        register_device_notification(std::string(platform::ecu_interface_class));
        model().set_text(11, "watching");
    }
};

TEST(device_notification, arrival_and_removal_of_a_registry_socket_reach_the_dialog) {
    registry_folder reg;
    headless_renderer r;
    watching_dialog d;
    std::thread runner([&] { d.run_modal(r); });
    ASSERT_TRUE(r.wait_until([&] { return d.model().text(11) == "watching"; }));
    // A file that is not a socket is no device.
    std::ofstream(platform::registry_class_dir(platform::ecu_interface_class) + "/note.txt") << "x";
    const std::string path = reg.plug("ecu0");
    ASSERT_TRUE(r.wait_until([&] { return d.model().text(11) == "arrived"; }));
    reg.unplug(path);
    ASSERT_TRUE(r.wait_until([&] { return d.model().text(11) == "removed"; }));
    d.cancel();
    runner.join();
    ASSERT_GE(d.events.size(), 2u);
    EXPECT_EQ(d.events[0].kind, device_event::arrival);
    EXPECT_EQ(d.events[0].device_type, 5u);
    EXPECT_EQ(d.events[0].interface_class, std::string(platform::ecu_interface_class));
    EXPECT_EQ(d.events[0].path, path);
}

// A registry folder that others may write is refused by name, not watched (nor reported as a
// folder inotify could not find), and so is a socket of another user arriving in ours.
TEST(device_notification, refuses_a_registry_others_may_write_and_ignores_foreign_sockets) {
    registry_folder reg;
    const std::string root = std::getenv("TRELINK_DEVICE_DIR");
    ::chmod(root.c_str(), 0777);
    try {
        platform::device_notification watch(std::string(platform::ecu_interface_class), [](const device_event&) {});
        ADD_FAILURE() << "watching a folder others may write";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Device registry refused: " + root +
                                             " is writable by its group or by others (mode 0777).");
    }
    if (::geteuid() != 0) return;  // giving a socket to another user needs root
    ::chmod(root.c_str(), 0700);
    std::vector<std::string> arrived;
    std::mutex m;
    std::condition_variable cv;
    platform::device_notification watch(std::string(platform::ecu_interface_class), [&](const device_event& e) {
        std::lock_guard lock(m);
        if (e.kind == device_event::arrival) arrived.push_back(e.path);
        cv.notify_all();
    });
    // Another user's socket, made beside the class folder and moved in whole.
    const std::string foreign = root + "/ecu9";
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, foreign.c_str(), sizeof a.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::lchown(foreign.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::rename(foreign.c_str(), (platform::registry_class_dir(platform::ecu_interface_class) + "/ecu9").c_str()), 0);
    const std::string own = reg.plug("ecu0");
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return !arrived.empty(); }));
    EXPECT_EQ(arrived, std::vector<std::string>{own});
    ::close(fd);
}

}  // namespace
}  // namespace qx::ui
