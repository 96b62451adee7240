// CAN frames on the two back-ends, and the acceptance filter.
//
// Virtual bus message (16 bytes, one frame per SOCK_SEQPACKET message):
//   bytes 0..3   identifier word, little-endian: bits 28..0 the identifier (10..0 for an
//                11-bit one), bit 31 set for a 29-bit identifier, bit 30 for a remote frame
//   byte  4      data length 0..8
//   bytes 5..7   0
//   bytes 8..15  data; bytes behind the data length are 0
// This is the byte image of a SocketCAN classic frame on a little-endian machine; an image with
// the error-frame bit 29 set is the controller's error report, laid out as SocketCAN's.
#pragma once

#include <linux/can.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/can/can_adapter.h"

namespace qx::platform::can {

inline constexpr std::size_t bus_message_size = 16;
inline constexpr std::uint32_t bus_flag_extended = 0x80000000;
inline constexpr std::uint32_t bus_flag_remote = 0x40000000;
inline constexpr std::uint32_t max_standard_id = 0x7FF;
inline constexpr std::uint32_t max_extended_id = 0x1FFFFFFF;

// A message the adapter can put on a bus: data length at most 8, identifier in range.
bool sendable(const can_message& m);

// The bus image of a sendable message.
void encode_bus_message(const can_message& m, std::span<std::uint8_t, bus_message_size> out);
// Nothing for a message that is not a well-formed frame (wrong size, length over 8, an
// identifier out of range, stray bits, non-zero padding). Bytes behind the length read 0.
std::optional<can_message> decode_bus_message(std::span<const std::uint8_t> in);

// The error report in a message with the error-frame bit; nothing for any other message.
std::optional<can_frame> decode_bus_error(std::span<const std::uint8_t> in);
// The state an error report (SocketCAN's error classes and controller status byte) moves the
// controller to; nothing for a report that names no state (a single bus error).
std::optional<controller_state> reported_state(const can_frame& error_frame);

// Whether the acceptance filter (code, mask) of the parameters admits the message.
bool accepted(const can_init_parameters& p, const can_message& m);

// SocketCAN: the kernel frame of a sendable message, the message of a received frame (nothing
// for error frames and lengths over 8), and the kernel filters equivalent to the acceptance
// filter: {29-bit frames, 11-bit frames}.
can_frame to_socketcan(const can_message& m);
std::optional<can_message> from_socketcan(const can_frame& f);
std::array<can_filter, 2> socketcan_filters(const can_init_parameters& p);

}  // namespace qx::platform::can
