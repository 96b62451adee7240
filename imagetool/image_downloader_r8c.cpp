// The "Upgrade R8C" group: the peripheral microcontroller's flash, block by block, through
// SH_TO_PERIPHERAL_COMMAND sent straight to the library.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "core/request_block.h"
#include "core/response_view.h"
#include "imagetool/image_downloader_dlg.h"
#include "imagetool/image_programming.h"
#include "protocol/commands.h"
#include "protocol/defines.h"
#include "protocol/layout.h"
#include "protocol/status.h"
#include "protocol/structs.h"
#include "transfer/trelink.h"

namespace qx {

using cm = connection_manager;
using imagetool::IDC_PROGRESS;

namespace {

using namespace protocol;

// peripheral_command values: the ECU command codes of the same names.
constexpr std::uint8_t op_read_data_block = READ_DATA_BLOCK;
constexpr std::uint8_t op_write_data_block = WRITE_DATA_BLOCK;
constexpr std::uint8_t op_program_block = EEPROM_PROGRAM_BLOCK;
constexpr std::uint8_t op_erase_block = EEPROM_ERASE_BLOCKS;
constexpr std::uint8_t op_execute_in_block = PERIPHERAL_EXECUTE_IN_BLOCK;
constexpr std::uint8_t op_get_info = PERIPHERAL_GET_INFO;
static_assert(op_read_data_block == 1 && op_write_data_block == 2 && op_program_block == 3 && op_erase_block == 4 &&
              op_execute_in_block == 8 && op_get_info == 9);

constexpr std::size_t r8c_flash_size = 65536;
// SH_Peripheral_Request_TS (12) around WriteDataRequest_DTS (12): what one request leaves for data.
constexpr std::uint32_t max_block_data = MAX_TRANSFERSTRUCTS_SIZE - 12 - 12;

template <class T>
std::span<const std::uint8_t> bytes_of(const T& v) {
    return {reinterpret_cast<const std::uint8_t*>(&v), sizeof v};
}

// One peripheral operation at a time: lays out the request, sends it, and views the answer.
class peripheral_port {
public:
    peripheral_port(connection_manager& connection, std::uint8_t* response) : connection_(connection), response_(response) {}

    // False when laying out fails (too large for one request).
    bool lay_out(std::uint8_t operation, std::span<const std::uint8_t> packet) {
        try {
            request_.emplace("SH_Peripheral_Request_TS");
            request_->as<SH_Peripheral_Request_TS>()->peripheral_command = operation;
            request_->set_array(offsetof(SH_Peripheral_Request_TS, peripheral_command_packet), 1, packet);
            size_ = request_->lay_out();
            return true;
        } catch (const qx::exception&) {
            return false;
        }
    }

