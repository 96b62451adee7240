#include "update/update_image_dlg.h"

#include <fstream>
#include <iterator>

#include "core/certificate_reader.h"
#include "pak/pak_group_file.h"
#include "update/update_failure.h"
#include "platform/registry/device_registry.h"

namespace qx {

std::atomic<bool> update_busy{false};

std::string no_ecu_answered_text(int attempts) {
    return "No ECU answered after " + std::to_string(attempts) + " connection attempts.";
}

namespace {

namespace id = update_ids;
using cm = connection_manager;

}  // namespace

CUpdateImageDlg::CUpdateImageDlg(connection_manager& connection, options opts)
    : ui::dialog(update_image_template()), connection_(connection), options_(std::move(opts)) {
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        rows_[i].ids = &update_rows[i];
        rows_[i].type_code = update_rows[i].type_code;
    }
}

CUpdateImageDlg::~CUpdateImageDlg() {
    worker_.request_stop();
    pause_.notify_all();
}

void CUpdateImageDlg::enable_controls(bool on) {
    model().set_enabled(id::path, on);
    model().set_enabled(id::browse, on);
    for (const image_row_ids& r : update_rows) {
        model().set_enabled(r.continue_button, on);
        model().set_enabled(r.cancel_button, on);
        model().set_checked(r.checkbox, false);
    }
    model().set_enabled(id::done, on);
}

void CUpdateImageDlg::reset_row(image_row& row) {
    const image_row_ids& r = *row.ids;
    model().set_checked(r.checkbox, false);
    model().set_enabled(r.checkbox, false);
    model().set_range(r.progress, 0, 100);
    model().set_position(r.progress, 0);
    row.source_path.clear();
    for (const int edit : {r.image, r.author, r.date, r.version}) model().set_text(edit, "");
    model().set_text(r.status, "Waiting...");
    model().set_visible(r.continue_button, false);
    model().set_visible(r.cancel_button, false);
    model().set_bitmap(r.lamp, lamp_yellow);
}

void CUpdateImageDlg::show_waiting_status() {
    model().set_bitmap(id::main_lamp, lamp_yellow);
    if (group_folder_.empty())
        model().set_text(id::main_status, "Waiting for Path selection.");
    else
        model().set_text(id::main_status, connection_.is_connected() ? "Waiting for ECU reconnect." : "Waiting for ECU connection.");
}

void CUpdateImageDlg::on_init() {
    group_folder_.clear();
    model().set_text(id::path, "");
    model().set_range(id::main_progress, 0, 100);
    model().set_position(id::main_progress, 0);
    model().set_text(id::serial_number, "");
    model().set_text(id::progress_text, "Waiting...");
    model().set_bitmap(id::main_lamp, lamp_yellow);
    for (image_row& row : rows_) reset_row(row);
    enable_controls(true);

    std::string failure_text;
    const certificate_file read = read_certificate_file(options_.root_certificate_path, root_certificate_);
    if (read == certificate_file::cannot_open) {
        failure_text = "No root certificate found.  Cannot continue.";
    } else if (read == certificate_file::unreadable || root_certificate_.empty()) {
        // An empty file cannot identify any ECU, nor can one longer than any certificate:
        // refused like an unreadable one.
        failure_text = "Cannot read root certificate.  Cannot continue.";
    }
    if (!failure_text.empty()) {
        message_box(failure_text, "ERROR!", ui::MB_OK);
        post_close();
        return;
    }
    model().set_text(id::main_status, "Waiting for Path selection.");
    if (connection_.is_connected()) connection_.disconnect();
    try {
        register_device_notification(std::string(platform::ecu_interface_class));
    } catch (const std::exception& e) {
        // Without arrival notifications no ECU would ever be served.
        device_watch_failed_ = true;
        const std::string text = "Cannot watch for ECU connections (" + std::string(e.what()) + ").  Cannot continue.";
        model().set_bitmap(id::main_lamp, lamp_red);
        model().set_text(id::main_status, text);
        message_box(text, "ERROR!", ui::MB_OK | ui::MB_ICONSTOP);
        post_close();
    }
}

void CUpdateImageDlg::on_command(int cid) {
    if (cid == id::browse) {
        const auto folder = ui().browse_folder(*this, "Choose the PAK GROUP file(s) location.");
        if (folder && !folder->empty()) choose_folder(*folder);
        return;
    }
    for (const image_row_ids& r : update_rows)
        if (cid == r.checkbox) {
            show_waiting_status();
            return;
        }
    ui::dialog::on_command(cid);
}

void CUpdateImageDlg::choose_folder(std::string folder) {
    group_folder_ = std::move(folder);
    if (group_folder_.back() != '/') group_folder_ += '/';
    model().set_text(id::path, group_folder_);
    show_waiting_status();
}

void CUpdateImageDlg::on_ok() {
    unregister_device_notification();
    if (connection_.is_connected()) connection_.disconnect();
    end_dialog(ui::IDOK);
}

