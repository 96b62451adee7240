// The Firmware and ID tool in a real (offscreen) window against the virtual ECU, driven with the
// mouse and keyboard: a click during a download starts nothing, closing during work asks and
// Stop ends even a wait for a silent ECU, the power-sequence download from the application, and
// a screenshot of each state.
#include <filesystem>
#include <memory>
#include <string>

#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QTest>

#include <gtest/gtest.h>

#include "core/connection_manager.h"
#include "ecusim/certificates.h"
#include "ecusim/ecu_options.h"
#include "ecusim/usb_device.h"
#include "imagetool/image_downloader_dlg.h"
#include "tests/support/pak_writer.h"
#include "tests/support/window_driver.h"

namespace qx {
namespace {

namespace fs = std::filesystem;
namespace ts = qx::test_support;
using namespace imagetool;

const std::string serial = "1A2B3C4D";  // the virtual ECU's

class tool_window : public ::testing::Test {
protected:
    const fs::path shots = FLASHDESK_SCREENSHOT_DIR;
    fs::path dir;
    std::unique_ptr<ecusim::virtual_ecu> ecu;
    std::unique_ptr<connection_manager> manager;
    std::unique_ptr<CImageDownloaderDlg> tool;
    std::unique_ptr<ui::qt::qt_renderer> renderer;

    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tool_window_XXXXXX").string();
        dir = ::mkdtemp(pattern.data());
    }
    void TearDown() override {
        tool.reset();
        manager.reset();
        ecu.reset();
        fs::remove_all(dir);
    }

    // The ECU as `ecusim usb OPTIONS` makes it, the manager connected to it or not, the tool.
    void prepare(const std::string& options, bool connect = true) {
        ecu = std::make_unique<ecusim::virtual_ecu>(ecusim::config_from_text(options));
        manager = std::make_unique<connection_manager>();
        if (connect) manager->connect();
        tool = std::make_unique<CImageDownloaderDlg>(*manager, ecusim::certificates::root());
        renderer = std::make_unique<ui::qt::qt_renderer>();
    }
    std::string write_package(std::uint32_t type, std::uint32_t blocks) {
        ts::pak_spec spec = ts::sample_pak_spec(2, serial, type, blocks);
        const auto cert = ecusim::certificates::package();
        spec.certificate.assign(cert.begin(), cert.end());
        const std::string path = (dir / ("type" + std::to_string(type) + ".pak")).string();
        ts::save_file(path, ts::write_pak(spec).data);
        return path;
    }
    ecusim::ecu_state state() { return ecu->device().inspect([](ecusim::ecu& e) { return e.state(); }); }

    ui::qt::dialog_window& win() { return *renderer->window(*tool); }
    bool enabled(int id) { return win().control(id)->isEnabled(); }
    int progress() { return qobject_cast<QProgressBar*>(win().control(IDC_PROGRESS))->value(); }

