// The ECU Update dialog in a real (offscreen) window against the virtual ECU: each of its
// main states is saved as a screenshot, Enter and Escape end it as its buttons do, closing it
// while it works asks whether to stop, and Stop ends even a wait for an ECU that never answers.
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include "ecusim/certificates.h"
#include "ecusim/usb_device.h"
#include "platform/ui/qt/bitmap_registry.h"
#include "platform/ui/qt/dialog_window.h"
#include "platform/ui/qt/qt_renderer.h"
#include "tests/support/pak_writer.h"
#include "tests/support/window_driver.h"
#include "update/update_image_dlg.h"

namespace qx {
namespace {

namespace fs = std::filesystem;
namespace ts = qx::test_support;
namespace id = update_ids;
using namespace std::chrono_literals;

// The folder is chosen as soon as the dialog has opened.
class folder_update_dlg : public CUpdateImageDlg {
public:
    folder_update_dlg(connection_manager& c, options o, std::string folder)
        : CUpdateImageDlg(c, std::move(o)), folder_(std::move(folder)) {}

protected:
    void on_init() override {
        CUpdateImageDlg::on_init();
        choose_folder(folder_);
    }

private:
    std::string folder_;
};

// A state to photograph: the worker waits right after the change that reaches it.
struct stop {
    std::string shot;
    std::function<bool(ui::dialog_model&, int changed)> reached;
};

stop when_text(std::string shot, int control, std::string text) {
    return {std::move(shot), [control, text](ui::dialog_model& m, int changed) {
                return changed == control && m.text(control) == text;
            }};
}

stop when_main_lamp_red(std::string shot) {
    return {std::move(shot), [](ui::dialog_model& m, int changed) {
                return changed == id::main_lamp && m.bitmap(id::main_lamp) == lamp_red;
            }};
}

// Enter once the worker has ended (Browse is back): while it runs, Enter on Done asks whether
// to stop. Focus leaves the other buttons first: on a focused push button (Browse) Enter
// presses that button, as in any dialog.
void press_enter_on_done(ui::qt::dialog_window& w) {
    QWidget* done = w.control(id::done);
    QWidget* browse = w.control(id::browse);
    EXPECT_TRUE(QTest::qWaitFor([done, browse] { return done->isEnabled() && browse->isEnabled(); }, 10000));
    w.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&w, 5000));
    QWidget* edit = w.control(id::serial_number);
    edit->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(QTest::qWaitFor([edit] { return edit->hasFocus(); }, 5000)) << "focus stays elsewhere";
    for (QPushButton* b : w.findChildren<QPushButton*>())
        EXPECT_EQ(b->isDefault(), b == done) << b->text().toStdString() << " is the default button";
    QTest::keyClick(&w, Qt::Key_Return);
}

