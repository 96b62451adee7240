#include "core/flash_operations.h"

#include <array>
#include <cstring>

#include "protocol/commands.h"
#include "protocol/structs.h"

namespace qx::flash {

bool is_sst39_device(std::uint16_t id) { return id == 0x2780 || id == 0x2781 || id == 0x2789; }

std::uint32_t image_base(std::uint32_t type) {
    switch (type) {
    case fixed_model: return fixed_model_start;
    case boot_loader: return boot_loader_start;
    default: return 0;  // firmware from 0; dynamic model data has no address
    }
}

std::uint16_t read_device(connection_manager& connection) {
    std::array<std::uint8_t, 2> id{};
    connection_manager::security_request r;
    r.sub_function = SECURITY_TEST_FUNCTION_GET_FLASH_DEVICE;
    // An answer without a whole word names no device: identifier 0, no SST39xx part.
    if (connection.security_command(r, id) < id.size()) return 0;
    std::uint16_t device;
    std::memcpy(&device, id.data(), sizeof device);
    return device;
}

void erase_blocks(connection_manager& connection, std::uint32_t start_block, std::uint32_t number_of_blocks) {
    protocol::EepromEraseRequest_TS request{start_block, number_of_blocks};
    connection.send_command(protocol::EEPROM_ERASE_BLOCKS, &request, sizeof request, nullptr, 0);
}

void erase_dynamic_model_area(connection_manager& connection) {
    if (is_sst39_device(read_device(connection))) erase_blocks(connection, external_start, external_blocks);
    erase_blocks(connection, dynamic_model_start, dynamic_model_blocks);
}

void erase_fixed_model_area(connection_manager& connection) {
    for (std::uint32_t k = 0; k < fixed_model_count; ++k)
        erase_blocks(connection, fixed_model_start + k * fixed_model_stride, 1);
}

void erase_firmware_area(connection_manager& connection) {
    erase_blocks(connection, 0, 8);
    for (std::uint32_t at = 0x10000; at <= 0x90000; at += 0x10000) erase_blocks(connection, at, 1);
    for (std::uint32_t at = 0xA0000; at <= 0xE0000; at += 0x20000) erase_blocks(connection, at, 1);
}

void send_block(connection_manager& connection, std::uint32_t type, std::span<const std::uint8_t> block,
                std::uint32_t index) {
    const bool dynamic = type == dynamic_model;
    connection_manager::security_request r;
    r.sub_function =
        dynamic ? SECURITY_TEST_FUNCTION_AES_DECRYPT_DYNAMIC_BLOCK : SECURITY_TEST_FUNCTION_AES_DECRYPT_BLOCK_TO_MEMORY;
    r.format_selector = 2;
    r.address = decryption_buffer;
    r.misc0 = dynamic ? 0 : image_base(type) + index * block_size;
    r.data = block;
    connection.security_command(r);
}

}  // namespace qx::flash
