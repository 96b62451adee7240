// libusb back-end: the USB devices named by TRELINK_USB_IDS. The pure parts (id list, device
// matching, choice of the bulk interface, device paths) work on descriptor data alone.
#pragma once

#include <libusb-1.0/libusb.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/usb/usb_device.h"

namespace qx::platform::usb {


struct usb_id {
    std::uint16_t vendor;
    std::uint16_t product;
    bool operator==(const usb_id&) const = default;
};

// "vvvv:pppp[,vvvv:pppp...]", four hexadecimal digits each, blanks around an entry allowed.
// Nullopt when any entry is malformed or the list is empty.
std::optional<std::vector<usb_id>> parse_usb_ids(std::string_view text);

bool names_device(const std::vector<usb_id>& ids, const libusb_device_descriptor& device);

struct bulk_interface {
    std::uint8_t interface_number;
    std::uint8_t alt_setting;
    std::uint8_t in_endpoint;  // endpoint address, direction bit set
    std::uint8_t out_endpoint;
    bool operator==(const bulk_interface&) const = default;
};

// The first interface setting, in descriptor order, of the ECU's interface class, subclass and
// protocol (ecu_usb_interface.h) with exactly one bulk IN and exactly one bulk OUT endpoint
// (endpoints of other types do not matter).
std::optional<bulk_interface> find_bulk_interface(const libusb_config_descriptor& config);

// "libusb:<bus>:<address>" and back.
std::string libusb_device_path(std::uint8_t bus, std::uint8_t address);
struct bus_address {
    std::uint8_t bus;
    std::uint8_t address;
};
std::optional<bus_address> parse_libusb_device_path(std::string_view path);
bool is_libusb_device_path(std::string_view path);

// "<bus>-<port>[.<port>...]" from the bus number and the port numbers from the root down.
std::string bus_port_path(std::uint8_t bus, const std::uint8_t* ports, int count);

// The devices named by TRELINK_USB_IDS that have a usable bulk interface, in enumeration order, with their USB strings when `with_strings`. None, with
// `error` 0, when TRELINK_USB_IDS is unset.
std::vector<present_device> list_libusb_devices(bool with_strings, int& error);
std::unique_ptr<pipe> open_libusb_device(const std::string& path, int& error);

}  // namespace qx::platform::usb
