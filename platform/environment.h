// The library's environment: the variables that extend Trelink for Linux and the production
// line. Each is read here and nowhere else, and each is listed in the README. Unset (or empty),
// none of them changes the library's behaviour.
#pragma once

#include <string>

namespace qx::platform::environment {

inline constexpr const char* device_dir_variable = "TRELINK_DEVICE_DIR";
inline constexpr const char* usb_ids_variable = "TRELINK_USB_IDS";
inline constexpr const char* can_interface_variable = "TRELINK_CAN_IF";
inline constexpr const char* virtual_can_variable = "TRELINK_VCAN";
inline constexpr const char* answer_timeout_variable = "TRELINK_ANSWER_TIMEOUT_MS";
inline constexpr const char* trace_variable = "TRELINK_TRACE";
inline constexpr const char* device_variable = "TRELINK_DEVICE";
inline constexpr const char* capture_variable = "TRELINK_CAPTURE";

// The registry root.
std::string device_dir();
// vvvv:pppp[,vvvv:pppp]: real USB devices that carry the ECU's interface class.
std::string usb_ids();
// TRELINK_COMn: the device that serves as "COMn".
std::string com_port(unsigned number);
// TRELINK_WCSC_CARDk: port k of the WCSC PCI card.
std::string wcsc_card_port(unsigned index);
// The SocketCAN interface.
std::string can_interface();
// The virtual CAN bus's socket.
std::string virtual_can();
// The one device the USB link may pick: a registry device path, a libusb bus-port path
// ("1-2.3") or "serial:" and the device's USB serial number.
std::string device();

// The exchange trace file.
std::string trace_file();
// The pcapng file that receives every transfer of every link.
std::string capture_file();

// How long one read waits for the ECU, in milliseconds: a whole number above 0. -1 (no limit)
// when unset, 0 or not such a number.
int answer_timeout_ms();

}  // namespace qx::platform::environment
