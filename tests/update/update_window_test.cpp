// The ECU Update dialog in a real (offscreen) window against the virtual ECU: each of its
// main states is saved as a screenshot, and Enter and Escape end it as its buttons do.
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include "ecusim/certificates.h"
#include "ecusim/usb_device.h"
#include "platform/ui/qt/dialog_window.h"
#include "platform/ui/qt/qt_renderer.h"
#include "tests/support/pak_writer.h"
#include "update/update_image_dlg.h"

namespace qx {
namespace {

namespace fs = std::filesystem;
namespace ts = qx::test_support;
namespace id = update_ids;

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

// Enter once the worker has enabled Done: a loaded machine may photograph the last stop first.
// Focus leaves the other buttons first: on a focused push button (Browse, once re-enabled)
// Enter presses that button, as in any dialog.
void press_enter_on_done(ui::qt::dialog_window& w) {
    QWidget* done = w.control(id::done);
    EXPECT_TRUE(QTest::qWaitFor([done] { return done && done->isEnabled(); }, 10000));
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
    const int result = run({when_main_lamp_red("ecu_update_identification_failure")},
                           [](ui::qt::dialog_window& w) { QTest::keyClick(&w, Qt::Key_Escape); });
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

}  // namespace
}  // namespace qx