void CUpdateImageDlg::on_end() {
    // The worker belongs to the dialog: it is stopped and waited for, whichever way the dialog
    // ends. A running update finishes its current exchange first; one that waits for an ECU
    // that does not answer ends at once.
    worker_.request_stop();
    {
        std::lock_guard lock(pause_mutex_);
    }
    pause_.notify_all();
    if (working()) connection_.break_link();
    if (worker_.joinable()) worker_.join();
}

void CUpdateImageDlg::on_stop() {
    stopping_ = true;
    {
        std::lock_guard lock(pause_mutex_);
    }
    pause_.notify_all();
    // A read that waits for the ECU ends now, as if it had been unplugged.
    connection_.break_link();
}

void CUpdateImageDlg::on_device_change(const ui::device_event& e) {
    if (e.device_type != 5 || e.interface_class != platform::ecu_interface_class || update_busy) return;
    if (e.kind == ui::device_event::arrival) {
        if (worker_.joinable()) worker_.join();  // the last one has ended: update_busy is clear
        update_busy = true;
        stopping_ = false;
        // The worker serves the ECU that arrived, never another one that is plugged in too.
        ecu_device_ = e.path;
        worker_ = std::jthread([this, hold = begin_work()](std::stop_token stop) mutable { run_worker(stop, std::move(hold)); });
    } else {
        model().set_bitmap(id::main_lamp, lamp_yellow);
        model().set_text(id::main_status, "Waiting for ECU connection.");
    }
}

// Nothing of the previous ECU may stay on screen once another one arrives.
void CUpdateImageDlg::forget_last_ecu() {
    for (image_row& row : rows_) reset_row(row);
    model().set_range(id::main_progress, 0, 100);
    model().set_position(id::main_progress, 0);
    model().set_text(id::progress_text, "Waiting...");
    model().set_text(id::serial_number, "");
    model().set_text(id::version, "");
}

void CUpdateImageDlg::run_worker(std::stop_token stop, work_hold hold) {
    update_busy = true;
    if (options_.worker_started) options_.worker_started();
    try {
        forget_last_ecu();
        serve_ecu(stop);
    } catch (const std::exception& e) {
        fail_worker(e.what());
    } catch (...) {
        fail_worker("unknown failure");
    }
    // Whatever the step that was stopped showed, the technician is told why it ended.
    if (stopping_) {
        area_erased_ = {};
        enable_controls(true);
        model().set_bitmap(id::main_lamp, lamp_red);
        model().set_text(id::main_status, update_stopped_text);
    }
    if (options_.ecu_done) options_.ecu_done();
    try {
        if (connection_.is_connected()) connection_.disconnect();
    } catch (...) {
    }
    connection_.use_device({});
    update_busy = false;
    hold.release();
    if (options_.after_worker) options_.after_worker();
}

// A failure that no step of the worker expected: the ECU is left as it is and the technician
// is told that this ECU was not updated.
void CUpdateImageDlg::fail_worker(std::string what) noexcept {
    try {
        area_erased_ = {};
        enable_controls(true);
        while (!what.empty() && what.back() == '.') what.pop_back();
        model().set_bitmap(id::main_lamp, lamp_red);
        model().set_text(id::main_status, "Update stopped: " + what + ".  Waiting for ECU reconnect.");
    } catch (...) {
    }
}

void CUpdateImageDlg::serve_ecu(std::stop_token stop) {
    if (connection_.is_connected()) connection_.disconnect();
    connection_.use_device(ecu_device_);
    bool connected = false;
    // A front-end that stopped every exchange (on a signal) needs no further attempts.
    for (int attempt = 1; attempt <= options_.connect_attempts && !stopped(stop) && !connection_manager::exchanges_stopped();
         ++attempt) {
        try {
            connection_.connect();
            connected = true;
            break;
        } catch (const cm::exception_connection_failed&) {
            if (attempt == options_.connect_attempts) break;
            std::unique_lock lock(pause_mutex_);
            pause_.wait_for(lock, stop, options_.connect_pause, [this] { return stopping_.load(); });
        } catch (const cm::exception_target_version_mismatch&) {
            connected = true;
            break;
        }
    }
    if (stopped(stop)) return;
    if (!connected) {
        if (connection_manager::exchanges_stopped()) return;
        model().set_bitmap(id::main_lamp, lamp_red);
        model().set_text(id::main_status, no_ecu_answered_text(options_.connect_attempts));
        if (options_.no_answer) options_.no_answer();
        return;
    }
    if (identify()) {
        run_update();
        enable_controls(true);
        model().set_bitmap(id::main_lamp, lamp_yellow);
        model().set_text(id::main_status, "Safe to disconnect ECU.");
    }
}

