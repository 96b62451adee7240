// Reads arbitrary bytes as a package group: any failure must be one of the readers'
// exceptions, and an accepted group must hold what its rules allow.
#include <cstdint>
#include <sstream>
#include <string>

#include "pak/pak_group_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream stream(std::string(reinterpret_cast<const char*>(data), size), std::ios::in | std::ios::binary);
    qx::pak_group_file group("01020AFF");
    try {
        group.read(stream);
    } catch (const qx::exception&) {
        if (group.loaded || !group.entries.empty()) __builtin_trap();
        return 0;
    }
    if (!group.loaded || group.declared_count == 0 || group.declared_count > 255) __builtin_trap();
    if (group.entries.size() > group.declared_count) __builtin_trap();
    for (const auto& e : group.entries)
        if (e.entry_type != e.header.image_type || e.header.serial_number != group.serial_number) __builtin_trap();
    return 0;
}
