// Registry back-end: a connection to a virtual device's SOCK_SEQPACKET socket.
#pragma once

#include <memory>
#include <string>

#include "platform/usb/usb_device.h"

namespace qx::platform::usb {

std::unique_ptr<pipe> open_registry_device(const std::string& socket_path, int& error);

}  // namespace qx::platform::usb
