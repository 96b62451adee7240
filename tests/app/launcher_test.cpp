// The launcher headless: start-up without an ECU, the mode checks against a virtual ECU,
// the root certificate handed to the Firmware and ID tool, and the error box.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "app/launcher/error_box.h"
#include "app/launcher/root_certificate.h"
#include "app/launcher/velmar_flashdesk_app.h"
#include "app/launcher/velmar_flashdesk_dlg.h"
#include "ecusim/ecu_options.h"
#include "ecusim/usb_device.h"
#include "platform/registry/device_registry.h"
#include "platform/ui/headless_renderer.h"

namespace qx {
namespace {

namespace fs = std::filesystem;
using ui::headless_renderer;

const std::string mode_warning =
    "The hardware is not in the correct mode for a full firmware upgrade. Features will be disabled.";
const std::string mode_message =
    "The hardware is not in the correct mode.  The ECU needs to be strapped in full running mode.";
const std::string certificate_missing = "Failed to open Root certificate: RootCertificate_tcert.der";

constexpr int tool_update = 901, tool_image = 902, tool_log = 903;

// A fresh folder, removed afterwards.
struct temp_dir {
    fs::path path;
    temp_dir() {
        std::string pattern = (fs::temp_directory_path() / "launcher_test_XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~temp_dir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

// A device registry with nothing plugged in, for as long as it lives.
struct empty_registry {
    temp_dir dir;
    std::optional<std::string> previous;
    empty_registry() {
        if (const char* p = std::getenv("TRELINK_DEVICE_DIR")) previous = p;
        ::setenv("TRELINK_DEVICE_DIR", dir.path.c_str(), 1);
    }
    ~empty_registry() {
        if (previous) ::setenv("TRELINK_DEVICE_DIR", previous->c_str(), 1);
        else ::unsetenv("TRELINK_DEVICE_DIR");
    }
};

std::vector<std::uint8_t> pattern_bytes(std::size_t n, unsigned seed) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>((i * 7 + i / 4096 + seed) & 0xFF);
    return v;
}

void write_file(const fs::path& p, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class tool_stub : public ui::dialog {
public:
    explicit tool_stub(int id) : dialog({id, "tool", 100, 50, 0, {{11, ui::control_kind::label, ""}}}) {}
};

// Factories that record what the launcher hands them and open a small stand-in dialog.
struct recorded_tools {
    std::mutex mutex;
    int update_calls = 0, image_calls = 0, log_calls = 0;
    std::vector<std::uint8_t> certificate;
    connection_manager* manager = nullptr;

    tool_dialogs make() {
        tool_dialogs t;
        t.update = [this](connection_manager& c) {
            std::lock_guard lock(mutex);
            ++update_calls;
            manager = &c;
            return std::make_unique<tool_stub>(tool_update);
        };
        t.image_downloader = [this](connection_manager& c, std::span<const std::uint8_t> cert) {
            std::lock_guard lock(mutex);
            ++image_calls;
            manager = &c;
            certificate.assign(cert.begin(), cert.end());
            return std::make_unique<tool_stub>(tool_image);
        };
        t.log_test = [this](connection_manager& c) {
            std::lock_guard lock(mutex);
            ++log_calls;
            manager = &c;
            return std::make_unique<tool_stub>(tool_log);
        };
        return t;
    }
};

// The launcher on its own logic thread, over a given connection manager.
class launcher_fixture : public ::testing::Test {
protected:
    headless_renderer r;
    recorded_tools tools;
    temp_dir certificates;
    std::unique_ptr<CVelmar_FlashdeskDlg> launcher;
    std::thread runner;
    int result = 0;

    void open(connection_manager& m, std::optional<tool_dialogs> factories = std::nullopt) {
        launcher = std::make_unique<CVelmar_FlashdeskDlg>(m, factories ? *factories : tools.make());
        launcher->certificate_file = certificates.path / "RootCertificate_tcert.der";
        runner = std::thread([this] { result = launcher->run_modal(r); });
        ASSERT_NE(r.wait_for_dialog(IDD_VELMAR_FLASHDESK_DIALOG), nullptr);
    }
    void TearDown() override {
        if (runner.joinable()) {
            for (ui::dialog* d : r.shown()) d->cancel();  // innermost ends first
            EXPECT_TRUE(r.wait_until([&] { return r.shown().size() <= 1; }));
            launcher->cancel();
            runner.join();
        }
    }
    void certificate(const std::vector<std::uint8_t>& bytes) { write_file(launcher->certificate_file, bytes); }
    // Clicks and waits until the click's handler has finished (a marker queued behind it).
    void click_and_settle(int id) {
        const std::string marker = "settled " + std::to_string(++clicks_);
        launcher->click(id);
        launcher->post([this, marker] { launcher->model().set_text(ui::IDOK, marker); });
        ASSERT_TRUE(r.wait_until([&] { return launcher->model().text(ui::IDOK) == marker; }));
    }
    std::vector<std::string> prompt_texts() const {
        std::vector<std::string> out;
        for (const auto& p : r.prompts()) out.push_back(p.text);
        return out;
    }

private:
    int clicks_ = 0;
};

class launcher_without_ecu : public launcher_fixture {
protected:
    empty_registry registry;
    connection_manager manager;
};

class launcher_on_ecu : public launcher_fixture {
protected:
    std::unique_ptr<ecusim::virtual_ecu> ecu;
    std::unique_ptr<connection_manager> manager;
    connection_manager& connected(const std::string& options) {
        ecu = std::make_unique<ecusim::virtual_ecu>(ecusim::config_from_text(options));
        manager = std::make_unique<connection_manager>();
        manager->connect();
        return *manager;
    }
    void TearDown() override {
        launcher_fixture::TearDown();
        manager.reset();
        ecu.reset();
    }
};

TEST_F(launcher_without_ecu, firmware_tool_warns_about_the_mode_then_opens_with_the_certificate) {
    open(manager);
    const auto bytes = pattern_bytes(1234, 1);
    certificate(bytes);
    launcher->click(IDC_FIRMWARE_TOOL);
    ASSERT_NE(r.wait_for_dialog(tool_image), nullptr);
    ASSERT_EQ(r.prompts().size(), 1u);
    const auto box = r.prompts()[0];
    EXPECT_EQ(box.kind, "message");
    EXPECT_EQ(box.text, mode_warning);
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(box.style, ui::MB_OK | ui::MB_ICONSTOP);
    EXPECT_FALSE(box.owned);
    std::lock_guard lock(tools.mutex);
    EXPECT_EQ(tools.certificate, bytes);
    EXPECT_EQ(tools.manager, &manager);
}

TEST_F(launcher_without_ecu, firmware_tool_without_a_certificate_file_reports_it_and_does_not_open) {
    open(manager);
    click_and_settle(IDC_FIRMWARE_TOOL);
    EXPECT_EQ(prompt_texts(), (std::vector<std::string>{mode_warning, certificate_missing}));
    EXPECT_EQ(r.prompts().at(1).caption, "Error");
    EXPECT_FALSE(r.prompts().at(1).owned);
    EXPECT_EQ(tools.image_calls, 0);
}

TEST_F(launcher_without_ecu, usb_file_tool_when_not_connected_shows_the_mode_message_and_does_not_open) {
    open(manager);
    click_and_settle(IDC_USB_FILE_TOOL);
    EXPECT_EQ(prompt_texts(), std::vector<std::string>{mode_message});
    EXPECT_EQ(tools.log_calls, 0);
}

TEST_F(launcher_without_ecu, ecu_update_opens_without_a_mode_check) {
    open(manager);
    launcher->click(IDC_ECU_UPDATE);
    ASSERT_NE(r.wait_for_dialog(tool_update), nullptr);
    EXPECT_TRUE(r.prompts().empty());
    std::lock_guard lock(tools.mutex);
    EXPECT_EQ(tools.manager, &manager);
}

TEST_F(launcher_without_ecu, buttons_of_tools_not_built_in_show_nothing_beyond_the_checks) {
    open(manager, tool_dialogs{});
    certificate(pattern_bytes(100, 2));
    click_and_settle(IDC_ECU_UPDATE);
    click_and_settle(IDC_FIRMWARE_TOOL);
    EXPECT_EQ(prompt_texts(), std::vector<std::string>{mode_warning});
    EXPECT_EQ(r.shown().size(), 1u);
}

TEST_F(launcher_without_ecu, keeps_the_first_mebibyte_of_a_two_megabyte_certificate) {
    open(manager);
    const auto bytes = pattern_bytes(2 * 1024 * 1024, 3);
    certificate(bytes);
    launcher->click(IDC_FIRMWARE_TOOL);
    ASSERT_NE(r.wait_for_dialog(tool_image), nullptr);
    EXPECT_EQ(root_certificate().length, 1048576u);
    std::lock_guard lock(tools.mutex);
    ASSERT_EQ(tools.certificate.size(), 1048576u);
    EXPECT_TRUE(std::equal(tools.certificate.begin(), tools.certificate.end(), bytes.begin()));
}

TEST_F(launcher_without_ecu, a_shorter_certificate_after_a_longer_one_hands_over_only_its_own_bytes) {
    open(manager);
    certificate(pattern_bytes(5000, 4));
    launcher->click(IDC_FIRMWARE_TOOL);
    ui::dialog* tool = r.wait_for_dialog(tool_image);
    ASSERT_NE(tool, nullptr);
    tool->cancel();
    ASSERT_TRUE(r.wait_until([&] { return r.shown().size() == 1; }));

    const auto shorter = pattern_bytes(300, 5);
    certificate(shorter);
    launcher->click(IDC_FIRMWARE_TOOL);
    ASSERT_NE(r.wait_for_dialog(tool_image), nullptr);
    EXPECT_EQ(root_certificate().length, 300u);
    std::lock_guard lock(tools.mutex);
    EXPECT_EQ(tools.certificate, shorter);
}

TEST_F(launcher_on_ecu, usb_file_tool_with_a_boot_loader_ecu_shows_the_mode_message_and_does_not_open) {
    connection_manager& m = connected("--mode boot");
    ASSERT_EQ(m.target_mode, connection_manager::mode_boot_loader);
    open(m);
    click_and_settle(IDC_USB_FILE_TOOL);
    ASSERT_EQ(r.prompts().size(), 1u);
    EXPECT_EQ(r.prompts()[0].text, mode_message);
    EXPECT_EQ(r.prompts()[0].caption, "Error");
    EXPECT_EQ(r.prompts()[0].style, ui::MB_ICONSTOP);
    EXPECT_EQ(tools.log_calls, 0);
}

TEST_F(launcher_on_ecu, usb_file_tool_with_an_application_ecu_opens_on_the_same_manager) {
    connection_manager& m = connected("--mode app");
    open(m);
    launcher->click(IDC_USB_FILE_TOOL);
    ASSERT_NE(r.wait_for_dialog(tool_log), nullptr);
    EXPECT_TRUE(r.prompts().empty());
    std::lock_guard lock(tools.mutex);
    EXPECT_EQ(tools.manager, &m);
}

TEST_F(launcher_on_ecu, firmware_tool_with_a_boot_loader_ecu_opens_without_a_warning) {
    connection_manager& m = connected("--mode boot");
    open(m);
    certificate(pattern_bytes(64, 6));
    launcher->click(IDC_FIRMWARE_TOOL);
    ASSERT_NE(r.wait_for_dialog(tool_image), nullptr);
    EXPECT_TRUE(r.prompts().empty());
}

TEST(launcher_template, has_the_caption_icon_and_buttons_of_the_launcher) {
    const ui::dialog_template t = launcher_template();
    EXPECT_EQ(t.id, 102);
    EXPECT_EQ(t.caption, "Velmar_Flashdesk");
    EXPECT_EQ(t.icon, 128);
    std::map<int, std::pair<std::string, bool>> controls;
    for (const auto& c : t.controls) controls[c.id] = {c.text, c.visible};
    EXPECT_EQ(controls[1000], (std::pair<std::string, bool>{"Firmware and ID tool", true}));
    EXPECT_EQ(controls[1039], (std::pair<std::string, bool>{"ECU Update", true}));
    EXPECT_EQ(controls[1001], (std::pair<std::string, bool>{"USB file tool", false}));
    EXPECT_FALSE(controls[1].second);
    EXPECT_FALSE(controls[2].second);
}

// The application object end to end: start-up connect, the launcher, the program's end.
struct application_run {
    headless_renderer r;
    CVelmar_FlashdeskApp app;
    recorded_tools tools;
    bool result = true;
    std::thread runner;
    ui::dialog* launcher = nullptr;

    void start() {
        runner = std::thread([this] { result = app.init_instance(r, tools.make()); });
        launcher = r.wait_for_dialog(IDD_VELMAR_FLASHDESK_DIALOG);
    }
    void finish() {
        if (launcher) launcher->cancel();
        runner.join();
    }
};

TEST(application, starts_without_an_ecu_silently_and_reads_the_certificate_from_the_current_directory) {
    empty_registry registry;
    temp_dir cwd;
    const fs::path previous = fs::current_path();
    fs::current_path(cwd.path);
    const auto bytes = pattern_bytes(777, 7);
    write_file("RootCertificate_tcert.der", bytes);

    application_run run;
    run.start();
    ASSERT_NE(run.launcher, nullptr);
    EXPECT_TRUE(run.r.prompts().empty());
    EXPECT_EQ(run.app.connection.target_mode, connection_manager::mode_not_connected);
    EXPECT_EQ(run.app.connection.is_connected(), 0u);
    EXPECT_EQ(run.app.registry_key, "Local AppWizard-Generated Applications");

    run.launcher->click(IDC_FIRMWARE_TOOL);
    ui::dialog* tool = run.r.wait_for_dialog(tool_image);
    ASSERT_NE(tool, nullptr);
    EXPECT_EQ(run.r.prompts().size(), 1u);
    {
        std::lock_guard lock(run.tools.mutex);
        EXPECT_EQ(run.tools.certificate, bytes);
        EXPECT_EQ(run.tools.manager, &run.app.connection);
    }
    tool->cancel();
    ASSERT_TRUE(run.r.wait_until([&] { return run.r.shown().size() == 1; }));
    run.finish();
    EXPECT_FALSE(run.result);  // the program ends with the launcher
    fs::current_path(previous);
}

TEST(application, connects_at_start_to_a_present_ecu) {
    ecusim::virtual_ecu ecu(ecusim::config_from_text("--mode boot"));
    application_run run;
    run.start();
    ASSERT_NE(run.launcher, nullptr);
    EXPECT_NE(run.app.connection.is_connected(), 0u);
    EXPECT_EQ(run.app.connection.target_mode, connection_manager::mode_boot_loader);
    run.finish();
}

TEST(application, drops_a_failed_start_up_connect_and_shows_nothing) {
    // An ECU whose command set the program does not speak.
    ecusim::virtual_ecu ecu(ecusim::config_from_text("--version 1"));
    application_run run;
    run.start();
    ASSERT_NE(run.launcher, nullptr);
    EXPECT_TRUE(run.r.prompts().empty());
    EXPECT_EQ(run.app.connection.transferstructs_version, 1u);  // the connect was tried
    run.finish();
    EXPECT_FALSE(run.result);
}

TEST(application, does_not_guess_between_two_ecus_plugged_in_at_start) {
    ecusim::virtual_ecu ecu(ecusim::config_from_text("--mode boot"));
    ecusim::usb_device second(ecusim::config_from_text("--mode boot --serial 0A0B0C0D"),
                              platform::registry_class_dir(platform::ecu_interface_class), "ecusim1");
    second.start();
    application_run run;
    run.start();
    ASSERT_NE(run.launcher, nullptr);
    EXPECT_EQ(run.app.connection.is_connected(), 0u);
    const auto prompts = run.r.prompts();
    ASSERT_EQ(prompts.size(), 1u);
    EXPECT_EQ(prompts[0].caption, "Error");
    EXPECT_EQ(prompts[0].text, "More than one ECU is plugged in (2): unplug all but one.");
    run.finish();
    EXPECT_EQ(second.inspect([](ecusim::ecu& e) { return e.state().commands; }), 0u);
    EXPECT_EQ(ecu.device().inspect([](ecusim::ecu& e) { return e.state().commands; }), 0u);
}

// The error box, straight into a renderer.
TEST(error_box, formats_like_printf_into_an_unowned_stop_box_captioned_error) {
    headless_renderer r;
    error_box(r, "Value %d of %s: %5.2f%%", 7, "disk", 12.5);
    ASSERT_EQ(r.prompts().size(), 1u);
    EXPECT_EQ(r.prompts()[0].text, "Value 7 of disk: 12.50%");
    EXPECT_EQ(r.prompts()[0].caption, "Error");
    EXPECT_EQ(r.prompts()[0].style, ui::MB_OK | ui::MB_ICONSTOP);
    EXPECT_FALSE(r.prompts()[0].owned);
}

TEST(error_box, cuts_a_longer_text_to_what_fits_in_2048_bytes) {
    const std::string long_text(5000, 'x');
    EXPECT_EQ(format_error_text("%s", long_text.c_str()), std::string(2047, 'x'));
    EXPECT_EQ(format_error_text("%s", std::string(2047, 'y').c_str()).size(), 2047u);
}

TEST(error_box, never_cuts_inside_a_multi_byte_character) {
    // U+00E9 (2 bytes) and U+20AC (3 bytes) straddling the last byte that fits.
    const std::string two = std::string(2046, 'a') + "\xC3\xA9" + "tail";
    EXPECT_EQ(format_error_text("%s", two.c_str()), std::string(2046, 'a'));
    const std::string three = std::string(2045, 'a') + "\xE2\x82\xAC" + "tail";
    EXPECT_EQ(format_error_text("%s", three.c_str()), std::string(2045, 'a'));
    const std::string fits = std::string(2044, 'a') + "\xE2\x82\xAC" + "tail";
    EXPECT_EQ(format_error_text("%s", fits.c_str()), std::string(2044, 'a') + "\xE2\x82\xAC");
}

}  // namespace
}  // namespace qx
