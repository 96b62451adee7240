// Programming one package image through the boot loader's security functions: the erase
// operations each image type needs and the encrypted 2048-byte blocks.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <stop_token>
#include <string>

#include "core/connection_manager.h"

namespace qx::imagetool {

enum image_type : std::uint32_t { image_firmware = 0, image_fixed_model = 1, image_dynamic_model = 2, image_boot_loader = 3 };

inline constexpr std::uint32_t block_bytes = 2048;
inline constexpr std::uint32_t decryption_buffer = 0xFFF9F800;

// Flash areas as (start_block, number_of_blocks) of EEPROM_ERASE_BLOCKS.
inline constexpr std::uint32_t external_flash_start = 0x0C000000, external_flash_blocks = 32;
inline constexpr std::uint32_t dynamic_model_start = 0x80100000, dynamic_model_blocks = 16;
inline constexpr std::uint32_t fixed_model_start = 0x00100000, fixed_model_stride = 0x20000, fixed_model_count = 7;
inline constexpr std::uint32_t boot_loader_start = 0x001E0000;

// The SST39xx parts the ECU may carry on its external bus.
bool is_sst39_device(std::uint16_t id);

// Where block 0 of an image of that type goes; the dynamic model data has no address (0).
std::uint32_t target_base(std::uint32_t type);
// Progress range of a download: whole blocks plus the steps of the type's erases.
int progress_range(std::uint32_t type, std::uint32_t image_size);

// Sends the requests; reports failures through the callbacks the dialog gives.
class image_programmer {
public:
    // error_box: shows an error text; step: advances the progress bar.
    image_programmer(connection_manager& connection, std::function<void(const std::string&)> error_box,
                     std::function<void()> step);

    // Each returns false as soon as the connection manager raises one of its exceptions.
    bool erase_external_flash();
    bool erase_dynamic_model_data();
    bool erase_fixed_model();
    bool erase_firmware();
    bool erase_boot_loader();
    // The erase operations the type needs, in order; false at the first that fails.
    bool erase_for(std::uint32_t type);

    // The flash device identifier (GET_FLASH_DEVICE); throws the connection manager's exceptions.
    std::uint16_t flash_device();
    // One EEPROM_ERASE_BLOCKS; throws the connection manager's exceptions.
    void erase(std::uint32_t start_block, std::uint32_t number_of_blocks);

    // The whole blocks of `image`, in order, each answered before the next; a trailing part
    // shorter than a block is not sent. Reports the first failure and returns false; a stop
    // request ends it silently (false).
    bool send_blocks(std::uint32_t type, std::span<const std::uint8_t> image, std::stop_token stop = {});

private:
    connection_manager& connection_;
    std::function<void(const std::string&)> error_box_;
    std::function<void()> step_;
};

// "%08x" of a status, for the message texts.
std::string status_text(std::uint32_t status);

}  // namespace qx::imagetool
