#include "core/exception.h"

namespace qx {

exception::~exception() = default;

const char* exception::what() const noexcept { return message.c_str(); }

connection_manager_exceptions::exception_invalid_channel::~exception_invalid_channel() = default;

connection_manager_exceptions::exception_invalid_channel
connection_manager_exceptions::exception_invalid_channel::for_channel(std::string name) {
    exception_invalid_channel e;
    e.channel_name = std::move(name);
    return e;
}

}  // namespace qx
