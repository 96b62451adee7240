// The connection manager's bounded response views against arbitrary responses. Input: the
// fixed size (2 bytes, little-endian), the descriptor and slot positions (1 byte each), a
// load position (2 bytes), then the block. A view either refuses or lies wholly inside the
// block, behind the fixed part, exactly count * element size long.
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "core/exception.h"
#include "core/response_view.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 6) return 0;
    const std::size_t fixed = data[0] | std::size_t(data[1]) << 8;
    const std::size_t descriptor_at = data[2], slot_at = data[3];
    const std::size_t load_at = data[4] | std::size_t(data[5]) << 8;
    const std::vector<std::uint8_t> copy(data + 6, data + size);  // exactly the bytes given
    const std::span<const std::uint8_t> block(copy);
    try {
        const qx::response_array a = qx::view_array(block, descriptor_at, slot_at, fixed);
        if (a.bytes.size() != std::size_t(a.count) * a.element_size) __builtin_trap();
        if (a.count == 0 && !a.bytes.empty()) __builtin_trap();
        if (!a.bytes.empty()) {
            const std::size_t at = std::size_t(a.bytes.data() - block.data());
            if (at < fixed || at > block.size() || a.bytes.size() > block.size() - at) __builtin_trap();
        }
        const std::string text = qx::text_of(a.bytes);
        if (text.size() > a.bytes.size() || text.find('\0') != std::string::npos) __builtin_trap();
    } catch (const qx::exception&) {
    }
    try {
        const auto v = qx::load<std::uint32_t>(block, load_at);
        std::uint32_t expected;
        std::memcpy(&expected, block.data() + load_at, sizeof expected);  // in range, or it threw
        if (v != expected) __builtin_trap();
    } catch (const qx::exception&) {
        if (load_at + 4 <= block.size()) __builtin_trap();
    }
    return 0;
}
