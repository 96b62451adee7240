#include "platform/dynload/dynamic_library.h"

#include <dlfcn.h>

namespace qx::platform {

namespace {
std::string loader_error() {
    const char* text = ::dlerror();
    return text ? text : "";
}
}  // namespace

dynamic_library::~dynamic_library() {
    if (handle_) ::dlclose(handle_);
}

bool dynamic_library::load(const char* file_name) {
    if (handle_) unload();
    if (!file_name || !*file_name) {
        last_error_ = "no library name";
        return false;
    }
    handle_ = ::dlopen(file_name, RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        last_error_ = loader_error();
        return false;
    }
    return true;
}

void* dynamic_library::symbol(const char* name) const {
    if (!handle_ || !name) return nullptr;
    ::dlerror();
    void* address = ::dlsym(handle_, name);
    if (!address) last_error_ = loader_error();
    return address;
}

bool dynamic_library::unload() {
    if (!handle_) {
        last_error_ = "no library loaded";
        return false;
    }
    void* handle = handle_;
    handle_ = nullptr;
    if (::dlclose(handle) != 0) {
        last_error_ = loader_error();
        return false;
    }
    return true;
}

}  // namespace qx::platform
