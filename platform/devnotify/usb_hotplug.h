// libusb hot-plug for the USB devices named by TRELINK_USB_IDS.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/devnotify/device_event.h"

namespace qx::platform {

class usb_hotplug {
public:
    // Null when libusb has no hot-plug support here or the id list is malformed.
    static std::unique_ptr<usb_hotplug> start(const std::string& usb_ids, std::string interface_class,
                                              std::function<void(const device_event&)> cb);
    virtual ~usb_hotplug() = default;
};

}  // namespace qx::platform