class update_window : public ::testing::Test {
protected:
    const std::string serial = "01020AFF";
    fs::path dir;
    const fs::path shots = FLASHDESK_SCREENSHOT_DIR;

    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "update_window_XXXXXX").string();
        dir = ::mkdtemp(pattern.data());
        const auto root = ecusim::certificates::root();
        ts::save_file((dir / "RootCertificate_tcert.der").string(), ts::bytes(root.begin(), root.end()));
        fs::create_directories(shots);
    }
    void TearDown() override { fs::remove_all(dir); }

    // The group file named after this ECU, with one package of each type made for `owner`.
    void write_group(const std::string& owner) {
        const auto cert = ecusim::certificates::package();
        ts::pak_group_spec g;
        g.serial_number = owner;
        for (std::uint32_t type = 0; type < 4; ++type) {
            ts::pak_spec spec = ts::sample_pak_spec(2, owner, type, 8, type + 1);
            spec.certificate.assign(cert.begin(), cert.end());
            g.entries.push_back(ts::group_entry(spec));
        }
        ts::save_file((dir / (serial + ".pakgrp")).string(), ts::write_pak_group(g).data);
    }

    // Opens the dialog and photographs it, plugs the ECU in, photographs each stop as the
    // worker reaches it, then `finish` ends the dialog from the GUI thread. The result of the
    // dialog's run.
    int run(std::vector<stop> stops, const std::function<void(ui::qt::dialog_window&)>& finish,
            const std::string& opened_shot = {}) {
        ecusim::ecu_config cfg;
        cfg.mode = ecusim::ecu_mode::boot;
        cfg.serial = *ecusim::parse_serial(serial);
        ecusim::virtual_ecu ecu(cfg);
        ecu.device().unplug();
        connection_manager manager;
        CUpdateImageDlg::options o;
        o.root_certificate_path = (dir / "RootCertificate_tcert.der").string();
        folder_update_dlg dlg(manager, o, dir.string());
        ui::qt::qt_renderer r;

        std::mutex mutex;
        std::condition_variable cv;
        std::size_t next = 0;
        bool paused = false;
        QThread* const gui = QThread::currentThread();
        auto pause_at_stops = [&](int changed) {
            if (QThread::currentThread() == gui) return;
            std::unique_lock lock(mutex);
            if (next >= stops.size() || !stops[next].reached(dlg.model(), changed)) return;
            paused = true;
            cv.wait(lock, [&] { return !paused; });
        };
        int listener = 0;
        bool plugged = false, finished = false;
        QTimer poll;
        poll.setInterval(10);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            const auto windows = r.windows();
            if (windows.empty() || finished) return;
            ui::qt::dialog_window& w = *windows.front();
            if (!plugged) {
                if (!QTest::qWaitForWindowExposed(&w, 5000)) return;
                // Registered after the window's own listener: a stop is already on its way to it.
                listener = dlg.model().add_listener(pause_at_stops);
                if (!opened_shot.empty()) save(w, opened_shot);
                plugged = true;
                ecu.device().plug();
                return;
            }
            {
                std::lock_guard lock(mutex);
                if (!paused) return;
            }
            save(w, stops[next].shot);
            {
                std::lock_guard lock(mutex);
                paused = false;
                ++next;
            }
            cv.notify_all();
            if (next == stops.size()) {
                finished = true;
                finish(w);
            }
        });
        QTimer::singleShot(60000, &poll, [&] {  // a run that goes wrong must still end
            {
                std::lock_guard lock(mutex);
                paused = false;
                next = stops.size();
            }
            cv.notify_all();
            dlg.cancel();
        });
        poll.start();
        const int result = dlg.run_modal(r);
        poll.stop();
        dlg.model().remove_listener(listener);
        EXPECT_EQ(next, stops.size()) << "stops reached";
        return result;
    }

    // The window as it shows the model's latest state.
    void save(ui::qt::dialog_window& w, const std::string& name) {
        QCoreApplication::sendPostedEvents();
        // Whole or not at all: the contact sheet may be reading the folder.
        const fs::path shot = shots / (name + ".png"), part = shots / (name + ".part.png");
        EXPECT_TRUE(w.grab().save(QString::fromStdString(part.string()), "PNG")) << name;
        fs::rename(part, shot);
        taken.push_back(shot);
        if (auto* text = qobject_cast<QLabel*>(w.control(id::progress_text))) progress_shown[name] = text->text();
    }

    std::vector<fs::path> taken;
    std::map<std::string, QString> progress_shown;

    // ---- A technician's script against the window (test_support::play) ----
    std::unique_ptr<ecusim::virtual_ecu> ecu_;
    std::unique_ptr<connection_manager> manager_;
    std::unique_ptr<folder_update_dlg> dlg_;
    std::unique_ptr<ui::qt::qt_renderer> renderer_;

    // The ECU (unplugged, with `faults`) and the dialog; `play` plugs the ECU in first.
    void prepare(const std::string& faults, std::chrono::milliseconds connect_pause = std::chrono::milliseconds(1000)) {
        ecusim::ecu_config cfg;
        cfg.mode = ecusim::ecu_mode::boot;
        cfg.serial = *ecusim::parse_serial(serial);
        cfg.faults = ecusim::fault_plan::parse(faults);
        ecu_ = std::make_unique<ecusim::virtual_ecu>(cfg);
        ecu_->device().unplug();
        manager_ = std::make_unique<connection_manager>();
        CUpdateImageDlg::options o;
        o.root_certificate_path = (dir / "RootCertificate_tcert.der").string();
        o.connect_pause = connect_pause;
        dlg_ = std::make_unique<folder_update_dlg>(*manager_, o, dir.string());
        renderer_ = std::make_unique<ui::qt::qt_renderer>();
    }
    int play(std::vector<ts::window_step> steps) {
        steps.insert(steps.begin(), {"the ECU plugged in", [] { return true; }, [this] { ecu_->device().plug(); }});
        return ts::play(*dlg_, *renderer_, std::move(steps));
    }
    ui::qt::dialog_window& win() { return *renderer_->window(*dlg_); }
    QString shown(int control) { return qobject_cast<QLabel*>(win().control(control))->text(); }
    bool enabled(int control) { return win().control(control)->isEnabled(); }
    bool lamp_shows(int control, int bitmap) {
        auto* l = qobject_cast<QLabel*>(win().control(control));
        return l->pixmap().toImage() == ui::qt::bitmap(bitmap, win().devicePixelRatioF()).toImage();
    }
    // The question a close asks while the dialog works.
    static QMessageBox* question() { return ts::shown_box(QString::fromUtf8(flash::programming_stop_question)); }
    ts::window_step answer(const char* button, const std::string& shot = {}) {
        return {std::string("the question, answered ") + button, [] { return question() != nullptr; }, [this, button, shot] {
                    if (!shot.empty()) ts::save_shot(win(), shots, shot, question());
                    ts::press(question(), QString::fromUtf8(button));
                }};
    }
    // Once the worker has ended, its work controls are back.
    ts::window_step when_work_ended(std::function<void()> act) {
        return {"the work ended", [this] { return enabled(id::browse) && !dlg_->working(); }, std::move(act)};
    }
};

