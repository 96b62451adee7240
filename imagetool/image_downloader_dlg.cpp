#include "imagetool/image_downloader_dlg.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <optional>

#include "imagetool/image_programming.h"
#include "platform/registry/device_registry.h"
#include "protocol/commands.h"
#include "protocol/defines.h"
#include "protocol/structs.h"

namespace qx {

using namespace imagetool;
using cm = connection_manager;

namespace {

constexpr std::size_t error_box_limit = 2047;

// Dump section table: (address, size) pairs, ended by an address of 0xFFFFFFFF.
constexpr std::size_t dump_sections = 14;
constexpr std::uint32_t dump_end = 0xFFFFFFFF;
constexpr std::uint32_t dump_table[dump_sections][2] = {
    {0x80100000, 0x20000}, {0x0C000000, 0x40000}, {0x001E0000, 0x20000}, {0x00000000, 0xE0000}, {0x00100000, 0x100000},
    {dump_end, 0}, {dump_end, 0}, {dump_end, 0}, {dump_end, 0}, {dump_end, 0}, {dump_end, 0}, {dump_end, 0},
    {dump_end, 0}, {dump_end, 0}};
constexpr std::uint32_t blank_unit = 8192;
constexpr std::uint32_t blank_piece = 8;
constexpr std::size_t blank_map_size = 256 * 1024;
constexpr std::uint32_t dump_piece = 2048;

constexpr auto size_8kbyte = std::uint8_t(*protocol::catalogue::define_value("TS_EEPROMBLANKCHECKREQUEST_SIZE_8KBYTE"));
constexpr auto size_8byte = std::uint8_t(*protocol::catalogue::define_value("TS_EEPROMBLANKCHECKREQUEST_SIZE_8BYTE"));

constexpr const char* powerseq_error = "OnBnClickedButtonImagedlPowerseqdlfile Error: ";
constexpr const char* powerseq_no_package = "OnBnClickedButtonImagedlPowerseqdlfile Error: No package loaded!";
constexpr const char* erase_failed_text = "OnBnClickedButtonImagedlDownloadfile Error: the erase before the download failed";
constexpr const char* download_stopped_text = "Download stopped by the technician.  The ECU is not fully programmed.";

// "0A0B0C0D" as its four bytes; nullopt for a serial number not shown in that form.
std::optional<std::array<std::uint8_t, 4>> serial_bytes(const std::string& text) {
    if (text.size() != 8) return std::nullopt;
    std::array<std::uint8_t, 4> out{};
    for (std::size_t i = 0; i < 8; ++i) {
        const char c = char(std::toupper(static_cast<unsigned char>(text[i])));
        const int v = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (v < 0) return std::nullopt;
        out[i / 2] = std::uint8_t(out[i / 2] << 4 | v);
    }
    return out;
}

bool same_class(const std::string& a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::atomic<bool> CImageDownloaderDlg::power_sequence_running_{false};

CImageDownloaderDlg::CImageDownloaderDlg(connection_manager& connection, std::span<const std::uint8_t> root_certificate)
    : ui::dialog(image_downloader_template()),
      connection_(connection),
      root_certificate_(root_certificate.begin(), root_certificate.end()),
      r8c_image_(std::make_unique<std::array<std::uint8_t, 65536>>()) {}

CImageDownloaderDlg::~CImageDownloaderDlg() {
    // A dialog destroyed without having run its end: the worker still goes before the members.
    if (worker_.joinable()) {
        worker_.request_stop();
        worker_.join();
    }
}

std::vector<std::uint8_t> CImageDownloaderDlg::r8c_image(std::uint32_t address, std::uint32_t n) const {
    const std::size_t from = std::min<std::size_t>(address, r8c_image_->size());
    const std::size_t to = std::min<std::size_t>(std::size_t(address) + n, r8c_image_->size());
    return {r8c_image_->begin() + std::ptrdiff_t(from), r8c_image_->begin() + std::ptrdiff_t(to)};
}

void CImageDownloaderDlg::error_box(const std::string& text) {
    ui().message_box(nullptr, {"Error", text.substr(0, error_box_limit), ui::MB_OK | ui::MB_ICONSTOP, false});
}

void CImageDownloaderDlg::unowned_box(const std::string& text, const std::string& caption) {
    ui().message_box(nullptr, {caption, text, ui::MB_OK, false});
}

void CImageDownloaderDlg::refresh_controls() {
    auto& m = model();
    m.set_text(IDC_ECU_SERIAL, ecu_serial_number_);
    m.set_text(IDC_PAK_FILE, package_file_name_);
    m.set_text(IDC_AUTHOR, author_);
    m.set_text(IDC_DATE, date_);
    m.set_text(IDC_R8C_FILE, r8c_file_name_);
}

void CImageDownloaderDlg::show_ecu_serial_number(std::string serial) {
    ecu_serial_number_ = std::move(serial);
    refresh_controls();
}

void CImageDownloaderDlg::set_all_buttons(bool on) {
    for (int id : {IDC_SELECT_FILE, IDC_DOWNLOAD_FILE, IDC_POWERSEQ_DOWNLOAD, IDC_ERASE_DYNAMIC_MODEL,
                   IDC_ERASE_FIXED_MODEL, IDC_R8C_SELECT_FILE, IDC_R8C_DOWNLOAD_FILE})
        model().set_enabled(id, on);
}

void CImageDownloaderDlg::on_init() {
    auto& m = model();
    if (!connection_.is_connected()) {
        m.set_enabled(IDC_DOWNLOAD_FILE, false);
        m.set_enabled(IDC_POWERSEQ_DOWNLOAD, false);
        return;
    }
    const bool application = connection_.target_mode == cm::mode_application;
    // The application offers only the power-sequence download and the peripheral upgrade, and
    // the choice of the package that the power-sequence download puts in.
    for (int id : {IDC_DOWNLOAD_FILE, IDC_ERASE_DYNAMIC_MODEL, IDC_ERASE_FIXED_MODEL}) m.set_enabled(id, !application);
    m.set_enabled(IDC_SELECT_FILE, true);
    for (int id : {IDC_POWERSEQ_DOWNLOAD, IDC_R8C_SELECT_FILE, IDC_R8C_DOWNLOAD_FILE}) m.set_enabled(id, application);
    if (application) return;
    try {
        show_ecu_serial_number(connection_.read_ecu_serial_number(root_certificate_));
    } catch (const cm::exception_command_error& e) {
        error_box("OnBnClickedButtonSecurityParsePak SECURITY_COMMAND ERROR=" + status_text(e.code));
        set_all_buttons(false);
    } catch (const qx::exception& e) {
        error_box("OnBnClickedButtonSecurityParsePak KesSendCommand ERROR=" + status_text(e.code));
        set_all_buttons(false);
    }
}

void CImageDownloaderDlg::on_command(int id) {
    // A click queued before its button was disabled does nothing, as on a disabled button.
    switch (id) {
        case IDC_SELECT_FILE:
        case IDC_DOWNLOAD_FILE:
        case IDC_ERASE_DYNAMIC_MODEL:
        case IDC_ERASE_FIXED_MODEL:
        case IDC_POWERSEQ_DOWNLOAD:
        case IDC_R8C_SELECT_FILE:
        case IDC_R8C_DOWNLOAD_FILE:
        case IDC_COREDUMP_SAVE:
            if (!model().enabled(id) || !model().visible(id)) return;
            break;
        default: break;
    }
    switch (id) {
        case IDC_SELECT_FILE: select_file(); break;
        case IDC_DOWNLOAD_FILE: download(work_stop_token()); break;
        case IDC_ERASE_DYNAMIC_MODEL: erase_dynamic_model_data(); break;
        case IDC_ERASE_FIXED_MODEL: erase_fixed_model(); break;
        case IDC_POWERSEQ_DOWNLOAD: start_power_sequence(); break;
        case IDC_COREDUMP_SAVE: core_dump_save(); break;
        case IDC_R8C_SELECT_FILE: r8c_select_file(); break;
        case IDC_R8C_DOWNLOAD_FILE: r8c_download_file(); break;
        default: dialog::on_command(id);
    }
}

// ---- Select File and Download File ------------------------------------------------------

bool CImageDownloaderDlg::show_application_serial() {
    try {
        show_ecu_serial_number(connection_.read_ecu_serial_number({}));
        return true;
    } catch (const qx::exception& e) {
        error_box(e.message);
        return false;
    }
}

void CImageDownloaderDlg::select_file() {
    // A package is matched to the serial number shown; the application is asked for it first.
    if (ecu_serial_number_.empty() && connection_.is_connected() && connection_.target_mode == cm::mode_application &&
        !show_application_serial())
        return;
    model().set_position(IDC_PROGRESS, 0);
    for (int radio : type_radios) model().set_checked(radio, false);
    ui::file_request request;
    request.title = "Open";
    request.filter = "PAK files (*.pak)|*.pak|All Files (*.*)|*.*||";
    const auto path = ui().choose_file(*this, request);
    if (!path) return;
    load_package(*path);
}

bool CImageDownloaderDlg::load_package(const std::string& path) {
    // The package a download is sending stays as it is.
    std::unique_lock lock(package_mutex_, std::try_to_lock);
    if (!lock) return false;
    package_file_name_ = path;
    package_loaded_ = false;
    package_.reset();
    package_image_.release();
    try {
        try {
            package_.load_layout2(path, package_image_);
        } catch (const pak_file::exception_invalid&) {
            package_.reset();
            package_image_.release();
            package_.load_layout1(path, package_image_);
        }
    } catch (const pak_file::exception_file_not_found&) {
        error_box("Failed to open input file: " + path);
        return false;
    } catch (const pak_file::exception_invalid&) {
        error_box("Input file '" + path + "' invalid pak file.");
        return false;
    } catch (const std::exception&) {
        error_box("Unknown error for input file: " + path);
        return false;
    }
    package_loaded_ = true;
    if (package_.serial_number != ecu_serial_number_) {
        message_box("OnBnClickedButtonImagedlSelectfile Error: Serial number mismatch!", "ERROR!");
        package_loaded_ = false;
        package_image_.release();  // keys and image of another ECU are not kept
        return false;
    }
    author_ = package_.author;
    date_ = package_.date;
    for (int i = 0; i < 4; ++i) {
        model().set_enabled(type_radios[i], false);
        model().set_checked(type_radios[i], package_.image_type == std::uint32_t(i));
    }
    refresh_controls();
    return true;
}

bool CImageDownloaderDlg::download_failed(const std::string& text, const std::stop_token& stop) {
    // Stop closed the link: the exchange under way failed for that, and the technician hears
    // so. The dialog ending stops it without a word.
    if (work_stop_token().stop_requested()) error_box(download_stopped_text);
    else if (!stop.stop_requested() && !text.empty()) error_box(text);
    return false;
}

bool CImageDownloaderDlg::download(std::stop_token stop) {
    if (!package_loaded_) return false;
    // One download at a time: the worker's and the button's never overlap.
    std::unique_lock lock(package_mutex_, std::try_to_lock);
    if (!lock || !package_loaded_) return false;

    int type = -1;
    for (int i = 0; i < 4 && type < 0; ++i)
        if (model().checked(type_radios[i])) type = i;
    if (type < 0) {
        error_box("Unknown image type.");
        return false;
    }

    try {
        const std::string serial = connection_.read_ecu_serial_number(package_image_.certificate.bytes());
        // The images of another ECU are not sent to this one.
        if (serial != package_.serial_number) {
            error_box("ERROR:(Certificate match) ECU Security problem. Please check that this file is intended for this ECU!");
            return false;
        }
    } catch (const cm::exception_command_error& e) {
        return download_failed(
            "OnBnClickedButtonImagedlDownloadfile SECURITY_COMMAND SECURITY_TEST_FUNCTION_VALIDATE_CRYPTO_CERT ERROR=" +
            status_text(e.code), stop);
    } catch (const qx::exception& e) {
        return download_failed(
            "OnBnClickedButtonImagedlDownloadfile KesSendCommand SECURITY_COMMAND SECURITY_TEST_FUNCTION_VALIDATE_CRYPTO_CERT ERROR=" +
            status_text(e.code), stop);
    }

    try {
        cm::security_request keys;
        keys.sub_function = SECURITY_TEST_FUNCTION_SEND_SYMMETRIC_KEYS;
        keys.key0 = package_image_.key_blocks[0];
        connection_.security_command(keys);
    } catch (const cm::exception_command_error& e) {
        // Without its keys the ECU cannot decrypt a single block: nothing is erased or sent.
        return download_failed("OnBnClickedButtonSecurityParsePak SECURITY_COMMAND SECURITY_TEST_FUNCTION_SEND_SYMMETRIC_KEYS ERROR=" +
                               status_text(e.code), stop);
    } catch (const qx::exception& e) {
        return download_failed(
            "OnBnClickedButtonImagedlDownloadfile KesSendCommand SECURITY_COMMAND SECURITY_TEST_FUNCTION_SEND_SYMMETRIC_KEYS ERROR=" +
            status_text(e.code), stop);
    }

    auto& m = model();
    const std::span<const std::uint8_t> image = package_image_.image_data.bytes();
    m.set_step(IDC_PROGRESS, 1);
    m.set_range(IDC_PROGRESS, 0, progress_range(std::uint32_t(type), std::uint32_t(image.size())));
    m.set_position(IDC_PROGRESS, 0);
    std::string failure;
    image_programmer programmer(
        connection_, [&failure](const std::string& text) { failure = text; }, [this] { model().step_it(IDC_PROGRESS); });
    if (!programmer.erase_for(std::uint32_t(type))) return download_failed(erase_failed_text, stop);
    if (type != image_firmware) m.step_it(IDC_PROGRESS);
    if (!programmer.send_blocks(std::uint32_t(type), image, stop)) return download_failed(failure, stop);
    message_box("Firmware loaded succesfully", "Success!");
    return true;
}

// ---- Model erases -----------------------------------------------------------------------

void CImageDownloaderDlg::erase_dynamic_model_data() {
    try {
        connection_.read_ecu_serial_number(root_certificate_);
    } catch (const cm::exception_command_error& e) {
        error_box("OnBnClickedButtonSecurityParsePak SECURITY_COMMAND ERROR=" + status_text(e.code));
    } catch (const qx::exception& e) {
        error_box("OnBnClickedButtonSecurityParsePak KesSendCommand ERROR=" + status_text(e.code));
    }
    image_programmer programmer(connection_, [](const std::string&) {}, [] {});
    std::uint16_t device = 0;  // a failed query counts as no SST39xx part
    // Success is claimed only when every part that may hold model data was erased: after a
    // failed query or a failed SST39xx erase the dynamic area is still erased, but not reported
    // as done.
    bool whole = true;
    try {
        device = programmer.flash_device();
    } catch (const cm::exception_command_error& e) {
        whole = false;
        error_box("OnBnClickedButtonSecurityParsePak SECURITY_COMMAND SECURITY_TEST_FUNCTION_GET_FLASH_DEVICE ERROR=" +
                  status_text(e.code));
    } catch (const qx::exception& e) {
        whole = false;
        error_box("OnBnClickedButtonImagedlDownloadfile KesSendCommand SECURITY_COMMAND SECURITY_TEST_FUNCTION_GET_FLASH_DEVICE ERROR=" +
                  status_text(e.code));
    }
    auto& m = model();
    m.set_step(IDC_PROGRESS, 1);
    m.set_range(IDC_PROGRESS, 0, 2);
    m.set_position(IDC_PROGRESS, 0);
    if (flash::is_sst39_device(device)) {
        try {
            programmer.erase(flash::external_start, flash::external_blocks);
            m.step_it(IDC_PROGRESS);
        } catch (const qx::exception&) {
            whole = false;
            message_box("OnBnClickedButtonImagedlEraseDynamicModelData Error: KesSendCommand SST39XX EEPROM_ERASE_BLOCKS failed",
                        "ERROR!");
        }
    } else {
        m.step_it(IDC_PROGRESS);
    }
    try {
        programmer.erase(flash::dynamic_model_start, flash::dynamic_model_blocks);
        m.step_it(IDC_PROGRESS);
        if (whole) message_box("Dynamic model data erased succesfully", "Success!");
    } catch (const qx::exception&) {
        message_box("OnBnClickedButtonImagedlEraseDynamicModelData Error: KesSendCommand EEPROM_ERASE_BLOCKS failed", "ERROR!");
    }
}

void CImageDownloaderDlg::erase_fixed_model() {
    image_programmer programmer(connection_, [](const std::string&) {}, [] {});
    auto& m = model();
    m.set_step(IDC_PROGRESS, 1);
    m.set_range(IDC_PROGRESS, 0, 8);
    m.set_position(IDC_PROGRESS, 0);
    try {
        programmer.erase(flash::dynamic_model_start, flash::dynamic_model_blocks);
        m.step_it(IDC_PROGRESS);
    } catch (const qx::exception&) {
        message_box("OnBnClickedButtonImagedlEraseFixedModel Error: KesSendCommand EEPROM_ERASE_BLOCKS 0 failed", "ERROR!");
        return;
    }
    for (std::uint32_t k = 0; k < flash::fixed_model_count; ++k) {
        m.step_it(IDC_PROGRESS);
        try {
            programmer.erase(flash::fixed_model_start + k * flash::fixed_model_stride, 1);
        } catch (const qx::exception&) {
            message_box("OnBnClickedButtonImagedlEraseFixedModel Error: KesSendCommand EEPROM_ERASE_BLOCKS 1 failed", "ERROR!");
            return;
        }
    }
    message_box("Fixed model erased succesfully", "Success!");
}

// ---- Power-sequence download ------------------------------------------------------------

bool CImageDownloaderDlg::start_power_sequence() {
    // The ECU a running worker waits for or programs gets no second reset.
    if (power_sequence_running_) return false;
    // Nothing to program: the ECU is not reset for nothing.
    if (!package_loaded_) {
        error_box(powerseq_no_package);
        return false;
    }
    try {
        register_device_notification(std::string(platform::ecu_interface_class));
        ++registrations_;
    } catch (const std::exception& e) {
        error_box(std::string(powerseq_error) + "device notifications unavailable: " + e.what());
        return false;
    }
    {
        std::lock_guard lock(worker_mutex_);
        ecu_arrived_ = false;
    }
    try {
        try {
            connection_.execute_command(protocol::CONFIGURATION_MODE_STOP);
        } catch (const cm::exception_bad_state&) {
            // already stopped
        }
        connection_.peripheral_io_control(4, 0);
        connection_.peripheral_io_control(1, 0x1000);
    } catch (const cm::exception_command_error& e) {
        unregister_device_notification();
        error_box("PerformResetSequence  PERIPHERAL_IO_CONTROL ERROR=" + status_text(e.code));
        return false;
    } catch (const qx::exception& e) {
        unregister_device_notification();
        error_box("PerformResetSequence  KesSendCommand ERROR=" + status_text(e.code));
        return false;
    }
    // The sequence goes on without a handler: its work lasts until its worker ends.
    power_sequence_hold_ = begin_work();
    return true;
}

void CImageDownloaderDlg::on_device_change(const ui::device_event& e) {
    if (e.device_type != 5 || !same_class(e.interface_class, platform::ecu_interface_class)) return;
    if (e.kind == ui::device_event::arrival) {
        {
            std::lock_guard lock(worker_mutex_);
            ecu_arrived_ = true;
        }
        worker_wake_.notify_all();
        return;
    }
    // Removal complete: the ECU restarts. The flag is taken here, so that no second removal
    // (of this or another dialog) starts a second worker before this one runs.
    if (power_sequence_running_.exchange(true)) return;
    {
        std::lock_guard lock(worker_mutex_);
        ecu_arrived_ = false;
    }
    if (worker_.joinable()) worker_.join();  // the previous worker has ended: it cleared the flag
    work_hold hold = power_sequence_hold_ ? std::move(power_sequence_hold_) : begin_work();
    worker_ = std::jthread([this, registration = registrations_, hold = std::move(hold)](std::stop_token stop) mutable {
        power_sequence_worker(stop, registration, std::move(hold));
    });
}

bool CImageDownloaderDlg::pause_before_retry(std::stop_token stop, int) {
    std::unique_lock lock(worker_mutex_);
    worker_wake_.wait_for(lock, stop, std::chrono::milliseconds(1000), [] { return false; });
    return !stop.stop_requested();
}

void CImageDownloaderDlg::power_sequence_worker(std::stop_token end, unsigned registration, work_hold hold) {
    // Ends with the dialog, or when the technician chose Stop.
    std::stop_source halt;
    std::stop_callback dialog_ends(end, [&halt] { halt.request_stop(); });
    std::stop_callback stop_chosen(work_stop_token(), [&halt] { halt.request_stop(); });
    const std::stop_token stop = halt.get_token();
    bool downloaded = false;
    try {
        if (connection_.is_connected()) connection_.disconnect();
        {
            std::unique_lock lock(worker_mutex_);
            while (!ecu_arrived_ && !stop.stop_requested())
                worker_wake_.wait_for(lock, stop, std::chrono::milliseconds(100), [this] { return ecu_arrived_.load(); });
        }
        bool connected = false;
        for (int attempt = 1; !stop.stop_requested(); ++attempt) {
            try {
                connection_.connect();
                connected = true;
                break;
            } catch (const cm::exception_connection_failed&) {
                if (attempt >= max_connect_attempts || !pause_before_retry(stop, attempt)) break;
            }
        }
        if (connected && !stop.stop_requested() && begin_power_sequence_download()) {
            if (!package_loaded_) {
                error_box(powerseq_no_package);
            } else {
                downloaded = download(stop);
                // Reported only when it is true: a failed download has shown its own message.
                if (downloaded)
                    unowned_box("OnBnClickedButtonImagedlPowerseqdlfile Firmware download successful ... please turn the ignition switch off",
                                "Success!");
            }
        }
    } catch (const std::exception& e) {
        // A connect failure of another kind (a version mismatch), or anything the download let
        // through: reported, never an abort of the program.
        error_box(std::string(powerseq_error) + e.what());
    } catch (...) {
        error_box(std::string(powerseq_error) + "unknown failure");
    }
    // No later leave and return of the ECU starts another worker (a registration of a later
    // click stays).
    post([this, registration] {
        if (registrations_ == registration) unregister_device_notification();
    });
    power_sequence_running_ = false;
    hold.release();
    on_power_sequence_finished(downloaded);
}

void CImageDownloaderDlg::on_stop() {
    // An exchange that waits for the ECU ends now, as if it had been unplugged; a power
    // sequence still waiting for the ECU to leave waits no longer.
    connection_.break_link();
    post([this] {
        if (!power_sequence_hold_) return;
        power_sequence_hold_.release();
        unregister_device_notification();
    });
}

void CImageDownloaderDlg::on_end() {
    power_sequence_hold_.release();
    if (worker_.joinable()) {
        worker_.request_stop();
        // A worker waiting for an ECU that does not answer ends at once.
        if (working()) connection_.break_link();
        worker_.join();
    }
}

// ---- Core dump --------------------------------------------------------------------------

void CImageDownloaderDlg::core_dump_save() {
    const bool keep = bool(core_dump_sink_);
    core_dump dump;
    try {
        std::array<std::uint8_t, dump_sections * 8> table{};
        for (std::size_t i = 0; i < dump_sections; ++i) {
            std::memcpy(table.data() + i * 8, &dump_table[i][0], 4);
            std::memcpy(table.data() + i * 8 + 4, &dump_table[i][1], 4);
        }
        std::array<std::uint8_t, protocol::MAX_TRANSFERSTRUCTS_SIZE> returned{};
        cm::security_request prepare;
        prepare.sub_function = 12;
        prepare.key0 = table;
        dump.time = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
        const std::size_t answered = connection_.security_command(prepare, returned);
        if (keep) {
            dump.prepare_answer.assign(returned.begin(), returned.begin() + std::ptrdiff_t(std::min(answered, returned.size())));
            if (const auto serial = serial_bytes(ecu_serial_number_)) dump.serial_number = *serial;
        }

        auto blank = [this](std::uint32_t address, std::uint8_t size) {
            protocol::EepromBlankCheckRequest_TS request{};
            request.source_address = address;
            request.size = size;
            protocol::GenericStatusResponse_TS response{};
            connection_.send_command(protocol::EEPROM_BLANK_CHECK_BLOCK, &request, sizeof request, &response, sizeof response);
            return response.status == 0;
        };
        for (const auto& entry : dump_table) {
            const std::uint32_t address = entry[0], size = entry[1];
            if (address == dump_end) break;
            core_dump_section section;
            section.address = address;
            if (address == flash::dynamic_model_start || address == flash::external_start) {
                // One byte per flash byte: 0x00 blank, 0xFF written.
                std::vector<std::uint8_t> map(blank_map_size, 0x00);
                for (std::uint32_t unit = 0; unit < size / blank_unit; ++unit) {
                    const std::uint32_t at = unit * blank_unit;
                    if (blank(address + at, size_8kbyte)) continue;
                    for (std::uint32_t piece = 0; piece < blank_unit; piece += blank_piece)
                        if (!blank(address + at + piece, size_8byte) && at + piece + blank_piece <= map.size())
                            std::fill_n(map.begin() + std::ptrdiff_t(at + piece), blank_piece, 0xFF);
                }
                if (keep) {
                    map.resize(std::min<std::size_t>(map.size(), size));
                    section.blank_map = std::move(map);
                }
            }
            if (keep) section.data.reserve(size);
            for (std::uint32_t at = 0; at < size; at += dump_piece) {
                cm::security_request read;
                read.sub_function = 13;
                read.size = dump_piece;
                read.address = address + at;
                returned.fill(0);
                const std::size_t got = connection_.security_command(read, returned);
                if (!keep) continue;
                // A piece the ECU did not send whole is not kept as memory.
                const std::size_t wanted = std::min<std::size_t>(dump_piece, size - at);
                if (got < wanted) throw cm::exception_communication_error("Core dump piece of " + std::to_string(got) + " bytes");
                section.data.insert(section.data.end(), returned.begin(), returned.begin() + std::ptrdiff_t(wanted));
            }
            if (keep) dump.sections.push_back(std::move(section));
        }
    } catch (const cm::exception_command_error& e) {
        error_box("OnBnClickedButtonCoredumpSave SECURITY_COMMAND SECURITY_TEST_FUNCTION_PREPARE_DUMP ERROR=" + status_text(e.code));
        return;
    } catch (const qx::exception& e) {
        error_box("OnBnClickedButtonCoredumpSave KesSendCommand SECURITY_COMMAND SECURITY_TEST_FUNCTION_PREPARE_DUMP ERROR=" +
                  status_text(e.code));
        return;
    }
    if (keep) core_dump_sink_(std::move(dump));
}

}  // namespace qx
