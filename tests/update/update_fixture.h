// The ECU Update dialog against an in-process virtual ECU: a folder with a package group
// and the root certificate, a headless renderer, and the dialog running on its own thread.
#pragma once

#include <filesystem>
#include <future>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/connection_manager.h"
#include "ecusim/certificates.h"
#include "ecusim/usb_device.h"
#include "platform/ui/headless_renderer.h"
#include "tests/support/pak_writer.h"
#include "update/update_image_dlg.h"

namespace qx::testing {

namespace ts = qx::test_support;

inline ts::pak_spec package(const std::string& serial, std::uint32_t type, std::uint32_t blocks = 2,
                            std::uint32_t version = 7) {
    ts::pak_spec spec = ts::sample_pak_spec(2, serial, type, blocks, type + 11);
    const auto cert = ecusim::certificates::package();
    spec.certificate.assign(cert.begin(), cert.end());
    spec.version = version;
    return spec;
}

class update_fixture : public ::testing::Test {
protected:
    std::filesystem::path folder;
    std::string serial = "01020AFF";
    std::unique_ptr<ecusim::virtual_ecu> ecu;
    std::unique_ptr<connection_manager> manager;
    ui::headless_renderer r;
    std::unique_ptr<CUpdateImageDlg> dlg;
    std::thread runner;
    int result = -1;
    std::vector<std::string> progress_texts;
    std::mutex texts_mutex;
    std::condition_variable worker_ended;
    int workers_done = 0;
    int attempts = 3;
    bool boot_mode = true;
    std::chrono::milliseconds pause{20};

    void SetUp() override {
        std::string t = (std::filesystem::temp_directory_path() / "update-test-XXXXXX").string();
        folder = ::mkdtemp(t.data());
        const auto root = ecusim::certificates::root();
        ts::save_file((folder / "RootCertificate_tcert.der").string(), ts::bytes(root.begin(), root.end()));
    }
    void TearDown() override {
        if (runner.joinable()) {
            if (dlg->running()) dlg->cancel();
            runner.join();
        }
        dlg.reset();
        manager.reset();
        ecu.reset();
        std::filesystem::remove_all(folder);
    }

    void write_group(const std::vector<ts::pak_spec>& packages, std::optional<std::uint32_t> declared = {},
                     bool with_serial = true) {
        ts::pak_group_spec g;
        if (with_serial) g.serial_number = serial;
        for (const auto& p : packages) g.entries.push_back(ts::group_entry(p));
        g.declared_count = declared;
        ts::save_file((folder / (serial + ".pakgrp")).string(), ts::write_pak_group(g).data);
    }

    // Starts the ECU (unplugged until arrive()) and the dialog.
    void start(ecusim::ecu_config cfg = {}, std::string root_file = "RootCertificate_tcert.der") {
        cfg.mode = boot_mode ? ecusim::ecu_mode::boot : ecusim::ecu_mode::app;
        cfg.serial = *ecusim::parse_serial(serial);
        ecu = std::make_unique<ecusim::virtual_ecu>(cfg);
        ecu->device().unplug();
        manager = std::make_unique<connection_manager>();
        CUpdateImageDlg::options o;
        o.root_certificate_path = (folder / root_file).string();
        o.connect_attempts = attempts;
        o.connect_pause = pause;
        o.after_worker = [this] {
            std::lock_guard lock(texts_mutex);
            ++workers_done;
            worker_ended.notify_all();
        };
        dlg = std::make_unique<CUpdateImageDlg>(*manager, o);
        dlg->model().add_listener([this](int id) {
            if (id != update_ids::progress_text) return;
            std::lock_guard lock(texts_mutex);
            progress_texts.push_back(dlg->model().text(id));
        });
        runner = std::thread([this] { result = dlg->run_modal(r); });
    }
    std::string text(int id) { return dlg->model().text(id); }
    bool wait_text(int id, const std::string& value) {
        return r.wait_until([&] { return dlg->running() && text(id) == value; });
    }
    // Waits until the dialog has handled everything queued so far (its opening included, which
    // registers for device notifications).
    void settle() {
        auto handled = std::make_shared<std::promise<void>>();
        dlg->post([handled] { handled->set_value(); });
        ASSERT_EQ(handled->get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);
    }
    // Chooses the folder with Browse.
    void choose_folder() {
        ASSERT_TRUE(wait_text(update_ids::main_status, "Waiting for Path selection."));
        settle();
        r.answer_folder(folder.string());
        dlg->click(update_ids::browse);
        ASSERT_TRUE(wait_text(update_ids::main_status, "Waiting for ECU connection."));
    }
    // Plugs the ECU in and waits until the worker has left the ECU.
    void arrive() {
        int before = 0;
        {
            std::lock_guard lock(texts_mutex);
            before = workers_done;
        }
        ecu->device().plug();
        wait_worker(before);
    }
    void wait_worker(int before) {
        std::unique_lock lock(texts_mutex);
        ASSERT_TRUE(worker_ended.wait_for(lock, std::chrono::seconds(30), [&] { return workers_done > before; }));
    }
    ecusim::ecu_state state() {
        return ecu->device().inspect([](ecusim::ecu& e) { return e.state(); });
    }
    // The progress texts after the opening's "Waiting...".
    std::vector<std::string> texts() {
        std::lock_guard lock(texts_mutex);
        std::vector<std::string> out;
        for (const auto& t : progress_texts)
            if (t != "Waiting...") out.push_back(t);
        return out;
    }
};

}  // namespace qx::testing
