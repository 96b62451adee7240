// A device-interface notification: a device of an interface class arrived or was removed.
#pragma once

#include <string>

namespace qx::platform {

struct device_event {
    enum kind_t { arrival, removal_complete } kind = arrival;
    unsigned device_type = 5;     // 5: a device interface
    std::string interface_class;  // "{4B916034-47F5-4765-BECA-716DAE788135}"
    std::string path;             // the device path
};

}  // namespace qx::platform
