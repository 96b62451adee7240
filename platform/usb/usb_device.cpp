#include "platform/usb/usb_device.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>

#include "platform/environment.h"
#include "platform/registry/device_registry.h"
#include "platform/usb/libusb_backend.h"
#include "platform/usb/registry_pipe.h"

namespace qx::platform::usb {

namespace {

constexpr std::string_view serial_prefix = "serial:";

// <bus>-<port>[.<port>...], all decimal.
bool is_bus_port(std::string_view text) {
    const auto dash = text.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash + 1 == text.size()) return false;
    bool digit_before = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (std::isdigit(static_cast<unsigned char>(c))) {
            digit_before = true;
        } else if ((c == '.' && i > dash) || i == dash) {
            if (!digit_before) return false;
            digit_before = false;
        } else {
            return false;
        }
    }
    return digit_before;
}

bool same_text_any_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

device_selector device_selector::parse(std::string_view text) {
    if (text.starts_with(serial_prefix)) return {serial, std::string(text.substr(serial_prefix.size()))};
    if (is_bus_port(text)) return {bus_port, std::string(text)};
    return {path, std::string(text)};
}

bool device_selector::matches(const present_device& device) const {
    switch (kind) {
        case serial:
            return !device.serial.empty() && same_text_any_case(device.serial, value);
        case bus_port:
            return !device.bus_port.empty() && device.bus_port == value;
        case path:
            return std::filesystem::path(device.path).lexically_normal() ==
                   std::filesystem::path(value).lexically_normal();
    }
    return false;
}

std::vector<present_device> present_devices(std::string_view interface_class, bool with_strings, int& error,
                                            std::vector<std::string>* refusals) {
    error = 0;
    std::vector<present_device> all;
    registry_devices registry = qx::platform::present_devices(interface_class);
    if (refusals) *refusals = std::move(registry.refusals);
    for (std::string& path : registry.paths) {
        present_device d;
        d.path = std::move(path);
        all.push_back(std::move(d));
    }
    // TRELINK_USB_IDS names the devices that carry the ECU's class; no other class is known.
    if (interface_class == ecu_interface_class) {
        std::vector<present_device> real = list_libusb_devices(with_strings, error);
        std::move(real.begin(), real.end(), std::back_inserter(all));
    }
    return all;
}

device_search first_present_device(std::string_view interface_class) {
    const std::string wanted = environment::device();
    const device_selector selector = device_selector::parse(wanted);
    int error = 0;
    device_search search{device_search::no_device, {}, ENODEV, 0, {}};
    for (const present_device& d :
         present_devices(interface_class, selector.kind == device_selector::serial, error, &search.refusals)) {
        if (!wanted.empty() && !selector.matches(d)) continue;
        if (search.present++ == 0) search.path = d.path;
    }
    if (search.present == 1 || (search.present > 1 && !wanted.empty())) {
        search.outcome = device_search::found;
        search.error = 0;
    } else if (search.present > 1) {
        search.outcome = device_search::several;
        search.error = 0;
    } else if (error != 0) {
        search.outcome = device_search::enumeration_failed;
        search.error = error;
    }
    return search;
}

device_search present_device_at(std::string_view interface_class, const std::string& path) {
    const std::string wanted = environment::device();
    const device_selector selector = device_selector::parse(wanted);
    const device_selector at{device_selector::path, path};
    int error = 0;
    std::vector<std::string> refusals;
    for (const present_device& d : present_devices(interface_class, selector.kind == device_selector::serial, error, &refusals))
        if (at.matches(d) && (wanted.empty() || selector.matches(d))) return {device_search::found, d.path, 0, 1, std::move(refusals)};
    if (error != 0) return {device_search::enumeration_failed, {}, error, 0, std::move(refusals)};
    return {device_search::no_device, {}, ENODEV, 0, std::move(refusals)};
}

bool chosen_device(std::string_view interface_class, const std::string& path) {
    const std::string wanted = environment::device();
    if (wanted.empty()) return true;
    const device_selector selector = device_selector::parse(wanted);
    int error = 0;
    for (const present_device& d : present_devices(interface_class, selector.kind == device_selector::serial, error))
        if (d.path == path) return selector.matches(d);
    return false;
}

std::unique_ptr<pipe> open_device(const std::string& path, int& error) {
    if (is_libusb_device_path(path)) return open_libusb_device(path, error);
    return open_registry_device(path, error);
}

}  // namespace qx::platform::usb
