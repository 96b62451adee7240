// The launcher in real (offscreen) windows, served from the GUI thread as the program does:
// its look, a screenshot, and the error box of the USB file tool when no ECU is there.
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "app/app_images.h"
#include "app/launcher/velmar_flashdesk_app.h"
#include "app/launcher/velmar_flashdesk_dlg.h"
#include "platform/ui/qt/dialog_window.h"
#include "platform/ui/qt/qt_renderer.h"

namespace qx {
namespace {

namespace fs = std::filesystem;

QMessageBox* open_box() {
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(top); box && box->isVisible()) return box;
    return nullptr;
}

TEST(launcher_window, opens_in_a_real_window_saves_a_screenshot_and_shows_the_error_box) {
    ASSERT_TRUE(register_app_images());
    // No ECU: a registry of its own with nothing in it.
    std::string pattern = (fs::temp_directory_path() / "launcher_window_XXXXXX").string();
    const fs::path registry = ::mkdtemp(pattern.data());
    ::setenv("TRELINK_DEVICE_DIR", registry.c_str(), 1);

    ui::qt::qt_renderer r;
    CVelmar_FlashdeskApp app;
    const fs::path shots = FLASHDESK_SCREENSHOT_DIR;
    fs::create_directories(shots);
    const fs::path shot = shots / "velmar_flashdesk_launcher.png";
    fs::remove(shot);

    // The checks run from the GUI thread's event loop while init_instance serves it.
    enum { wait_window, wait_box, wait_closed, done } step = wait_window;
    ui::qt::dialog_window* window = nullptr;
    QString box_text, box_title;
    QMessageBox::Icon box_icon = QMessageBox::NoIcon;
    bool box_owned = true;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (step == wait_window) {
            const auto windows = r.windows();
            if (windows.empty() || !windows.front()->isVisible()) return;
            window = windows.front();
            if (!QTest::qWaitForWindowExposed(window, 5000)) return;
            window->grab().save(QString::fromStdString(shot.string()), "PNG");
            window->findChild<QPushButton*>(QStringLiteral("control_%1").arg(IDC_USB_FILE_TOOL))->click();
            step = wait_box;
        } else if (step == wait_box) {
            QMessageBox* box = open_box();
            if (box == nullptr) return;
            box_text = box->text();
            box_title = box->windowTitle();
            box_icon = box->icon();
            box_owned = box->parentWidget() != nullptr;
            box->button(QMessageBox::Ok)->click();
            step = wait_closed;
        } else if (step == wait_closed && open_box() == nullptr) {
            window->logic().cancel();
            step = done;
        }
    });
    // A run that goes wrong must still end.
    bool timed_out = false;
    QTimer::singleShot(30000, [&] {
        timed_out = true;
        if (QMessageBox* box = open_box()) box->done(0);
        for (auto* w : r.windows()) w->logic().cancel();
    });
    poll.start();
    const bool result = app.init_instance(r, tool_dialogs{});
    poll.stop();

    EXPECT_FALSE(timed_out);
    EXPECT_FALSE(result);
    EXPECT_EQ(step, done);
    EXPECT_TRUE(fs::exists(shot));
    EXPECT_GT(fs::file_size(shot), 0u);
    EXPECT_EQ(box_text, "The hardware is not in the correct mode.  The ECU needs to be strapped in full running mode.");
    EXPECT_EQ(box_title, "Error");
    EXPECT_EQ(box_icon, QMessageBox::Critical);
    EXPECT_FALSE(box_owned);
    fs::remove_all(registry);
    ::unsetenv("TRELINK_DEVICE_DIR");
}

TEST(launcher_window, shows_the_caption_icon_and_only_the_two_tool_buttons) {
    ASSERT_TRUE(register_app_images());
    connection_manager m;
    CVelmar_FlashdeskDlg launcher(m, {});
    ui::qt::dialog_window w(launcher, nullptr);
    EXPECT_EQ(w.windowTitle(), "Velmar_Flashdesk");
    ASSERT_FALSE(w.windowIcon().isNull());
    EXPECT_FALSE(w.windowIcon().pixmap(32, 32).toImage().isNull());
    auto button = [&](int id) { return qobject_cast<QPushButton*>(w.control(id)); };
    EXPECT_EQ(button(IDC_FIRMWARE_TOOL)->text(), "Firmware and ID tool");
    EXPECT_TRUE(button(IDC_FIRMWARE_TOOL)->isVisibleTo(&w));
    EXPECT_EQ(button(IDC_ECU_UPDATE)->text(), "ECU Update");
    EXPECT_TRUE(button(IDC_ECU_UPDATE)->isVisibleTo(&w));
    EXPECT_FALSE(button(IDC_USB_FILE_TOOL)->isVisibleTo(&w));
    EXPECT_FALSE(button(ui::IDOK)->isVisibleTo(&w));
    EXPECT_FALSE(button(ui::IDCANCEL)->isVisibleTo(&w));
}

}  // namespace
}  // namespace qx
