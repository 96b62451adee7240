// Programming one package image through the boot loader's security functions: the erase
// operations each image type needs and the encrypted 2048-byte blocks.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <stop_token>
#include <string>

#include "core/connection_manager.h"
#include "core/flash_operations.h"

namespace qx::imagetool {

inline constexpr auto image_firmware = flash::firmware;
inline constexpr auto image_fixed_model = flash::fixed_model;
inline constexpr auto image_dynamic_model = flash::dynamic_model;
inline constexpr auto image_boot_loader = flash::boot_loader;

// Progress range of a download: whole blocks plus the steps of the type's erases.
int progress_range(std::uint32_t type, std::uint32_t image_size);

// Sends the requests; reports failures through the callbacks the dialog gives.
class image_programmer {
public:
    // error_box: shows an error text; step: advances the progress bar.
    image_programmer(connection_manager& connection, std::function<void(const std::string&)> error_box,
                     std::function<void()> step);

    // Each returns false as soon as the connection manager raises one of its exceptions.
    bool erase_dynamic_model_data();
    bool erase_fixed_model();
    bool erase_firmware();
    bool erase_boot_loader();
    // The erase operations the type needs, in order; false at the first that fails.
    bool erase_for(std::uint32_t type);

    // The flash device identifier (GET_FLASH_DEVICE); throws the connection manager's exceptions.
    std::uint16_t flash_device() { return flash::read_device(connection_); }
    // One EEPROM_ERASE_BLOCKS; throws the connection manager's exceptions.
    void erase(std::uint32_t start_block, std::uint32_t number_of_blocks) {
        flash::erase_blocks(connection_, start_block, number_of_blocks);
    }

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
