// Arrival and removal-complete notifications for one interface class: from the virtual device
// registry (inotify on the class folder) and, when TRELINK_USB_IDS names devices, from libusb
// hot-plug. The callback runs on the notification's own thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/devnotify/device_event.h"

namespace qx::platform {

class device_notification {
public:
    using callback = std::function<void(const device_event&)>;
    // Starts watching; the registry's folders are made when missing. Throws std::runtime_error
    // with the refusal when the registry's folders may not be used (device_registry.h), and
    // std::system_error when they cannot be watched. Only sockets the registry accepts arrive.
    device_notification(std::string interface_class, callback cb);
    // Stops watching; no callback runs after it returns.
    ~device_notification();
    device_notification(const device_notification&) = delete;
    device_notification& operator=(const device_notification&) = delete;

private:
    struct impl;
    std::unique_ptr<impl> impl_;
};

}  // namespace qx::platform