bool CUpdateImageDlg::identify() {
    enable_controls(false);
    connected_firmware_version_ = {};
    try {
        if (connection_.target_mode != cm::mode_boot_loader)
            throw update_failure{"ECU not in firmware upgrade mode.  Waiting for ECU reconnect."};
        std::string serial;
        try {
            serial = connection_.read_ecu_serial_number(root_certificate_);
        } catch (const cm::exception&) {
            throw update_failure{"Could not retrieve ECU serial number.  Waiting for ECU reconnect."};
        }
        model().set_text(id::serial_number, serial);
        model().set_text(id::version, "none");

        pak_group_file group(serial);
        group.open(group_folder_ + serial + ".pakgrp");
        // A package that failed its own checks would silently go missing from the update.
        if (group.entries.size() < group.declared_count)
            throw update_failure{"Update file for connected ECU invalid.  Waiting for ECU reconnect."};
        for (const pak_group_entry& e : group.entries)
            if (e.entry_type <= 3)
                for (const image_row& row : rows_)
                    if (row.type_code == e.entry_type) model().set_checked(row.ids->checkbox, true);
        for (image_row& row : rows_) look_up_row(serial, group, row);
        static const char* const row_errors[] = {
            "Bootloader Error.  Waiting for ECU reconnect.", "Firmware Error.  Waiting for ECU reconnect.",
            "Fixed Model Error.  Waiting for ECU reconnect.", "Dynamic Model Error.  Waiting for ECU reconnect."};
        for (std::size_t i = 0; i < rows_.size(); ++i)
            if (model().checked(rows_[i].ids->checkbox) && rows_[i].source_path.empty()) throw update_failure{row_errors[i]};
        return true;
    } catch (const update_failure& f) {
        model().set_text(id::main_status, f.text);
    } catch (const pak_group_file::exception_file_not_found&) {
        model().set_text(id::main_status, "Could not find update file for connected ECU.  Waiting for ECU reconnect.");
    } catch (const pak_group_file::exception&) {
        model().set_text(id::main_status, "Update file for connected ECU invalid.  Waiting for ECU reconnect.");
    }
    enable_controls(true);
    model().set_bitmap(id::main_lamp, lamp_red);
    return false;
}

void CUpdateImageDlg::look_up_row(const std::string& serial, const pak_group_file& group, image_row& row) {
    const image_row_ids& r = *row.ids;
    row.source_path.clear();
    for (const int edit : {r.image, r.author, r.date}) model().set_text(edit, "");
    model().set_position(r.progress, 0);
    model().set_text(r.status, "");
    model().set_text(r.version, "");
    model().set_text(r.status, "Looking for PAK image.");

    const pak_group_entry* entry = nullptr;
    for (const pak_group_entry& e : group.entries)
        if (e.entry_type == row.type_code) {
            entry = &e;
            break;
        }
    if (!entry) {
        model().set_bitmap(r.lamp, lamp_grey);
        model().set_text(r.status, "Not selected for update.");
        model().set_checked(r.checkbox, false);
        return;
    }
    try {
        model().set_text(r.status, "PAK image found.  Validating.");
        model().set_checked(r.checkbox, true);
        model().set_text(r.image, entry->name);
        {
            std::ifstream file;
            file.rdbuf()->pubsetbuf(nullptr, 0);  // the package's bytes pass through the reader's buffer alone
            file.open(group.path, std::ios::binary);
            if (!file) throw update_failure{"Invalid PAK image."};
            if (entry->header.layout == 2) row.package.read_layout2(file, entry->package_position, row.image);
            else row.package.read_layout1(file, entry->package_position, row.image);
        }
        if (row.package.serial_number != serial) throw update_failure{"PAK image not for given ECU.  Serial number mismatch."};
        model().set_text(r.author, row.package.author);
        if (row.package.image_type != row.type_code) throw update_failure{"File type mismatch."};
        row.image_version = row.package.version;
        model().set_text(r.version, row.image_version ? std::to_string(row.image_version) : "none");
        model().set_text(r.date, row.package.date);
        try {
            if (connection_.read_ecu_serial_number(row.image.certificate.bytes()) != serial)
                throw update_failure{"File not for given ECU.  Serial number mismatch."};
        } catch (const cm::exception_command_error&) {
            throw update_failure{"Command Error.  Check USB connection."};
        } catch (const cm::exception&) {
            throw update_failure{"Communication Error.  Check USB connection."};
        }
        model().set_bitmap(r.lamp, lamp_green);
        model().set_text(r.status, "Ready.");
        row.source_path = group.path;
    } catch (const update_failure& f) {
        model().set_bitmap(r.lamp, lamp_red);
        model().set_text(r.status, f.text);
    } catch (const pak_file::exception_file_not_found&) {
        model().set_bitmap(r.lamp, lamp_red);
        model().set_text(r.status, "No PAK image found.");
    } catch (const pak_file::exception_invalid&) {
        model().set_bitmap(r.lamp, lamp_red);
        model().set_text(r.status, "PAK image invalid.");
    } catch (const pak_file::exception_out_of_memory&) {
        model().set_bitmap(r.lamp, lamp_red);
        model().set_text(r.status, "PAK image cannot be read.");
    } catch (const pak_file::exception& e) {
        model().set_bitmap(r.lamp, lamp_red);
        model().set_text(r.status, e.message);
    }
}

}  // namespace qx
