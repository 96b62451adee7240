// "PowerSeq Download": the reset through the peripheral I/O, the device following, the worker.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>

#include "platform/registry/device_registry.h"
#include "tests/imagetool/tool_fixture.h"

namespace qx::testing {
namespace {

const std::string powerseq_done =
    "OnBnClickedButtonImagedlPowerseqdlfile Firmware download successful ... please turn the ignition switch off";

class power_sequence : public tool_test {
protected:
    // The application cannot tell the dialog a package: it is given as the console does.
    void open_with_package(std::uint32_t type = 2) {
        open();
        const std::string path = write_package(type, 2);
        tool->post([this, path] {
            tool->show_ecu_serial_number(ecu_serial);
            tool->load_package(path);
        });
        sync();
        ASSERT_TRUE(tool->package_loaded());
    }
    // Asked on the dialog's thread, after everything queued so far.
    bool registered() {
        std::promise<bool> answer;
        tool->post([&] { answer.set_value(tool->device_notification_registered()); });
        return answer.get_future().get();
    }
    bool wait_finished() {
        return tool->wait([this] { return tool->finished > 0 && !CImageDownloaderDlg::power_sequence_running(); });
    }
    ui::device_event event(ui::device_event::kind_t kind, std::string cls = std::string(platform::ecu_interface_class)) {
        ui::device_event e;
        e.kind = kind;
        e.interface_class = std::move(cls);
        return e;
    }
};

TEST_F(power_sequence, resets_the_ecu_follows_it_into_the_boot_loader_and_downloads) {
    start("--mode app --replug-ms 200");
    open_with_package();
    click(IDC_POWERSEQ_DOWNLOAD);
    ASSERT_TRUE(wait_for_prompt("Success!", powerseq_done));
    ASSERT_TRUE(wait_finished());
    EXPECT_TRUE(tool->finished_downloaded);
    const auto s = state();
    ASSERT_EQ(s.io_controls.size(), 2u);
    EXPECT_EQ(s.io_controls[0].io_target, 4);
    EXPECT_EQ(s.io_controls[1].io_target, 1);
    EXPECT_EQ(s.io_controls[1].io_data_d, 0x1000u);
    EXPECT_FALSE(s.configuration_running);
    EXPECT_EQ(s.resets, 1u);
    EXPECT_EQ(s.mode, ecusim::ecu_mode::boot);
    EXPECT_EQ(s.blocks.size(), 2u);
    EXPECT_TRUE(saw("Success!", "Firmware loaded succesfully"));
    const auto last = renderer.prompts().back();
    EXPECT_FALSE(last.owned);
    EXPECT_FALSE(registered());  // a later leave and return starts no second worker
}

TEST_F(power_sequence, without_a_package_nothing_is_sent) {
    start("--mode app");
    open();
    const auto before = state().commands;
    click(IDC_POWERSEQ_DOWNLOAD);
    EXPECT_TRUE(saw("Error", "OnBnClickedButtonImagedlPowerseqdlfile Error: No package loaded!"));
    EXPECT_EQ(state().commands, before);
    EXPECT_EQ(state().resets, 0u);
    EXPECT_FALSE(registered());
}

TEST_F(power_sequence, reconnects_on_the_fifth_attempt_after_four_pauses) {
    start("--mode app --replug-ms 100");
    open_with_package();
    // A device that refuses connections, first by name: connecting fails until it goes.
    const std::string blocker = platform::registry_class_dir(platform::ecu_interface_class) + "/aaa0";
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, blocker.c_str(), sizeof a.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    tool->on_pause = [&](int failed) {
        if (failed == 4) {
            ::unlink(blocker.c_str());
            ::close(fd);
        }
    };
    const auto t0 = std::chrono::steady_clock::now();
    click(IDC_POWERSEQ_DOWNLOAD);
    ASSERT_TRUE(wait_for_prompt("Success!", powerseq_done));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(4000));
    ASSERT_TRUE(wait_finished());
    EXPECT_EQ(tool->pauses, 4);
    EXPECT_EQ(state().blocks.size(), 2u);
}

TEST_F(power_sequence, only_a_removal_of_the_ecu_class_starts_the_worker) {
    start("--mode app");
    open();
    tool->device_change(event(ui::device_event::removal_complete, "{00000000-0000-0000-0000-000000000000}"));
    tool->device_change(event(ui::device_event::arrival));
    sync();
    EXPECT_FALSE(CImageDownloaderDlg::power_sequence_running());
    EXPECT_TRUE(tool->ecu_arrived());
    EXPECT_EQ(tool->finished, 0);
    tool->device_change(event(ui::device_event::removal_complete));
    sync();
    EXPECT_TRUE(CImageDownloaderDlg::power_sequence_running());
    EXPECT_FALSE(tool->ecu_arrived());  // cleared: the worker waits for the ECU's return
}

TEST_F(power_sequence, worker_waiting_for_the_ecu_ends_with_the_dialog) {
    start("--mode app --replug-ms 600000");
    open_with_package();
    click(IDC_POWERSEQ_DOWNLOAD);
    ASSERT_TRUE(tool->wait([this] { return tool->device_events > 0; }));  // the removal
    EXPECT_TRUE(CImageDownloaderDlg::power_sequence_running());
    auto closed = std::async(std::launch::async, [this] { close(); });
    ASSERT_EQ(closed.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_FALSE(CImageDownloaderDlg::power_sequence_running());
}

TEST_F(power_sequence, version_mismatch_at_reconnect_ends_the_worker_cleanly) {
    // The 2nd GET_TARGET_VERSION (the worker's connect) answers an unknown version.
    start("--mode app --replug-ms 100 --faults code=0#2:garbage");
    open_with_package();
    click(IDC_POWERSEQ_DOWNLOAD);
    ASSERT_TRUE(wait_finished());
    EXPECT_FALSE(tool->finished_downloaded);
    EXPECT_TRUE(state().blocks.empty());
    EXPECT_FALSE(saw("Success!", powerseq_done));
    const auto last = renderer.prompts().back();
    EXPECT_EQ(last.caption, "Error");
    EXPECT_EQ(last.text.rfind("OnBnClickedButtonImagedlPowerseqdlfile Error: ", 0), 0u) << last.text;
}

TEST_F(power_sequence, failed_reset_sequence_is_reported_and_starts_nothing) {
    start("--mode app");
    open_with_package();
    fault_on_next(11, 1, "status=0x0104");  // the first peripheral I/O control
    click(IDC_POWERSEQ_DOWNLOAD);
    bool found = false;
    for (const auto& p : renderer.prompts())
        found |= p.caption == "Error" && p.text.rfind("PerformResetSequence  KesSendCommand ERROR=", 0) == 0;
    EXPECT_TRUE(found);
    EXPECT_EQ(state().resets, 0u);
    EXPECT_FALSE(CImageDownloaderDlg::power_sequence_running());
    EXPECT_FALSE(registered());
}

}  // namespace
}  // namespace qx::testing
