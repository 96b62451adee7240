// The virtual device registry: where virtual USB devices appear as SOCK_SEQPACKET sockets.
//   root:   $TRELINK_DEVICE_DIR, else $XDG_RUNTIME_DIR/trelink, else /tmp/trelink-<uid>
//   class:  <root>/{GUID in upper case with braces}
//   device: a socket in the class folder; the first present device is the first by name.
//
// Only the effective user may plant a device: the root and a class folder are used only when
// they belong to the effective user, are no symbolic link, are folders and are writable by
// nobody else; a socket only when it belongs to the effective user. Whatever fails is refused
// with a text naming it and what is wrong, and nothing in it is used. Folders this code makes
// are made with mode 0700.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qx::platform {

// The ECU's USB device interface class.
inline constexpr std::string_view ecu_interface_class = "{4B916034-47F5-4765-BECA-716DAE788135}";

std::string registry_root();
// The folder of an interface class (the GUID is upper-cased).
std::string registry_class_dir(std::string_view interface_class);

// Why the registry folder at `path` may not be used, or empty when it may (and exists).
// `missing` is set, with an empty result, when there is nothing at `path`.
std::string registry_folder_refusal(const std::string& path, bool* missing = nullptr);
// Why the device socket at `path` may not be used, or empty when it may.
std::string registry_socket_refusal(const std::string& path);

// Makes `folder` (and the folders above it that are missing, the last one with mode 0700)
// when it is missing, then checks it as a registry folder: its refusal, or empty.
std::string prepare_registry_folder(const std::string& folder);
// The root and the class folder holding `class_dir`, made when missing and checked: the first
// refusal, or empty when a device may be plugged in there.
std::string prepare_registry(const std::string& class_dir);

struct registry_devices {
    std::vector<std::string> paths;     // usable device sockets, by name in byte order
    std::vector<std::string> refusals;  // one text per folder or socket refused
};
// The present devices of the class. Missing folders hold none and are no refusal.
registry_devices present_devices(std::string_view interface_class);

}  // namespace qx::platform
