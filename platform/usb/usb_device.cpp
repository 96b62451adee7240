#include "platform/usb/usb_device.h"

#include <cerrno>

#include "platform/registry/device_registry.h"
#include "platform/usb/libusb_backend.h"
#include "platform/usb/registry_pipe.h"

namespace qx::platform::usb {

device_search first_present_device(std::string_view interface_class) {
    if (auto path = qx::platform::first_present_device(interface_class))
        return {device_search::found, *path, 0};
    // TRELINK_USB_IDS names the devices that carry the ECU's class; no other class is known.
    if (interface_class == ecu_interface_class) return find_libusb_device();
    return {device_search::no_device, {}, ENODEV};
}

std::unique_ptr<pipe> open_device(const std::string& path, int& error) {
    if (is_libusb_device_path(path)) return open_libusb_device(path, error);
    return open_registry_device(path, error);
}

}  // namespace qx::platform::usb
