// The Firmware and ID tool ("ECU Programming", dialog 158): one package into the ECU with the
// security sequence, the model erases, the power-sequence download, the core dump and the
// peripheral R8C upgrade.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "core/connection_manager.h"
#include "core/flash_operations.h"
#include "imagetool/core_dump_file.h"
#include "imagetool/image_downloader_template.h"
#include "pak/pak_file.h"
#include "platform/ui/dialog.h"

namespace qx {

class CImageDownloaderDlg : public ui::dialog {
public:
    // The connection stays with its owner and outlives the dialog; the root certificate is
    // copied.
    CImageDownloaderDlg(connection_manager& connection, std::span<const std::uint8_t> root_certificate);
    ~CImageDownloaderDlg() override;

    // The power-sequence download of any instance is running.
    static bool power_sequence_running() { return power_sequence_running_; }
    // An ECU arrived since the last power-sequence click or worker start.
    bool ecu_arrived() const { return ecu_arrived_; }
    bool package_loaded() const { return package_loaded_; }
    // The package loaded and its image bytes (as sent); read them while nothing runs.
    const pak_file& package() const { return package_; }
    std::span<const std::uint8_t> package_image_data() const { return package_image_.image_data.bytes(); }
    bool r8c_image_loaded() const { return r8c_loaded_; }
    std::uint32_t r8c_image_length() const { return r8c_length_; }
    // Peripheral image bytes [address, address + n).
    std::vector<std::uint8_t> r8c_image(std::uint32_t address, std::uint32_t n) const;

    // What "Save" read goes to `sink` (on the dialog's thread), once every section is read and
    // never after a failure; without one nothing is kept. Set before the dialog runs.
    void keep_core_dumps(std::function<void(imagetool::core_dump&&)> sink) { core_dump_sink_ = std::move(sink); }

    std::string stop_question() const override { return flash::programming_stop_question; }

    static constexpr int max_mismatch_restarts = 3;
    static constexpr int max_connect_attempts = 12;

protected:
    void on_init() override;
    void on_command(int id) override;
    void on_device_change(const ui::device_event& e) override;
    void on_end() override;
    void on_stop() override;

    // Select File after the prompt: reads the package at `path` and matches it to the serial
    // number shown. True when it is loaded.
    bool load_package(const std::string& path);
    // Download File: true when every block went in.
    bool download(std::stop_token stop = {});
    // PowerSeq Download: true when the reset sequence went out.
    bool start_power_sequence();
    void show_ecu_serial_number(std::string serial);
    // The application tells its serial number itself (no certificate): shown, or an error box
    // and false.
    bool show_application_serial();

    // Between failed connect attempts of the power-sequence worker: waits 1000 ms; false when
    // the dialog ends meanwhile.
    virtual bool pause_before_retry(std::stop_token stop, int failed_attempts);
    // The ECU is back and connected (on the worker's thread); false gives the download up.
    virtual bool begin_power_sequence_download() { return true; }
    // The worker is about to end (on the worker's thread); downloaded: the download succeeded.
    virtual void on_power_sequence_finished(bool downloaded) { (void)downloaded; }

private:
    // Messages: the error box (no owner, stop icon) and the dialog's own boxes.
    void error_box(const std::string& text);
    void unowned_box(const std::string& text, const std::string& caption);
    void refresh_controls();
    void set_all_buttons(bool on);

    void select_file();
    void erase_dynamic_model_data();
    void erase_fixed_model();
    void core_dump_save();
    // registration: the device registration that started it, released at its end; hold: the
    // work the click began, held to the end.
    void power_sequence_worker(std::stop_token stop, unsigned registration, work_hold hold);
    // A failed download's last word: `text`, that the technician stopped it, or nothing when
    // `stop` ends it with the dialog. False.
    bool download_failed(const std::string& text, const std::stop_token& stop);

    // Peripheral upgrade.
    void r8c_select_file();
    bool r8c_upgrade();
    void r8c_download_file();

    connection_manager& connection_;
    std::vector<std::uint8_t> root_certificate_;

    // Fields shown by refresh_controls.
    std::string ecu_serial_number_, package_file_name_, author_, date_, r8c_file_name_;

    pak_file package_;
    pak_image package_image_;
    std::atomic<bool> package_loaded_{false};
    // Held by a download or a selection: the package is in use.
    std::mutex package_mutex_;

    std::atomic<bool> ecu_arrived_{false};
    static std::atomic<bool> power_sequence_running_;
    unsigned registrations_ = 0;  // device registrations made, on the dialog's thread
    // The work the click began, held from the reset until its worker starts (the dialog's
    // thread).
    work_hold power_sequence_hold_;
    std::jthread worker_;
    std::mutex worker_mutex_;
    std::condition_variable_any worker_wake_;

    std::function<void(imagetool::core_dump&&)> core_dump_sink_;

    std::unique_ptr<std::array<std::uint8_t, 65536>> r8c_image_;
    std::uint32_t r8c_length_ = 0;
    std::atomic<bool> r8c_loaded_{false};
};

}  // namespace qx