TEST_F(update_window, an_update_from_opening_to_finish_and_enter_presses_done) {
    write_group(serial);
    const int result = run({when_text("ecu_update_ready", update_rows[3].status, "Ready."),
                            when_text("ecu_update_updating", id::progress_text, "Firmware Update Complete... (50%)"),
                            when_text("ecu_update_finished", id::main_status, "Safe to disconnect ECU.")},
                           press_enter_on_done, "ecu_update_opened");
    EXPECT_EQ(result, ui::IDOK);
    EXPECT_EQ(progress_shown["ecu_update_updating"], "Firmware Update Complete... (50%)");
    EXPECT_EQ(progress_shown["ecu_update_finished"], "Update Success! (100%)");
    EXPECT_EQ(taken.size(), 4u);
    for (const fs::path& shot : taken) EXPECT_GT(fs::file_size(shot), 0u) << shot;
}

TEST_F(update_window, an_ecu_without_its_group_file_fails_identification_and_escape_cancels) {
    const int result = run({when_main_lamp_red("ecu_update_identification_failure")}, [](ui::qt::dialog_window& w) {
        // Once the worker has ended: Escape while it runs asks first.
        QWidget* browse = w.control(id::browse);
        EXPECT_TRUE(QTest::qWaitFor([browse] { return browse->isEnabled(); }, 10000));
        QTest::keyClick(&w, Qt::Key_Escape);
    });
    EXPECT_EQ(result, ui::IDCANCEL);
    EXPECT_TRUE(fs::exists(shots / "ecu_update_identification_failure.png"));
}

TEST_F(update_window, a_group_of_another_ecu_fails_its_rows) {
    write_group("0A0B0C0D");
    const int result = run({when_main_lamp_red("ecu_update_row_failure")},
                           press_enter_on_done);
    EXPECT_EQ(result, ui::IDOK);
    EXPECT_TRUE(fs::exists(shots / "ecu_update_row_failure.png"));
}

