// "ECU Update": the technician chooses the folder of package groups and plugs in ECUs one
// after another; each arrival starts a worker that connects, identifies the ECU, finds its
// packages and updates every image that has one.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "core/connection_manager.h"
#include "pak/pak_file.h"
#include "pak/pak_image.h"
#include "platform/ui/dialog.h"

namespace qx {

namespace update_ids {
inline constexpr int dialog = 161;
inline constexpr int done = 1;
inline constexpr int path = 1007;
inline constexpr int browse = 1008;
inline constexpr int serial_number = 1010;
inline constexpr int version = 1040;
inline constexpr int main_progress = 1031;
inline constexpr int main_status = 1037;
inline constexpr int progress_text = 1038;
inline constexpr int main_lamp = 1058;
}  // namespace update_ids

// Lamp bitmaps.
inline constexpr int lamp_green = 133;
inline constexpr int lamp_yellow = 134;
inline constexpr int lamp_red = 135;
inline constexpr int lamp_grey = 136;

// The controls of one image row, top to bottom as laid out.
struct image_row_ids {
    const char* name;  // the checkbox text
    std::uint32_t type_code;
    int checkbox, image, author, date, version, progress, status, lamp, continue_button, cancel_button;
};
inline constexpr std::array<image_row_ids, 4> update_rows = {{
    {"Boot Loader", 3, 1006, 1018, 1022, 1026, 1041, 1030, 1036, 1054, 1045, 1046},
    {"Firmware", 0, 1003, 1015, 1019, 1023, 1042, 1027, 1033, 1053, 1047, 1048},
    {"Fixed Model", 1, 1004, 1016, 1020, 1024, 1043, 1028, 1034, 1056, 1049, 1050},
    {"Dynamic Model", 2, 1005, 1017, 1021, 1025, 1044, 1029, 1035, 1057, 1051, 1052},
}};

ui::dialog_template update_image_template();

// True while an update worker runs, in the whole process.
extern std::atomic<bool> update_busy;

class CUpdateImageDlg : public ui::dialog {
public:
    struct options {
        std::string root_certificate_path = "RootCertificate_tcert.der";
        int connect_attempts = 12;
        std::chrono::milliseconds connect_pause{1000};
        // Called on the worker's thread when a worker ends (for front-ends that stop after
        // one ECU).
        std::function<void()> after_worker;
        // Called on the worker's thread as a worker starts, and when it is done with its ECU,
        // before it disconnects (for front-ends that keep a record of each ECU).
        std::function<void()> worker_started;
        std::function<void()> ecu_done;
        // Called on the worker's thread when no connection attempt succeeded.
        std::function<void()> no_answer;
    };

    explicit CUpdateImageDlg(connection_manager& connection) : CUpdateImageDlg(connection, options{}) {}
    CUpdateImageDlg(connection_manager& connection, options opts);
    ~CUpdateImageDlg() override;

    // True when the dialog could not register for ECU arrivals and closed.
    bool device_watch_failed() const { return device_watch_failed_; }

    struct image_row {
        const image_row_ids* ids;
        std::uint32_t type_code;
        std::string source_path;
        pak_file package;
        pak_image image;
        std::uint32_t image_version = 0;
    };

    // The device path of the ECU the worker serves; read it on the worker's thread.
    const std::string& ecu_device() const { return ecu_device_; }

    // The image rows as the worker left them; read them on the worker's thread (ecu_done).
    const std::array<image_row, 4>& rows() const { return rows_; }

    // The flash areas erased and not yet reprogrammed in this run.
    struct area_flags {
        bool firmware = false, boot_loader = false, fixed_model = false, dynamic_model = false;
    };

protected:
    void on_init() override;
    void on_command(int id) override;
    void on_ok() override;
    void on_device_change(const ui::device_event& e) override;
    void on_end() override;
    // What Browse does with the folder the technician picked.
    void choose_folder(std::string folder);

private:
    // Dialog helpers.
    void enable_controls(bool on);
    void reset_row(image_row& row);
    void show_waiting_status();

    // Worker.
    void run_worker(std::stop_token stop);
    void forget_last_ecu();
    void serve_ecu(std::stop_token stop);
    void fail_worker(std::string what) noexcept;
    bool identify();
    void look_up_row(const std::string& serial, const class pak_group_file& group, image_row& row);

    // Programming (image_programming.cpp).
    void run_update();
    bool program_image(image_row& row);
    void program_steps(image_row& row);
    // false when the erase requests raise a connection manager exception.
    bool erase(const std::function<void()>& request);
    bool dynamic_model_plan();
    bool fixed_model_plan();
    bool firmware_plan();

    connection_manager& connection_;
    options options_;
    std::vector<std::uint8_t> root_certificate_;
    std::string group_folder_;
    std::array<image_row, 4> rows_;
    area_flags area_erased_;
    std::array<std::uint32_t, 3> connected_firmware_version_{};
    std::mutex pause_mutex_;
    std::condition_variable_any pause_;
    std::atomic<bool> device_watch_failed_{false};
    std::string ecu_device_;  // the arrival the worker serves
    std::jthread worker_;
};

}  // namespace qx
