// The USB-CAN link: one exchange carried over a CAN bus through the USB-CAN adapter
// (platform/can), cut into 8-byte frames with ISO 15765-2 segmentation.
//   host -> ECU identifier 0x16666666, ECU -> host 0x16666667, both 29-bit, data length 8.
//   first frame:        0x10 | length bits 11..8, length bits 7..0, packet bytes 0..5
//   consecutive frame:  0x20 | sequence (1, 2, .. 15, 0, 1, ..), the next 7 packet bytes
//   flow control:       0x30, block size, zeros
// A packet (8-byte big-endian header + data) is at most 0xFFF bytes. The host sends the first
// frame, waits for the ECU's flow control and sends the rest in writes of `block size` frames
// (all at once for 0) without waiting between them; the response comes back the same way,
// with the host's flow control of block size 0. Bytes behind a packet's end are sent as 0.
#pragma once

#include <cstddef>
#include <cstdint>

#include "transfer/simulator/simulator_abi.h"

namespace qx::transfer::usbcan {

inline constexpr std::uint32_t host_to_ecu_id = 0x16666666;
inline constexpr std::uint32_t ecu_to_host_id = 0x16666667;
inline constexpr std::size_t max_packet_size = 0xFFF;
// Frames of a packet of `length` bytes (at least 6): 1 + ceil((length - 6) / 7).
constexpr std::size_t frames_for(std::size_t length) { return 1 + length / 7; }
// The largest packet: a first frame and 585 consecutive frames.
inline constexpr std::size_t max_consecutive_frames = 585;
inline constexpr std::size_t transmit_frames = 1 + max_consecutive_frames;
inline constexpr std::size_t receive_frames = 586;
static_assert(frames_for(max_packet_size) == transmit_frames);
// The status of an exchange the adapter failed to carry (a failed write or read).
inline constexpr int link_error = 10;

int UsbCanSystecInitializeInterfaces(unsigned flags, unsigned char* data);
int UsbCanSystecCloseInterfaces(unsigned flags);
int UsbCanSystecSendCommandReceiveResponse(CommandResponseTransfer* transfer);
int UsbCanSystecConnectCommandResponseInterface();

}  // namespace qx::transfer::usbcan
