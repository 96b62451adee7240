#include "imagetool/image_programming.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "protocol/commands.h"
#include "protocol/defines.h"
#include "protocol/structs.h"

namespace qx::imagetool {

namespace {
using cm = connection_manager;
}

std::string status_text(std::uint32_t status) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", status);
    return text;
}

bool is_sst39_device(std::uint16_t id) { return id == 0x2780 || id == 0x2781 || id == 0x2789; }

std::uint32_t target_base(std::uint32_t type) {
    switch (type) {
        case image_firmware: return 0x00000000;
        case image_fixed_model: return fixed_model_start;
        case image_boot_loader: return boot_loader_start;
        default: return 0;
    }
}

int progress_range(std::uint32_t type, std::uint32_t image_size) {
    const int blocks = int(image_size / block_bytes);
    switch (type) {
        case image_firmware: return blocks + 18;
        case image_fixed_model: return blocks + 8;
        default: return blocks + 1;
    }
}

image_programmer::image_programmer(connection_manager& connection, std::function<void(const std::string&)> error_box,
                                   std::function<void()> step)
    : connection_(connection), error_box_(std::move(error_box)), step_(std::move(step)) {}

std::uint16_t image_programmer::flash_device() {
    std::array<std::uint8_t, protocol::MAX_TRANSFERSTRUCTS_SIZE> returned{};
    cm::security_request r;
    r.sub_function = SECURITY_TEST_FUNCTION_GET_FLASH_DEVICE;
    connection_.security_command(r, returned);
    std::uint16_t id;
    std::memcpy(&id, returned.data(), sizeof id);
    return id;
}

void image_programmer::erase(std::uint32_t start_block, std::uint32_t number_of_blocks) {
    protocol::EepromEraseRequest_TS request{start_block, number_of_blocks};
    connection_.send_command(protocol::EEPROM_ERASE_BLOCKS, &request, sizeof request, nullptr, 0);
}

bool image_programmer::erase_external_flash() {
    try {
        if (is_sst39_device(flash_device())) erase(external_flash_start, external_flash_blocks);
        return true;
    } catch (const cm::exception&) {
        return false;
    }
}

bool image_programmer::erase_dynamic_model_data() {
    if (!erase_external_flash()) return false;
    try {
        erase(dynamic_model_start, dynamic_model_blocks);
        return true;
    } catch (const cm::exception&) {
        return false;
    }
}

bool image_programmer::erase_fixed_model() {
    if (!erase_dynamic_model_data()) return false;
    try {
        for (std::uint32_t k = 0; k < fixed_model_count; ++k) erase(fixed_model_start + k * fixed_model_stride, 1);
        return true;
    } catch (const cm::exception&) {
        return false;
    }
}

bool image_programmer::erase_firmware() {
    if (!erase_fixed_model()) return false;
    try {
        erase(0x00000000, 8);
        for (std::uint32_t k = 0; k <= 8; ++k) erase(0x00010000 * (k + 1), 1);
        for (std::uint32_t k = 0; k <= 2; ++k) erase(0x000A0000 + k * 0x20000, 1);
        return true;
    } catch (const cm::exception&) {
        return false;
    }
}

bool image_programmer::erase_boot_loader() {
    try {
        erase(boot_loader_start, 1);
        return true;
    } catch (const cm::exception&) {
        return false;
    }
}

bool image_programmer::erase_for(std::uint32_t type) {
    switch (type) {
        case image_firmware: return erase_fixed_model() && erase_dynamic_model_data() && erase_firmware();
        case image_fixed_model: return erase_dynamic_model_data() && erase_fixed_model();
        case image_dynamic_model: return erase_dynamic_model_data();
        case image_boot_loader:
            return erase_fixed_model() && erase_dynamic_model_data() && erase_firmware() && erase_boot_loader();
        default: return false;
    }
}

bool image_programmer::send_blocks(std::uint32_t type, std::span<const std::uint8_t> image, std::stop_token stop) {
    const bool dynamic = type == image_dynamic_model;
    const std::uint32_t base = target_base(type);
    const std::size_t blocks = image.size() / block_bytes;
    for (std::size_t i = 0; i < blocks; ++i) {
        if (stop.stop_requested()) return false;
        step_();
        cm::security_request r;
        r.sub_function = dynamic ? SECURITY_TEST_FUNCTION_AES_DECRYPT_DYNAMIC_BLOCK : SECURITY_TEST_FUNCTION_AES_DECRYPT_BLOCK_TO_MEMORY;
        r.format_selector = 2;
        r.address = decryption_buffer;
        r.misc0 = dynamic ? 0 : base + std::uint32_t(i) * block_bytes;
        r.data = image.subspan(i * block_bytes, block_bytes);
        try {
            connection_.security_command(r);
        } catch (const cm::exception_command_error& e) {
            error_box_("OnBnClickedButtonSecurityParsePak SECURITY_COMMAND SECURITY_TEST_FUNCTION_AES_DECRYPT_BLOCK_TO_MEMORY ERROR=" +
                       status_text(e.code));
            return false;
        } catch (const qx::exception& e) {
            error_box_(
                "OnBnClickedButtonImagedlDownloadfile KesSendCommand SECURITY_COMMAND SECURITY_TEST_FUNCTION_AES_DECRYPT_BLOCK_TO_MEMORY ERROR=" +
                status_text(e.code));
            return false;
        }
    }
    return true;
}

}  // namespace qx::imagetool
