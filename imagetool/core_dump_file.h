// A core dump as the Firmware and ID tool keeps it: the ECU's prepare answer, then per dump
// section its address, its blank map (for the flash sections) and its bytes. The file format is
// documented in docs/core_dump_file.md; this module alone writes and reads it.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace qx::imagetool {

struct core_dump_section {
    std::uint32_t address = 0;
    // One byte per section byte, 0x00 blank and 0xFF written; empty when the section was not
    // blank checked.
    std::vector<std::uint8_t> blank_map;
    std::vector<std::uint8_t> data;
};

struct core_dump {
    std::array<std::uint8_t, 4> serial_number{};
    std::int64_t time = 0;  // seconds since 1970-01-01 00:00 UTC
    std::vector<std::uint8_t> prepare_answer;
    std::vector<core_dump_section> sections;
};

inline constexpr std::uint16_t core_dump_format_version = 1;

// Reading a file that is not a whole core dump of this format; what() says why.
class core_dump_file_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The file's bytes. Throws core_dump_file_error for a dump that cannot be written as one (a
// blank map whose length is not that of its data, too many sections).
std::vector<std::uint8_t> write_core_dump(const core_dump& dump);

// Checks every length against the bytes there are and the CRC-32C over the whole file.
core_dump read_core_dump(std::span<const std::uint8_t> file);

// The share of blank bytes in a blank map, 0 to 1 (0 for an empty map).
double blank_share(std::span<const std::uint8_t> blank_map);

}  // namespace qx::imagetool
