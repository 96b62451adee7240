#include "pak/crc32c.h"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <nmmintrin.h>
#endif

namespace qx {

namespace {

using table_set = std::array<std::array<std::uint32_t, 256>, 8>;

// tables[0] is the classic byte table; tables[k][b] is b's contribution k bytes further back.
constexpr table_set make_tables() {
    table_set t{};
    for (std::uint32_t b = 0; b < 256; ++b) {
        std::uint32_t r = b;
        for (int bit = 0; bit < 8; ++bit) r = (r >> 1) ^ ((r & 1) ? crc32c_polynomial : 0);
        t[0][b] = r;
    }
    for (std::size_t k = 1; k < 8; ++k)
        for (std::size_t b = 0; b < 256; ++b) t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
    return t;
}

constexpr table_set tables = make_tables();

inline std::uint32_t step(std::uint32_t reg, std::uint8_t byte) {
    return (reg >> 8) ^ tables[0][(reg ^ byte) & 0xFF];
}

}  // namespace

std::uint32_t crc32c_update_bytewise(std::uint32_t reg, const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < size; ++i) reg = step(reg, p[i]);
    return reg;
}

std::uint32_t crc32c_update_sliced(std::uint32_t reg, const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size >= 8) {
        // Explicit little-endian assembly keeps the result independent of the host.
        const std::uint32_t lo = reg ^ (std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 |
                                        std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24);
        const std::uint32_t hi = std::uint32_t(p[4]) | std::uint32_t(p[5]) << 8 |
                                 std::uint32_t(p[6]) << 16 | std::uint32_t(p[7]) << 24;
        reg = tables[7][lo & 0xFF] ^ tables[6][(lo >> 8) & 0xFF] ^ tables[5][(lo >> 16) & 0xFF] ^
              tables[4][lo >> 24] ^ tables[3][hi & 0xFF] ^ tables[2][(hi >> 8) & 0xFF] ^
              tables[1][(hi >> 16) & 0xFF] ^ tables[0][hi >> 24];
        p += 8;
        size -= 8;
    }
    for (std::size_t i = 0; i < size; ++i) reg = step(reg, p[i]);
    return reg;
}

#if defined(__x86_64__)

bool crc32c_hardware_available() {
    static const bool available = __builtin_cpu_supports("sse4.2");
    return available;
}

__attribute__((target("sse4.2"))) std::uint32_t crc32c_update_hardware(std::uint32_t reg, const void* data,
                                                                        std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    std::uint64_t r = reg;
    while (size >= 8) {
        std::uint64_t v;
        std::memcpy(&v, p, sizeof v);  // x86-64 is little-endian, as the reflected CRC wants
        r = _mm_crc32_u64(r, v);
        p += 8;
        size -= 8;
    }
    reg = std::uint32_t(r);
    while (size-- > 0) reg = _mm_crc32_u8(reg, *p++);
    return reg;
}

#else

bool crc32c_hardware_available() { return false; }

std::uint32_t crc32c_update_hardware(std::uint32_t reg, const void* data, std::size_t size) {
    return crc32c_update_sliced(reg, data, size);
}

#endif

std::uint32_t crc32c_update(std::uint32_t reg, const void* data, std::size_t size) {
    return crc32c_hardware_available() ? crc32c_update_hardware(reg, data, size) : crc32c_update_sliced(reg, data, size);
}

}  // namespace qx