    // The peripheral's answer (the response's byte array); nullopt when the exchange failed.
    std::optional<std::span<const std::uint8_t>> send() {
        if (!connection_.is_connected()) return std::nullopt;
        std::uint16_t returned = 0;
        std::memset(response_, 0, MAX_TRANSFERSTRUCTS_SIZE);
        // Under the manager's exchange lock: the library serialises nothing itself.
        if (connection_.library_exchange(SH_TO_PERIPHERAL_COMMAND, request_->data(), size_, response_,
                                         std::uint16_t(MAX_TRANSFERSTRUCTS_SIZE), returned) != 0)
            return std::nullopt;
        try {
            const std::span<const std::uint8_t> received(response_, std::min<std::size_t>(returned, MAX_TRANSFERSTRUCTS_SIZE));
            return view_array(received, offsetof(GenericArray_DTS, element_size), offsetof(GenericArray_DTS, data),
                              sizeof(GenericArray_DTS))
                .bytes;
        } catch (const qx::exception&) {
            return std::nullopt;
        }
    }

private:
    connection_manager& connection_;
    std::uint8_t* response_;
    std::optional<request_block> request_;
    std::uint16_t size_ = 0;
};

}  // namespace

void CImageDownloaderDlg::r8c_select_file() {
    ui::file_request request;
    request.title = "Open";
    request.filter = "FirmwareImage files (*.bin)|*.bin|All Files (*.*)|*.*||";
    const auto path = ui().choose_file(*this, request);
    if (!path) return;
    std::ifstream in(*path, std::ios::binary);
    std::error_code ec;
    const std::uintmax_t length = std::filesystem::file_size(*path, ec);
    if (!in || ec) {
        error_box("Failed to open input file: " + *path);
    } else {
        // Bytes past the end of a shorter file are zero, never those of an earlier file.
        r8c_image_->fill(0);
        in.read(reinterpret_cast<char*>(r8c_image_->data()), std::streamsize(r8c_image_->size()));
        r8c_length_ = std::uint32_t(std::min<std::uintmax_t>(length, 0xFFFFFFFF));
        r8c_loaded_ = true;
        r8c_file_name_ = *path;
    }
    if (r8c_loaded_) refresh_controls();
}

void CImageDownloaderDlg::r8c_download_file() {
    if (!r8c_loaded_) {
        message_box("OnBnClickedR8CCommandsExecuteupgrade Error: No R8C Firmware File loaded!", "ERROR!");
        return;
    }
    const bool ok = r8c_upgrade();
    if (ok) message_box("Firmware Updated Successfully! Please reset system.", "Success!");
}

// Runs the upgrade; shows the failure message itself. True only on success; false also when
// it ended at an erase, where no further message follows.
bool CImageDownloaderDlg::r8c_upgrade() {
    auto failed = [this] {
        message_box("Firmware Updated Failed!", "Error!");
        return false;
    };
    auto error = [this](const char* text) { message_box(text, "ERROR!"); };

    std::unique_ptr<std::uint8_t[]> response(new (std::nothrow) std::uint8_t[MAX_TRANSFERSTRUCTS_SIZE]);
    if (!response) {
        message_box("OnBnClickedButtonFirmwareupgradeExecute Error: pGA_DTS allocation failed", "ERROR!");
        return failed();
    }
    std::unique_ptr<std::uint8_t[]> status(new (std::nothrow) std::uint8_t[sizeof(GenericStatusResponse_TS)]);
    if (!status) {
        message_box("OnBnClickedButtonFirmwareupgradeExecute Error: pGSR_TS allocation failed", "ERROR!");
        return failed();
    }

    try {
        connection_.execute_command(CONFIGURATION_MODE_STOP);
    } catch (const cm::exception_bad_state&) {
        message_box("CConfigDlg::OnBnClickedConfigStop Error: Already Stopped", "ERROR!");
    } catch (const cm::exception_command_error& e) {
        message_box("CConfigDlg::OnBnClickedConfigStop CONFIGURATION_MODE_STOP Error! status=" + imagetool::status_text(e.code),
                    "ERROR!");
    } catch (const qx::exception& e) {
        message_box("CConfigDlg::OnBnClickedConfigStop SendCommand Error! status=" + imagetool::status_text(e.code), "ERROR!");
    }

    if (message_box("Firmware will be updated. Do not turn off power or interrupt firmware upgrade", "IN PROGRESS!",
                    ui::MB_OKCANCEL | ui::MB_ICONSTOP) == ui::IDCANCEL)
        return failed();

    peripheral_port port(connection_, response.get());

    // GetInfo
    PeripheralGetInfoRequest_TS info_request{1};
    if (!port.lay_out(op_get_info, bytes_of(info_request))) {
        error("R8C_CommandsDlg::GetInfo set_pointers_SH_Peripheral_Request_TS Error");
        error("R8C_CommandsDlg::OnBnClickedR8ccommandsExecuteupgrade GetInfo");
        return failed();
    }
    const auto info_answer = port.send();
    PeripheralGetInfoResponse_TS info{};
    if (!info_answer || info_answer->size() < sizeof info) {
        error("R8C_CommandsDlg::OnBnClickedR8ccommandsExecuteupgrade GetInfo");
        return failed();
    }
    std::memcpy(&info, info_answer->data(), sizeof info);

    // A block outside the 64 KB image, or a buffer no request can carry, is refused before
    // anything changes in the peripheral.
    if (info.buffer_size == 0 || info.buffer_size > max_block_data ||
        std::uint64_t(info.block_start_addr) + info.block_size > r8c_flash_size)
        return failed();

    if (info.current_block == 1) {
        PeripheralExecuteInBlockRequest_TS execute{0};
        if (!port.lay_out(op_execute_in_block, bytes_of(execute)) || !port.send()) {
            error("R8C_CommandsDlg::OnBnClickedR8ccommandsExecuteupgrade ExecuteInBlock");
            return failed();
        }
    }

    auto erase_block = [&] {
        EepromEraseRequest_TS erase{1, 1};
        return port.lay_out(op_erase_block, bytes_of(erase)) && port.send().has_value();
    };
    if (!erase_block()) {
        error("R8C_CommandsDlg::R8ccommandsEraseBlock set_pointers_SH_Peripheral_Request_TS Error");
        return false;
    }

    const structure_layout* generic_array_layout = find_layout("GenericArray_DTS");
    const std::uint32_t n = info.buffer_size;
    const std::uint32_t count = info.block_size / n;
    bool success = false;
    for (int restarts = 0;; ++restarts) {
        auto& m = model();
        m.set_range(IDC_PROGRESS, 0, int(count));
        m.set_step(IDC_PROGRESS, 1);
        m.set_position(IDC_PROGRESS, 0);
        bool mismatch = false, broke = false;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint32_t a = info.block_start_addr + i * n;
            const std::span<const std::uint8_t> data(r8c_image_->data() + a, n);

            request_block write("WriteDataRequest_DTS");
            std::uint16_t write_size = 0;
            try {
                write.as<WriteDataRequest_DTS>()->address = info.buffer_address;
                write.set_array(offsetof(WriteDataRequest_DTS, data_element_size), 1, data);
                write_size = write.lay_out();
            } catch (const qx::exception&) {
                error("R8C_CommandsDlg::WriteDataBlock set_pointers_WriteDataRequest_DTS Error");
                error("R8C_CommandsDlg::WriteDataBlock Error");
                broke = true;
                break;
            }
            if (!port.lay_out(op_write_data_block, {write.data(), write_size})) {
                error("R8C_CommandsDlg::WriteDataBlock set_pointers_SH_Peripheral_Request_TS Error");
                error("R8C_CommandsDlg::WriteDataBlock Error");
                broke = true;
                break;
            }
            if (!port.send()) {
                error("R8C_CommandsDlg::WriteDataBlock Error");
                broke = true;
                break;
            }

            EepromProgramRequest_TS program{};
            program.source_address = info.buffer_address;
            program.destination_address = a;
            program.size = n;
            program.program_size_usage = 0;
            if (!port.lay_out(op_program_block, bytes_of(program))) {
                error("R8C_CommandsDlg::ProgramBlock set_pointers_SH_Peripheral_Request_TS Error");
                error("R8C_CommandsDlg::ProgramBlock Error");
                broke = true;
                break;
            }
            if (!port.send()) {
                error("R8C_CommandsDlg::ProgramBlock Error");
                broke = true;
                break;
            }

            ReadDataRequest_TS read{};
            read.address = a;
            read.access_size = 1;
            read.access_count = std::uint16_t(n);
            if (!port.lay_out(op_read_data_block, bytes_of(read))) {
                error("R8C_CommandsDlg::ReadDataBlock set_pointers_SH_Peripheral_Request_TS Error");
                error("R8C_CommandsDlg::OnBnClickedR8ccommandsExecuteupgrade ReadDataBlock Error");
                broke = true;
                break;
            }
            const auto answer = port.send();
            if (!answer) {
                error("R8C_CommandsDlg::OnBnClickedR8ccommandsExecuteupgrade ReadDataBlock Error");
                broke = true;
                break;
            }
            // The peripheral's array arrives as counts only: laid out here, as the library
            // lays out the response around it.
            std::span<const std::uint8_t> read_back;
            std::array<std::uint8_t, MAX_TRANSFERSTRUCTS_SIZE> answer_block{};
            std::copy(answer->begin(), answer->end(), answer_block.begin());
            try {
                if (set_pointers(*generic_array_layout, answer_block.data(), answer->size()) == TS_LAYOUT_ERROR)
                    malformed_response();
                read_back = view_array({answer_block.data(), answer->size()}, offsetof(GenericArray_DTS, element_size),
                                       offsetof(GenericArray_DTS, data), sizeof(GenericArray_DTS))
                                .bytes;
            } catch (const qx::exception&) {
                error("R8C_CommandsDlg::OnBnClickedR8ccommandsExecuteupgrade set_pointers_GenericArray_DTS Error");
                broke = true;
                break;
            }
            // Fewer bytes than written cannot match.
            if (read_back.size() < n || !std::equal(data.begin(), data.end(), read_back.begin())) {
                error("R8C_CommandsDlg::OnBnClickedR8ccommandsExecuteupgrade memcmp Error");
                mismatch = true;
                break;
            }
            m.step_it(IDC_PROGRESS);
        }
        if (!mismatch) {
            success = !broke;
            break;
        }
        // A flash that keeps reading back wrong is given up after a few passes.
        if (restarts == max_mismatch_restarts) break;
        if (!erase_block()) {
            error("R8C_CommandsDlg::R8ccommandsEraseBlock set_pointers_SH_Peripheral_Request_TS Error");
            return false;
        }
    }

    r8c_file_name_ = "No file selected";
    r8c_loaded_ = false;
    refresh_controls();
    return success ? true : failed();
}

}  // namespace qx
