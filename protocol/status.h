// 32-bit status values of the protocol; 0 is success everywhere.
#pragma once

#include <cstdint>

namespace qx::protocol {

inline constexpr std::uint32_t STATUS_SUCCESS = 0;

// The data-transfer library and its links.
inline constexpr std::uint32_t STATUS_CR_NO_INTERFACE = 0x20000001;
inline constexpr std::uint32_t STATUS_CR_LOCK_FAILED = 0x20000002;
inline constexpr std::uint32_t STATUS_CR_NOT_CONNECTED = 0x20000003;
inline constexpr std::uint32_t STATUS_CR_SERIAL_TRANSFER_FAILED = 0x20000004;
inline constexpr std::uint32_t STATUS_CR_RESPONSE_BUFFER_TOO_SMALL = 0x20000005;
inline constexpr std::uint32_t STATUS_CR_WRITE_FAILED = 0x20000006;
inline constexpr std::uint32_t STATUS_CR_READ_FAILED = 0x20000007;
inline constexpr std::uint32_t STATUS_CR_COMMAND_TOO_LARGE = 0x20000008;

// The ECU is in the wrong state for the command.
inline constexpr std::uint32_t STATUS_WRONG_STATE = 0x50000002;

// Structure layout results.
inline constexpr std::uint32_t TS_LAYOUT_OK = 0;
inline constexpr std::uint32_t TS_LAYOUT_ERROR = 0x60000001;
inline constexpr std::uint32_t TS_LAYOUT_EMPTY_ARRAY = 0x60000002;

// Security failures answered to SECURITY_COMMAND.
inline constexpr std::uint32_t STATUS_SECURITY_FIRST = 0x71000001;
inline constexpr std::uint32_t STATUS_SECURITY_LAST = 0x7100001A;

// ECU answers about named things.
inline constexpr std::uint32_t STATUS_NOT_FOUND = 0x80000005;
inline constexpr std::uint32_t STATUS_ALREADY_EXISTS = 0x80000006;
inline constexpr std::uint32_t STATUS_MISMATCH = 0x80000007;

constexpr bool is_library_status(std::uint32_t s) { return s >= 0x20000001 && s <= 0x20000008; }
constexpr bool is_layout_status(std::uint32_t s) { return s == TS_LAYOUT_ERROR || s == TS_LAYOUT_EMPTY_ARRAY; }
constexpr bool is_security_status(std::uint32_t s) {
    return s >= STATUS_SECURITY_FIRST && s <= STATUS_SECURITY_LAST;
}

}  // namespace qx::protocol
