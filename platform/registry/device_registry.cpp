#include "platform/registry/device_registry.h"

#include "platform/environment.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace qx::platform {

namespace {

// "user 1001 (mallory)", the name where the system knows it.
std::string user_text(uid_t uid) {
    std::string text = "user " + std::to_string(uid);
    char buffer[1024];
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found) text += std::string(" (") + found->pw_name + ")";
    return text;
}

std::string refused(const std::string& path, const std::string& what) {
    return "Device registry refused: " + path + " " + what + ".";
}

std::string owner_refusal(const std::string& path, const struct stat& st) {
    const uid_t me = ::geteuid();
    if (st.st_uid == me) return {};
    return refused(path, "belongs to " + user_text(st.st_uid) + ", not to " + user_text(me) + " running this program");
}

}  // namespace

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

std::string registry_folder_refusal(const std::string& path, bool* missing) {
    if (missing) *missing = false;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT && missing) {
            *missing = true;
            return {};
        }
        return refused(path, std::string("cannot be examined (") + std::strerror(errno) + ")");
    }
    if (S_ISLNK(st.st_mode)) return refused(path, "is a symbolic link");
    if (std::string owner = owner_refusal(path, st); !owner.empty()) return owner;
    if (!S_ISDIR(st.st_mode)) return refused(path, "is not a folder");
    if (st.st_mode & (S_IWGRP | S_IWOTH)) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", unsigned(st.st_mode & 07777));
        return refused(path, std::string("is writable by its group or by others (mode ") + mode + ")");
    }
    return {};
}

std::string registry_socket_refusal(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return refused(path, std::string("cannot be examined (") + std::strerror(errno) + ")");
    if (S_ISLNK(st.st_mode)) return refused(path, "is a symbolic link");
    if (!S_ISSOCK(st.st_mode)) return refused(path, "is not a socket");
    return owner_refusal(path, st);
}

std::string prepare_registry_folder(const std::string& folder) {
    bool missing = false;
    if (std::string refusal = registry_folder_refusal(folder, &missing); !refusal.empty() || !missing) return refusal;
    // The folders above it as any folder is made; the registry folder itself for us alone.
    std::error_code ec;
    if (const auto parent = std::filesystem::path(folder).parent_path(); !parent.empty())
        std::filesystem::create_directories(parent, ec);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return refused(folder, std::string("cannot be made (") + std::strerror(errno) + ")");
    return registry_folder_refusal(folder);
}

std::string prepare_registry(const std::string& class_dir) {
    const std::string root = std::filesystem::path(class_dir).parent_path().string();
    if (std::string refusal = prepare_registry_folder(root); !refusal.empty()) return refusal;
    return prepare_registry_folder(class_dir);
}

registry_devices present_devices(std::string_view interface_class) {
    registry_devices found;
    const std::string root = registry_root();
    const std::string dir = registry_class_dir(interface_class);
    for (const std::string& folder : {root, dir}) {
        bool missing = false;
        if (std::string refusal = registry_folder_refusal(folder, &missing); !refusal.empty()) {
            found.refusals.push_back(std::move(refusal));
            return found;
        }
        if (missing) return found;
    }
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        const std::string path = entry.path().string();
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) continue;  // gone meanwhile
        // A link or another user's socket is refused; other files are simply no devices.
        if (!S_ISSOCK(st.st_mode) && !S_ISLNK(st.st_mode)) continue;
        if (std::string refusal = registry_socket_refusal(path); !refusal.empty())
            found.refusals.push_back(std::move(refusal));
        else
            found.paths.push_back(path);
    }
    std::sort(found.paths.begin(), found.paths.end());
    std::sort(found.refusals.begin(), found.refusals.end());
    return found;
}

}  // namespace qx::platform
