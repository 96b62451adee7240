// The ECU's flash as its boot loader erases and programs it: the areas, the decryption
// buffer, and the three requests both programming tools send.
#pragma once

#include <cstdint>
#include <span>

#include "core/connection_manager.h"

namespace qx::flash {

inline constexpr std::uint32_t block_size = 2048;           // one encrypted image block
inline constexpr std::uint32_t decryption_buffer = 0xFFF9F800;  // where the ECU decrypts a block

// Areas as (start_block, number_of_blocks) of EEPROM_ERASE_BLOCKS.
inline constexpr std::uint32_t external_start = 0x0C000000, external_blocks = 32;
inline constexpr std::uint32_t dynamic_model_start = 0x80100000, dynamic_model_blocks = 16;
inline constexpr std::uint32_t fixed_model_start = 0x00100000, fixed_model_stride = 0x20000, fixed_model_count = 7;
inline constexpr std::uint32_t boot_loader_start = 0x001E0000;

// What closing a programming tool asks while it programs (Stop / Continue).
inline constexpr const char* programming_stop_question = "An ECU is being programmed. Stop after the current block?";

// Image types of a package.
enum image_type : std::uint32_t { firmware = 0, fixed_model = 1, dynamic_model = 2, boot_loader = 3 };

// The SST39xx parts the ECU may carry on its external bus; they hold a second area to erase.
bool is_sst39_device(std::uint16_t id);
// Where block 0 of an image of that type goes; dynamic model data has no address (0).
std::uint32_t image_base(std::uint32_t type);

// These throw the connection manager's exceptions.
// The flash device identifier (GET_FLASH_DEVICE): the first 16-bit word of the answer; an
// answer shorter than that (status 0, empty or one-byte text) reads as 0, no SST39xx part.
std::uint16_t read_device(connection_manager& connection);
// One EEPROM_ERASE_BLOCKS.
void erase_blocks(connection_manager& connection, std::uint32_t start_block, std::uint32_t number_of_blocks);
// The areas, each erased in the order the ECU expects. Dynamic model data: the external
// flash first when the device is an SST39xx, then its 16 blocks. Fixed model: one block at
// each of its 7 places. Firmware: 8 blocks at 0, then one block at each 64 KB to 0x90000 and
// each 128 KB from 0xA0000 to 0xE0000.
void erase_dynamic_model_area(connection_manager& connection);
void erase_fixed_model_area(connection_manager& connection);
void erase_firmware_area(connection_manager& connection);
// Block `index` of an image of that type, decrypted and programmed by the ECU: sub-function 9
// at its flash address, or 8 without one for dynamic model data.
void send_block(connection_manager& connection, std::uint32_t type, std::span<const std::uint8_t> block,
                std::uint32_t index);

}  // namespace qx::flash
