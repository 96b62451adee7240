// The ECU's USB interface: vendor-specific class, subclass 0, protocol 0, with one bulk IN and
// one bulk OUT endpoint. The libusb back-end uses only an interface of this class, `ecusim
// gadget` describes its interface with it, and udev/CMakeLists.txt reads the three values from
// this file for the udev rule, so that the rule opens exactly the devices the library uses.
#pragma once

#include <cstdint>

namespace qx::platform::usb {

inline constexpr std::uint8_t ecu_usb_class = 0xff;
inline constexpr std::uint8_t ecu_usb_subclass = 0x00;
inline constexpr std::uint8_t ecu_usb_protocol = 0x00;

}  // namespace qx::platform::usb
