// The USB file tool in a real (offscreen) window against the virtual ECU's logs: the listing
// as the technician sees it (every name whole), a download from the list's context menu during
// which nothing else can start, and closing during work, which asks before it stops.
#include <QContextMenuEvent>
#include <QMessageBox>
#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

#include "core/connection_manager.h"
#include "ecusim/command_codes.h"
#include "ecusim/ecu_options.h"
#include "ecusim/usb_device.h"
#include "filetool/log_test_dlg.h"
#include "platform/ui/qt/quick_list.h"
#include "tests/filetool/log_fixture.h"
#include "tests/support/window_driver.h"

namespace qx::testing {
namespace {

namespace ts = qx::test_support;
using namespace filetool;

const QString stop_question = QStringLiteral("Work with the ECU is under way. Stop it now?");

class file_tool_window : public ::testing::Test {
protected:
    const std::filesystem::path shots = FLASHDESK_SCREENSHOT_DIR;
    scratch folder;
    std::unique_ptr<log_ecu> ecu;
    std::unique_ptr<LogTestDlg> tool;
    std::unique_ptr<ui::qt::qt_renderer> renderer;

    // An ECU in its application with the logs a workshop finds, `faults` injected.
    void prepare(const std::string& faults) {
        ecu = std::make_unique<log_ecu>(link_kind::usb, "--mode app", [&faults](ecusim::ecu_config& c) {
            auto add = [&c](std::string short_name, std::u16string long_name, std::size_t size, std::uint8_t attributes = 0x20) {
                c.log_files.push_back({std::move(short_name), std::move(long_name), attributes, pattern(size)});
            };
            add("ENGINE~1.CSV", u"Engine run 2024-03-01 morning shift.csv", 20000);
            add("ENGINE~2.CSV", u"Engine run 2024-03-01 afternoon shift.csv", 150000);
            add("CONFIG.CFG", u"config.cfg", 812);
            add("ARCHIVE", u"ARCHIVE", 0, 0x10);
            c.faults = ecusim::fault_plan::parse(faults);
        });
        tool = std::make_unique<LogTestDlg>(*ecu->manager);
        renderer = std::make_unique<ui::qt::qt_renderer>();
    }
    ui::qt::dialog_window& win() { return *renderer->window(*tool); }
    ui::qt::CQuickList& list() { return *qobject_cast<ui::qt::CQuickList*>(win().control(IDC_FILE_LIST)); }
    bool enabled(int id) { return win().control(id)->isEnabled(); }

