// The virtual device registry: where virtual USB devices appear as SOCK_SEQPACKET sockets.
//   root:   $TRELINK_DEVICE_DIR, else $XDG_RUNTIME_DIR/trelink, else /tmp/trelink-<uid>
//   class:  <root>/{GUID in upper case with braces}
//   device: a socket in the class folder; the first present device is the first by name.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qx::platform {

// The ECU's USB device interface class.
inline constexpr std::string_view ecu_interface_class = "{4B916034-47F5-4765-BECA-716DAE788135}";

std::string registry_root();
// The folder of an interface class (the GUID is upper-cased).
std::string registry_class_dir(std::string_view interface_class);
// The paths of the present devices of the class, by name in byte order.
std::vector<std::string> present_devices(std::string_view interface_class);
// The path of the first present device of the class by name in byte order, if any.
std::optional<std::string> first_present_device(std::string_view interface_class);

}  // namespace qx::platform
