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

int progress_range(std::uint32_t type, std::uint32_t image_size) {
    const int blocks = int(image_size / flash::block_size);
    switch (type) {
        case image_firmware: return blocks + 18;
        case image_fixed_model: return blocks + 8;
        default: return blocks + 1;
    }
}

image_programmer::image_programmer(connection_manager& connection, std::function<void(const std::string&)> error_box,
                                   std::function<void()> step)
    : connection_(connection), error_box_(std::move(error_box)), step_(std::move(step)) {}

namespace {
// false as soon as the connection manager raises one of its exceptions.
template <class F>
bool succeeds(F f) {
    try {
        f();
        return true;
    } catch (const cm::exception&) {
        return false;
    }
}
}  // namespace

bool image_programmer::erase_dynamic_model_data() {
    return succeeds([&] { flash::erase_dynamic_model_area(connection_); });
}

bool image_programmer::erase_fixed_model() {
    return erase_dynamic_model_data() && succeeds([&] { flash::erase_fixed_model_area(connection_); });
}

bool image_programmer::erase_firmware() {
    return erase_fixed_model() && succeeds([&] { flash::erase_firmware_area(connection_); });
}

bool image_programmer::erase_boot_loader() {
    return succeeds([&] { erase(flash::boot_loader_start, 1); });
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
    const std::size_t blocks = image.size() / flash::block_size;
    for (std::size_t i = 0; i < blocks; ++i) {
        if (stop.stop_requested()) return false;
        step_();
        try {
            flash::send_block(connection_, type, image.subspan(i * flash::block_size, flash::block_size), std::uint32_t(i));
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