    // Select File, answered with `path`, until the package is shown.
    std::vector<ts::window_step> select(const std::string& path) {
        return {{"Select File", [this] { return enabled(IDC_SELECT_FILE); }, [this] { ts::click_control(win(), IDC_SELECT_FILE); }},
                {"the file chooser", [path] { return ts::choose_in_file_chooser(QString::fromStdString(path)); }, {}},
                {"the package shown",
                 [this, path] { return qobject_cast<QLineEdit*>(win().control(IDC_PAK_FILE))->text().toStdString() == path && tool->package_loaded(); },
                 {}}};
    }
    // A box with `text` shown: photographed (the window under it) when `shot` is given, then OK.
    ts::window_step box(const std::string& text, const std::string& shot = {}) {
        return {"the box \"" + text + "\"", [text] { return ts::shown_box(QString::fromStdString(text)) != nullptr; },
                [this, text, shot] {
                    QMessageBox* shown = ts::shown_box(QString::fromStdString(text));
                    if (!shot.empty()) ts::save_shot(win(), shots, shot, shown);
                    ts::press(shown, QStringLiteral("OK"));
                }};
    }
    // Once no work runs, the window is closed with Escape.
    ts::window_step close_when_idle() {
        return {"the work ended", [this] { return !tool->working() && enabled(IDC_SELECT_FILE); },
                [this] { QTest::keyClick(&win(), Qt::Key_Escape); }};
    }
    int play(std::vector<ts::window_step> steps) { return ts::play(*tool, *renderer, std::move(steps)); }
};

std::vector<ts::window_step> operator+(std::vector<ts::window_step> a, const std::vector<ts::window_step>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A fixed model goes in while "Erase Fixed Model" is clicked: nothing that starts work can be
// clicked until the download has ended, nothing runs after it, and then the buttons are back.
TEST_F(tool_window, a_click_during_a_download_starts_nothing_and_the_buttons_come_back) {
    prepare("--mode boot --faults code=6:delay=15");  // each security exchange takes 15 ms
    std::size_t erases_of_download = 0;
    const int result = play(
        select(write_package(flash::fixed_model, 24)) +
        std::vector<ts::window_step>{
            {"the package to download", [] { return true; },
             [this] {
                 ts::save_shot(win(), shots, "firmware_and_id_tool_boot_loader_with_package");
                 ts::click_control(win(), IDC_DOWNLOAD_FILE);
             }},
            {"blocks going in", [this] { return progress() > 4; },
             [this] {
                 for (int id : {IDC_SELECT_FILE, IDC_DOWNLOAD_FILE, IDC_ERASE_DYNAMIC_MODEL, IDC_ERASE_FIXED_MODEL})
                     EXPECT_FALSE(enabled(id)) << id;
                 ts::click_control(win(), IDC_ERASE_FIXED_MODEL);
                 EXPECT_FALSE(tool->user_click(IDC_ERASE_FIXED_MODEL));  // dropped, never queued
                 ts::save_shot(win(), shots, "firmware_and_id_tool_downloading");
             }},
            box("Firmware loaded succesfully", "firmware_and_id_tool_success"),
            {"the buttons back", [this] { return enabled(IDC_ERASE_FIXED_MODEL) && enabled(IDC_DOWNLOAD_FILE); },
             [this, &erases_of_download] { erases_of_download = state().erases.size(); }},
            close_when_idle(),
        });
    EXPECT_EQ(result, ui::IDCANCEL);
    const ecusim::ecu_state s = state();
    EXPECT_EQ(s.blocks.size(), 24u);
    EXPECT_EQ(s.erases.size(), erases_of_download);  // no erase ran after the download
    EXPECT_EQ(s.erases.size(), 2u + 2u + 7u);         // (external flash, dynamic model) twice, 7 fixed model
}

// The ECU stops answering during the erase: Escape asks, Stop ends the wait at once, the
// technician is told, and the window closes only after that.
TEST_F(tool_window, stop_ends_a_download_the_ecu_no_longer_answers) {
    prepare("--mode boot --faults code=4#2:mute");  // the second erase is never answered
    const int result = play(
        select(write_package(flash::fixed_model, 4)) +
        std::vector<ts::window_step>{
            {"Download File", [] { return true; }, [this] { ts::click_control(win(), IDC_DOWNLOAD_FILE); }},
            {"the silent erase", [this] { return state().erases.size() >= 1 && state().commands_by_code[4] >= 2; },
             [this] { QTest::keyClick(&win(), Qt::Key_Escape); }},
            {"the question, answered Stop",
             [] { return ts::shown_box(QString::fromUtf8(flash::programming_stop_question)) != nullptr; },
             [] { ts::press(ts::shown_box(QString::fromUtf8(flash::programming_stop_question)), QStringLiteral("Stop")); }},
            box("Download stopped by the technician.  The ECU is not fully programmed.", "firmware_and_id_tool_stopped"),
            close_when_idle(),
        });
    EXPECT_EQ(result, ui::IDCANCEL);
    EXPECT_TRUE(state().blocks.empty());
}

// A block the ECU refuses: the failure is told, the package stays loaded.
TEST_F(tool_window, a_refused_block_is_told) {
    prepare("--mode boot --faults code=6#6:rstatus=0x71000001");  // the first block
    const int result = play(
        select(write_package(flash::dynamic_model, 2)) +
        std::vector<ts::window_step>{
            {"Download File", [] { return true; }, [this] { ts::click_control(win(), IDC_DOWNLOAD_FILE); }},
            box("OnBnClickedButtonSecurityParsePak SECURITY_COMMAND SECURITY_TEST_FUNCTION_AES_DECRYPT_BLOCK_TO_MEMORY "
                "ERROR=71000001",
                "firmware_and_id_tool_failure"),
            close_when_idle(),
        });
    EXPECT_EQ(result, ui::IDCANCEL);
    EXPECT_TRUE(tool->package_loaded());
}

// Without an ECU: only what needs none is offered.
TEST_F(tool_window, without_an_ecu_only_the_package_choice_is_offered) {
    prepare("--mode boot", false);
    const int result = play({
        {"the window", [] { return true; },
         [this] {
             EXPECT_TRUE(enabled(IDC_SELECT_FILE));
             EXPECT_FALSE(enabled(IDC_DOWNLOAD_FILE));
             EXPECT_FALSE(enabled(IDC_POWERSEQ_DOWNLOAD));
             ts::save_shot(win(), shots, "firmware_and_id_tool_no_ecu");
             QTest::keyClick(&win(), Qt::Key_Escape);
         }},
    });
    EXPECT_EQ(result, ui::IDCANCEL);
}

// The whole power sequence from the window: the package is chosen with the application
// running, the ECU is reset, leaves, comes back in its boot loader and takes the package.
TEST_F(tool_window, the_power_sequence_downloads_a_package_chosen_with_the_application_running) {
    prepare("--mode app --replug-ms 200");
    const int result = play(
        select(write_package(flash::dynamic_model, 2)) +
        std::vector<ts::window_step>{
            {"PowerSeq Download", [this] { return enabled(IDC_POWERSEQ_DOWNLOAD); },
             [this] {
                 EXPECT_FALSE(enabled(IDC_DOWNLOAD_FILE));
                 ts::click_control(win(), IDC_POWERSEQ_DOWNLOAD);
             }},
            box("Firmware loaded succesfully"),
            box("OnBnClickedButtonImagedlPowerseqdlfile Firmware download successful ... please turn the ignition switch off",
                "firmware_and_id_tool_power_sequence_done"),
            {"the sequence ended", [] { return !CImageDownloaderDlg::power_sequence_running(); }, {}},
            close_when_idle(),
        });
    EXPECT_EQ(result, ui::IDCANCEL);
    const ecusim::ecu_state s = state();
    EXPECT_EQ(s.resets, 1u);
    EXPECT_EQ(s.mode, ecusim::ecu_mode::boot);
    EXPECT_EQ(s.blocks.size(), 2u);
}

}  // namespace
}  // namespace qx
