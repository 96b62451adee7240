// The USB file tool against a virtual ECU: the ECU over the USB link (in process, inspectable)
// or the simulator link, the dialog running in a headless renderer, and a scratch folder.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/connection_manager.h"
#include "tests/core/ecu_fixture.h"
#include "ecusim/ecu_options.h"
#include "ecusim/usb_device.h"
#include "filetool/log_test_dlg.h"
#include "platform/ui/headless_renderer.h"

namespace qx::testing {


using bytes = std::vector<std::uint8_t>;

inline bytes pattern(std::size_t size, unsigned seed = 1) {
    bytes b(size);
    for (std::size_t i = 0; i < size; ++i) b[i] = std::uint8_t((i * 7 + seed * 31 + i / 251) & 0xFF);
    return b;
}

inline bytes read_bytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string read_text(const std::filesystem::path& p) {
    const bytes b = read_bytes(p);
    return std::string(b.begin(), b.end());
}

// A folder of its own for one test, removed afterwards.
class scratch {
public:
    scratch() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "." + info->name();
        for (auto& c : name)
            if (c == '/') c = '_';
        dir_ = std::filesystem::temp_directory_path() / ("filetool-" + std::to_string(::getpid())) / name;
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    ~scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    std::string file(const std::string& name, const bytes& content) const {
        std::ofstream(path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(content.data()), std::streamsize(content.size()));
        return path(name);
    }

private:
    std::filesystem::path dir_;
};

// A connected manager to a virtual ECU described by `ecusim usb` options; `adjust` changes
// the configuration further (USB link only).
class log_ecu {
public:
    log_ecu(link_kind kind, const std::string& options,
            const std::function<void(ecusim::ecu_config&)>& adjust = {}) {
        link_choice choice;
        if (kind == link_kind::usb) {
            ecusim::ecu_config cfg = ecusim::config_from_text(options);
            if (adjust) adjust(cfg);
            usb_.emplace(std::move(cfg));
        } else {
            choice = simulator_link(options);
        }
        manager = std::make_unique<connection_manager>(std::move(choice));
        manager->connect();
    }
    ~log_ecu() { manager.reset(); }

    bool inspectable() const { return usb_.has_value(); }
    ecusim::ecu_state state() {
        return usb_->device().inspect([](ecusim::ecu& e) { return e.state(); });
    }
    std::uint64_t commands_of(std::uint8_t code) {
        const auto s = state();
        const auto it = s.commands_by_code.find(code);
        return it == s.commands_by_code.end() ? 0 : it->second;
    }

    std::unique_ptr<connection_manager> manager;

private:
    std::optional<ecusim::virtual_ecu> usb_;
};

// LogTestDlg running modal in a headless renderer on a thread of its own.
class running_dialog {
public:
    explicit running_dialog(connection_manager& m) : dlg(m) {
        runner_ = std::thread([this] { dlg.run_modal(ui); });
        EXPECT_TRUE(ui.wait_until([this] { return dlg.running(); }));
        settle();
    }
    ~running_dialog() { close(); }
    running_dialog(const running_dialog&) = delete;
    running_dialog& operator=(const running_dialog&) = delete;

    // Returns once every event queued before has been handled.
    void settle() {
        auto done = std::make_shared<std::promise<void>>();
        auto handled = done->get_future();
        dlg.post([done] { done->set_value(); });
        ASSERT_EQ(handled.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    }
    void click(int id) {
        dlg.click(id);
        settle();
    }
    void list() { click(filetool::IDC_GETDIRLISTING); }
    // Right click on `row`, "UploadToHost", saving to `path` (nullopt: the save prompt is cancelled).
    void upload(int row, std::optional<std::string> path) {
        ui.answer_menu(0);
        ui.answer_file(std::move(path));
        dlg.context_menu(filetool::IDC_FILE_LIST, row);
        settle();
    }
    void close() {
        if (!runner_.joinable()) return;
        dlg.cancel();
        runner_.join();
    }

    std::string cell(int item, int subitem) {
        ui::cell_info c;
        c.reset(item, subitem);
        dlg.on_get_cell_info(filetool::IDC_FILE_LIST, c);
        return c.text;
    }
    int rows() { return dlg.model().state(filetool::IDC_FILE_LIST).row_count; }
    std::string text(int id) { return dlg.model().text(id); }

    std::vector<ui::headless_renderer::prompt_record> prompts(const std::string& kind) const {
        std::vector<ui::headless_renderer::prompt_record> out;
        for (const auto& p : ui.prompts())
            if (p.kind == kind) out.push_back(p);
        return out;
    }
    // Texts of the message boxes with caption "ERROR!".
    std::vector<std::string> errors() const {
        std::vector<std::string> out;
        for (const auto& p : prompts("message"))
            if (p.caption == "ERROR!") out.push_back(p.text);
        return out;
    }
    bool saved_successfully() const {
        for (const auto& p : prompts("message"))
            if (p.caption == "SUCCESS!" && p.text == "File Saved Successfully !!!") return true;
        return false;
    }

    ui::headless_renderer ui;
    LogTestDlg dlg;

private:
    std::thread runner_;
};

}  // namespace qx::testing
