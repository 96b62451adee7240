// A library loaded at run time by file name, with its entry points looked up by name.
#pragma once

#include <string>

namespace qx::platform {

class dynamic_library {
public:
    dynamic_library() = default;
    ~dynamic_library();
    dynamic_library(const dynamic_library&) = delete;
    dynamic_library& operator=(const dynamic_library&) = delete;

    // Loads `file_name` (a path, or a name the dynamic loader searches for). A library that is
    // already loaded is unloaded first. False when the library cannot be loaded.
    bool load(const char* file_name);
    // The address of the entry point `name`, or nullptr when the library lacks it.
    void* symbol(const char* name) const;
    // Unloads the library. False when nothing was loaded or the loader refused.
    bool unload();

    bool loaded() const { return handle_ != nullptr; }
    // The loader's text for the last failure of load, symbol or unload.
    const std::string& last_error() const { return last_error_; }

    template <typename Function>
    Function entry(const char* name) const {
        return reinterpret_cast<Function>(symbol(name));
    }

private:
    void* handle_ = nullptr;
    mutable std::string last_error_;
};

}  // namespace qx::platform
