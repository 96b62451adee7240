#include "platform/registry/device_registry.h"

#include "platform/environment.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace qx::platform {

std::string registry_root() {
    if (std::string dir = environment::device_dir(); !dir.empty()) return dir;
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run) return std::string(run) + "/trelink";
    return "/tmp/trelink-" + std::to_string(::getuid());
}

std::string registry_class_dir(std::string_view interface_class) {
    std::string guid(interface_class);
    std::transform(guid.begin(), guid.end(), guid.begin(),
                   [](unsigned char c) { return char(std::toupper(c)); });
    return registry_root() + "/" + guid;
}

std::vector<std::string> present_devices(std::string_view interface_class) {
    std::error_code ec;
    std::vector<std::string> sockets;
    for (const auto& entry : std::filesystem::directory_iterator(registry_class_dir(interface_class), ec)) {
        struct stat st {};
        if (::lstat(entry.path().c_str(), &st) == 0 && S_ISSOCK(st.st_mode))
            sockets.push_back(entry.path().string());
    }
    std::sort(sockets.begin(), sockets.end());
    return sockets;
}

std::optional<std::string> first_present_device(std::string_view interface_class) {
    const std::vector<std::string> sockets = present_devices(interface_class);
    if (sockets.empty()) return std::nullopt;
    return sockets.front();
}

}  // namespace qx::platform
