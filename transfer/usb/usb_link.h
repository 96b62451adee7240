// The USB link: the ECU's bulk pipe, one exchange at a time.
//   command packet: 8-byte command header + request, big-endian, at most 0x1000 bytes;
//                   longer than 32 bytes: announced first by a 32-byte packet 0xCD07, size.
//   response:       8-byte response header, then response_data_returning_size bytes.
#pragma once

#include <cstddef>
#include <string_view>

#include "protocol/framing.h"
#include "transfer/simulator/simulator_abi.h"

namespace qx::transfer::usb {

inline constexpr std::size_t max_transfer_size = 0x1000;
inline constexpr std::size_t default_packet_size = protocol::framing::usb_announcement_size;
inline constexpr std::size_t packet_buffer_size = max_transfer_size + 1;
inline constexpr std::size_t device_path_size = 256;
// A response data packet is at most this long; a shorter one ends the data.
inline constexpr std::size_t max_data_packet = protocol::framing::usb_max_data_packet;

// Copies the path of the first present device of the class into `buffer` (terminated).
// 1 when the whole path fitted, else 0.
int GetDevicePath(std::string_view interface_class, char* buffer, std::size_t buffer_size);

int USB_InitializeInterfaces(unsigned flags, unsigned char* data);
int USB_CloseInterfaces(unsigned flags);
int USB_SendCommandReceiveResponse(CommandResponseTransfer* transfer);
int USB_ConnectCommandResponseInterface();

}  // namespace qx::transfer::usb
