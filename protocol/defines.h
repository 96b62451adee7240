// Protocol-wide defines.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace qx::protocol {

// A four-character tag: a 32-bit value with the first character in the most significant byte.
constexpr std::uint32_t make_tag(const char (&t)[5]) {
    return (std::uint32_t(std::uint8_t(t[0])) << 24) | (std::uint32_t(std::uint8_t(t[1])) << 16) |
           (std::uint32_t(std::uint8_t(t[2])) << 8) | std::uint32_t(std::uint8_t(t[3]));
}

constexpr std::uint32_t swap32(std::uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}
constexpr std::uint16_t swap16(std::uint16_t v) { return std::uint16_t((v >> 8) | (v << 8)); }

inline constexpr std::uint32_t MAX_TRANSFERSTRUCTS_SIZE = 0x0FF8;
inline constexpr std::uint32_t MAX_LOG_CHANNELS = 100;
inline constexpr std::uint32_t TRANSFERSTRUCTS_VERSION = 95;
inline constexpr std::uint32_t QXCFG_TAG = make_tag("QX-C");
inline constexpr std::uint32_t QXCFG_TAG_SWAPPED = make_tag("C-XQ");
inline constexpr std::uint32_t QXROM_TAG = make_tag("QX-R");
inline constexpr std::uint32_t QXROM_TAG_SWAPPED = make_tag("R-XQ");
inline constexpr std::uint32_t QXNV_TAG = make_tag("QX-N");
inline constexpr std::uint32_t QXNV_TAG_SWAPPED = make_tag("N-XQ");
inline constexpr std::uint32_t QXDUMP_TAG = make_tag("QX-D");
inline constexpr std::uint32_t QXDUMP_TAG_SWAPPED = make_tag("D-XQ");

static_assert(QXCFG_TAG_SWAPPED == swap32(QXCFG_TAG));

// The same defines as the description writes them: name and text.
struct protocol_define {
    std::string_view name;
    std::string_view text;
    std::uint32_t value;
};

inline constexpr std::array<protocol_define, 11> protocol_defines = {{
    {"MAX_TRANSFERSTRUCTS_SIZE", "0x0FF8", MAX_TRANSFERSTRUCTS_SIZE},
    {"MAX_LOG_CHANNELS", "100", MAX_LOG_CHANNELS},
    {"TRANSFERSTRUCTS_VERSION", "95", TRANSFERSTRUCTS_VERSION},
    {"QXCFG_TAG", "'QX-C'", QXCFG_TAG},
    {"QXCFG_TAG_SWAPPED", "'C-XQ'", QXCFG_TAG_SWAPPED},
    {"QXROM_TAG", "'QX-R'", QXROM_TAG},
    {"QXROM_TAG_SWAPPED", "'R-XQ'", QXROM_TAG_SWAPPED},
    {"QXNV_TAG", "'QX-N'", QXNV_TAG},
    {"QXNV_TAG_SWAPPED", "'N-XQ'", QXNV_TAG_SWAPPED},
    {"QXDUMP_TAG", "'QX-D'", QXDUMP_TAG},
    {"QXDUMP_TAG_SWAPPED", "'D-XQ'", QXDUMP_TAG_SWAPPED},
}};

}  // namespace qx::protocol
