// An in-process virtual ECU, a connection manager on it, and the Firmware and ID tool running
// headless on a thread of its own.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/connection_manager.h"
#include "ecusim/usb_device.h"
#include "imagetool/image_downloader_dlg.h"
#include "platform/ui/headless_renderer.h"
#include "tests/support/pak_writer.h"

namespace qx::testing {

using namespace qx::imagetool;

inline const std::string ecu_serial = "1A2B3C4D";

// The dialog with its hooks made visible to tests.
class test_tool : public CImageDownloaderDlg {
public:
    using CImageDownloaderDlg::CImageDownloaderDlg;
    using CImageDownloaderDlg::load_package;
    using CImageDownloaderDlg::show_ecu_serial_number;
    using CImageDownloaderDlg::device_notification_registered;

    std::atomic<bool> initialised{false};
    std::atomic<int> device_events{0};
    std::atomic<int> pauses{0};
    std::function<void(int)> on_pause;  // on the worker thread, before the real pause
    std::atomic<int> finished{0};
    std::atomic<bool> finished_downloaded{false};

    // Waits until pred holds; checked whenever one of the counters above changes.
    bool wait(const std::function<bool()>& pred, std::chrono::seconds timeout = std::chrono::seconds(60)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, pred);
    }

protected:
    void on_init() override {
        CImageDownloaderDlg::on_init();
        initialised = true;
        notify();
    }
    void on_device_change(const ui::device_event& e) override {
        CImageDownloaderDlg::on_device_change(e);
        ++device_events;
        notify();
    }
    bool pause_before_retry(std::stop_token stop, int failed_attempts) override {
        ++pauses;
        if (on_pause) on_pause(failed_attempts);
        return CImageDownloaderDlg::pause_before_retry(stop, failed_attempts);
    }
    void on_power_sequence_finished(bool downloaded) override {
        finished_downloaded = downloaded;
        ++finished;
        notify();
    }

private:
    void notify() {
        { std::lock_guard lock(mutex_); }
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
};

class tool_test : public ::testing::Test {
protected:
    void TearDown() override { close(); }

    // "--mode boot", ... as for `ecusim usb`; edit adjusts the configuration further.
    void start(const std::string& options, const std::function<void(ecusim::ecu_config&)>& edit = {},
               bool connect = true);
    void open();   // runs the dialog until its initialisation is done
    void close();  // cancels it and waits for its end
    // Runs everything queued for the dialog so far (the handlers of earlier clicks included).
    void sync();
    void click(int id) {
        tool->click(id);
        sync();
    }
    // Select File answered with `path`.
    void select(const std::string& path);

    std::string write_package(std::uint32_t type, std::uint32_t blocks, const std::string& serial = ecu_serial,
                              const std::function<void(test_support::pak_spec&)>& edit = {});
    std::string temp_path(const std::string& name);

    ecusim::ecu_state state();
    std::uint64_t commands_of(std::uint8_t code);
    // Adds a fault rule for the k-th command of `code` from now on ("rstatus=0x71000006").
    void fault_on_next(std::uint8_t code, unsigned k, const std::string& actions);

    bool saw(const std::string& caption, const std::string& text);
    bool wait_for_prompt(const std::string& caption, const std::string& text);
    std::size_t messages();  // message boxes shown so far
    std::string text(int id) { return tool->model().text(id); }

    std::optional<ecusim::virtual_ecu> ecu;
    std::unique_ptr<connection_manager> manager;
    ui::headless_renderer renderer;
    std::unique_ptr<test_tool> tool;
    std::string fault_plan;

private:
    std::thread runner_;
    std::string dir_;
};

using erase_list = std::vector<std::pair<std::uint32_t, std::uint32_t>>;
erase_list erases_of(const ecusim::ecu_state& s);

}  // namespace qx::testing
