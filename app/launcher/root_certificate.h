// The launcher's copy of the root certificate (process-wide), handed to the Firmware and ID
// tool, which reads the ECU's serial number with it.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>

#include "platform/ui/renderer.h"

namespace qx {

inline constexpr std::size_t root_certificate_capacity = 0x100000;  // 1 MiB
inline constexpr const char* root_certificate_file = "RootCertificate_tcert.der";

struct launcher_root_certificate {
    std::array<std::uint8_t, root_certificate_capacity> data{};
    std::uint32_t length = 0;

    // The bytes the last load read.
    std::span<const std::uint8_t> bytes() const { return {data.data(), length}; }
};

launcher_root_certificate& root_certificate();

// Fills root_certificate() from `file` (up to 1 MiB; a longer file keeps its first 1 MiB).
// A file that cannot be opened is reported in the error box and gives false.
bool load_root_certificate(ui::renderer& r, const std::filesystem::path& file = root_certificate_file);

}  // namespace qx
