// How each link frames an exchange on its wire: what the links send and what a reader of their
// transfers (a capture) takes apart.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/commands.h"

namespace qx::protocol::framing {

// USB: a command packet longer than 32 bytes is announced by a 32-byte packet that holds
// 0xCD07 and the request's size (big-endian); response data comes in packets of at most 4096.
inline constexpr std::size_t usb_announcement_size = 32;
inline constexpr std::uint16_t usb_announcement_type = command_type(COMMAND_REQUEST_TYPE_LARGER_THAN_DEFAULT);
inline constexpr std::size_t usb_max_data_packet = 4096;

// Serial: the bytes around the headers and data of an exchange.
inline constexpr std::uint8_t serial_connection_request = 0xC5;  // host; the ECU answers it or:
inline constexpr std::uint8_t serial_host_order_answer = 0xCC;   // an ECU that keeps host byte order
inline constexpr std::uint8_t serial_command_received = 0xCD;    // ECU
inline constexpr std::uint8_t serial_response_received = 0xDC;   // host

// USB-CAN: ISO 15765-2 frames of 8 bytes; the kind is the first byte's high nibble.
inline constexpr std::uint8_t can_single_frame = 0x0;
inline constexpr std::uint8_t can_first_frame = 0x1;
inline constexpr std::uint8_t can_consecutive_frame = 0x2;
inline constexpr std::uint8_t can_flow_control = 0x3;

}  // namespace qx::protocol::framing