    std::vector<ts::window_step> list_files() {
        return {{"GetDirectoryListing", [] { return true; }, [this] { ts::click_control(win(), IDC_GETDIRLISTING); }},
                {"the files listed", [this] { return list().row_count() == 4 && !tool->working(); }, {}}};
    }
    // A right click on `row`, "UploadToHost", saved as `path`.
    std::vector<ts::window_step> upload(int row, const std::string& path) {
        return {{"the context menu", [] { return true; },
                 [this, row] {
                     const QRect cell = list().cell_rect(row, 1);
                     QContextMenuEvent e(QContextMenuEvent::Mouse, cell.center(), list().viewport()->mapToGlobal(cell.center()));
                     QApplication::sendEvent(list().viewport(), &e);
                 }},
                {"UploadToHost", [] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr; },
                 [] {
                     auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                     menu->actions().front()->trigger();
                     menu->close();
                 }},
                {"the save chooser", [path] { return ts::choose_in_file_chooser(QString::fromStdString(path)); }, {}}};
    }
    int play(std::vector<ts::window_step> steps) { return ts::play(*tool, *renderer, std::move(steps)); }
};

std::vector<ts::window_step> operator+(std::vector<ts::window_step> a, const std::vector<ts::window_step>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The listing shows every name whole; a download runs from the context menu, and a click on
// GetDirectoryListing meanwhile starts nothing, then or later.
TEST_F(file_tool_window, lists_the_logs_whole_and_a_download_blocks_other_clicks) {
    prepare("code=39:delay=15");  // each read of a file takes 15 ms
    std::uint64_t listings = 0;
    const int result = play(
        list_files() +
        std::vector<ts::window_step>{
            {"the names whole", [] { return true; },
             [this, &listings] {
                 for (int row = 0; row < 4; ++row)
                     for (int column = 0; column < 3; ++column) {
                         const ui::cell_info c = list().cell(row, column);
                         const int room = list().columnWidth(column) - 4;
                         EXPECT_LE(list().fontMetrics().horizontalAdvance(QString::fromStdString(c.text)), room) << c.text;
                     }
                 ts::save_shot(win(), shots, "usb_file_tool_listing");
                 listings = ecu->commands_of(ecusim::cmd::log_get_directory_entry);
             }},
        } +
        upload(1, folder.path("afternoon.csv")) +
        std::vector<ts::window_step>{
            {"the download under way", [this] { return ecu->commands_of(ecusim::cmd::log_read_file) >= 3; },
             [this] {
                 EXPECT_FALSE(enabled(IDC_GETDIRLISTING));
                 EXPECT_FALSE(enabled(IDC_FORMAT_RAW));
                 ts::click_control(win(), IDC_GETDIRLISTING);
                 EXPECT_FALSE(tool->user_click(IDC_GETDIRLISTING));
                 ts::save_shot(win(), shots, "usb_file_tool_downloading");
             }},
            {"the file saved", [] { return ts::shown_box(QStringLiteral("File Saved Successfully !!!")) != nullptr; },
             [] { ts::press(ts::shown_box(QStringLiteral("File Saved Successfully !!!")), QStringLiteral("OK")); }},
            {"the work ended", [this] { return enabled(IDC_GETDIRLISTING) && !tool->working(); },
             [this] { QTest::keyClick(&win(), Qt::Key_Escape); }},
        });
    EXPECT_EQ(result, ui::IDCANCEL);
    EXPECT_EQ(ecu->commands_of(ecusim::cmd::log_get_directory_entry), listings);  // no listing after the download
    EXPECT_EQ(read_bytes(folder.path("afternoon.csv")), pattern(150000));
}

// The ECU falls silent in the middle of a download: the close box asks, Stop ends the wait at
// once and the failure is told before the window can close.
TEST_F(file_tool_window, stop_ends_a_download_the_ecu_no_longer_answers) {
    prepare("code=39#3:mute");  // the third read is never answered
    const int result = play(
        list_files() + upload(1, folder.path("afternoon.csv")) +
        std::vector<ts::window_step>{
            {"the silent read", [this] { return ecu->commands_of(ecusim::cmd::log_read_file) >= 3; },
             [this] { win().close(); }},
            {"the question, answered Stop", [] { return ts::shown_box(stop_question) != nullptr; },
             [] { ts::press(ts::shown_box(stop_question), QStringLiteral("Stop")); }},
            {"the failure told", [] { return ts::shown_box() != nullptr; },
             [] {
                 EXPECT_TRUE(ts::shown_box()->text().startsWith("LogTestDlg::OnBnClickedButtonLogtestReadandsave LOG_READ_FILE"))
                     << ts::shown_box()->text().toStdString();
                 ts::press(ts::shown_box(), QStringLiteral("OK"));
             }},
            {"the work ended", [this] { return ts::shown_box() == nullptr && !tool->working(); },
             [this] { QTest::keyClick(&win(), Qt::Key_Escape); }},
            // The link is closed: the logging the tool started cannot be stopped, and it says so.
            {"the closing told", [] { return ts::shown_box() != nullptr; },
             [] { ts::press(ts::shown_box(), QStringLiteral("OK")); }},
        });
    EXPECT_EQ(result, ui::IDCANCEL);
    EXPECT_FALSE(std::filesystem::exists(folder.path("afternoon.csv")));
}

}  // namespace
}  // namespace qx::testing