// Escape while the images go in asks whether to stop; Continue lets the update end, and its
// result stays on screen. Nothing else may start meanwhile.
TEST_F(update_window, escape_during_an_update_asks_and_continue_keeps_the_result_on_screen) {
    write_group(serial);
    prepare("code=6:delay=30");  // every security exchange (keys, checks, blocks) takes 30 ms
    const int result = play({
        {"the update under way",
         [this] {
             // What the worker does now, not what the window shows a moment later.
             return dlg_->model().text(id::main_status) == "Updating ECU image(s).  Do not disconnect ECU until complete." &&
                    dlg_->model().text(id::progress_text).rfind("Updating Boot Loader", 0) == 0;
         },
         [this] {
             EXPECT_FALSE(enabled(id::browse));  // starts work: disabled while the worker runs
             QTest::keyClick(&win(), Qt::Key_Escape);
         }},
        answer("Continue", "ecu_update_stop_question"),
        {"the update's end", [this] { return shown(id::progress_text) == "Update Success! (100%)"; },
         [this] { EXPECT_EQ(shown(id::main_status), "Safe to disconnect ECU."); }},
        when_work_ended([this] {
            EXPECT_NE(renderer_->window(*dlg_), nullptr);  // still shown
            EXPECT_EQ(shown(id::progress_text), "Update Success! (100%)");
            press_enter_on_done(win());
        }),
    });
    EXPECT_EQ(result, ui::IDOK);
    for (const image_row_ids& row : update_rows) EXPECT_EQ(dlg_->model().text(row.status), "Loaded successfully.") << row.name;
}

// The ECU stops answering in the middle of the erase. The close box asks; Stop closes the link
// as an unplug would, the waiting read ends at once, and the window shows why it ended until
// the technician closes it.
TEST_F(update_window, stop_ends_a_read_the_ecu_never_answers_and_the_result_stays) {
    write_group(serial);
    prepare("code=4#1:mute");  // the first erase is never answered
    const auto asked = std::make_shared<std::chrono::steady_clock::time_point>();
    const int result = play({
        {"the erase under way", [this] { return shown(update_rows[0].status) == "Erasing Flash..."; },
         [this] { win().close(); }},
        answer("Stop"),
        {"the stop told", [this] { return shown(id::main_status) == update_stopped_text; },
         [this] {
             EXPECT_TRUE(lamp_shows(id::main_lamp, lamp_red));
             EXPECT_EQ(shown(update_rows[0].status), "Stopped by the technician.");
             EXPECT_TRUE(lamp_shows(update_rows[0].lamp, lamp_red));
             EXPECT_EQ(shown(id::progress_text), "Update Failure! (0%)");
         }},
        when_work_ended([this] {
            ts::save_shot(win(), shots, "ecu_update_stopped");
            QTest::keyClick(&win(), Qt::Key_Escape);
        }),
    });
    EXPECT_EQ(result, ui::IDCANCEL);
    EXPECT_FALSE(manager_->is_connected());
}

// Done while the worker still tries to connect asks too, and Stop ends the attempts.
TEST_F(update_window, done_during_the_connection_attempts_asks_and_stop_ends_them) {
    write_group(serial);
    prepare("code=0:status=1");  // no connection attempt succeeds
    const int result = play({
        {"an attempt made", [this] { return ecu_->device().inspect([](auto& m) { return m.state().commands; }) >= 1; },
         [this] { ts::click_control(win(), id::done); }},
        answer("Stop"),
        {"the stop told", [this] { return shown(id::main_status) == update_stopped_text; }, {}},
        when_work_ended([this] { ts::click_control(win(), id::done); }),
    });
    EXPECT_EQ(result, ui::IDOK);
    EXPECT_LT(ecu_->device().inspect([](auto& m) { return m.state().commands; }), 12u);
}

// No ECU answers any of the 12 attempts: the window says so, in red.
TEST_F(update_window, no_answer_is_told_in_red) {
    write_group(serial);
    prepare("code=0:status=1", 5ms);
    const int result = play({
        {"the attempts given up", [this] { return shown(id::main_status) == "No ECU answered after 12 connection attempts."; },
         [this] { EXPECT_TRUE(lamp_shows(id::main_lamp, lamp_red)); }},
        when_work_ended([this] {
            ts::save_shot(win(), shots, "ecu_update_no_answer");
            QTest::keyClick(&win(), Qt::Key_Escape);
        }),
    });
    EXPECT_EQ(result, ui::IDCANCEL);
    EXPECT_EQ(ecu_->device().inspect([](auto& m) { return m.state().commands; }), 12u);
}

}  // namespace
}  // namespace qx
