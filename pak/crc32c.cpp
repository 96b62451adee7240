#include "pak/crc32c.h"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
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
    static const bool available = [] {
        __builtin_cpu_init();  // may run before the constructors that would otherwise do it
        return __builtin_cpu_supports("sse4.2") != 0;
    }();
    return available;
}

namespace {

// Multiplies two polynomials modulo the CRC polynomial, both in the reflected order of the
// register (bit 31 is x^0).
constexpr std::uint32_t multiply_mod(std::uint32_t a, std::uint32_t b) {
    std::uint32_t product = 0;
    for (std::uint32_t m = 1u << 31; m != 0; m >>= 1) {
        if (a & m) product ^= b;
        b = (b >> 1) ^ ((b & 1) ? crc32c_polynomial : 0);
    }
    return product;
}

// x^(8 * bytes) modulo the polynomial: what feeding `bytes` zero bytes does to a register.
constexpr std::uint32_t zero_bytes_operator(std::size_t bytes) {
    std::uint32_t result = 1u << 31, power = 1u << 23;  // x^0 and x^8
    for (; bytes != 0; bytes >>= 1) {
        if (bytes & 1) result = multiply_mod(result, power);
        power = multiply_mod(power, power);
    }
    return result;
}

using shift_tables = std::array<std::array<std::uint32_t, 256>, 4>;

// The operator as four byte tables, so a register is advanced over a zero block in four lookups.
constexpr shift_tables make_shift_tables(std::size_t bytes) {
    const std::uint32_t op = zero_bytes_operator(bytes);
    shift_tables t{};
    for (std::uint32_t k = 0; k < 4; ++k)
        for (std::uint32_t b = 0; b < 256; ++b) t[k][b] = multiply_mod(b << (8 * k), op);
    return t;
}

inline std::uint32_t shift(const shift_tables& t, std::uint32_t reg) {
    return t[0][reg & 0xFF] ^ t[1][(reg >> 8) & 0xFF] ^ t[2][(reg >> 16) & 0xFF] ^ t[3][reg >> 24];
}

// Lane lengths of the three-stream loop: long lanes for bulk data, short ones for what is left.
constexpr std::size_t long_lane = 4096, short_lane = 256;
constexpr shift_tables shift_long = make_shift_tables(long_lane);
constexpr shift_tables shift_short = make_shift_tables(short_lane);

__attribute__((target("sse4.2"))) inline std::uint64_t crc_word(std::uint64_t reg, const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);  // x86-64 is little-endian, as the reflected CRC wants
    return _mm_crc32_u64(reg, v);
}

// Three lanes of `lane` bytes each, one instruction chain per lane, so three CRC32 instructions
// are in flight at once; the lanes' registers are then joined by shifting over the lanes after them.
__attribute__((target("sse4.2"))) inline std::uint32_t three_lanes(std::uint32_t reg, const std::uint8_t* p,
                                                                   std::size_t lane, const shift_tables& t) {
    std::uint64_t a = reg, b = 0, c = 0;
    for (std::size_t i = 0; i < lane; i += 8) {
        a = crc_word(a, p + i);
        b = crc_word(b, p + lane + i);
        c = crc_word(c, p + 2 * lane + i);
    }
    return shift(t, shift(t, std::uint32_t(a)) ^ std::uint32_t(b)) ^ std::uint32_t(c);
}

}  // namespace

__attribute__((target("sse4.2"))) std::uint32_t crc32c_update_hardware_one_stream(std::uint32_t reg, const void* data,
                                                                                   std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    std::uint64_t r = reg;
    for (; size >= 8; p += 8, size -= 8) r = crc_word(r, p);
    reg = std::uint32_t(r);
    while (size-- > 0) reg = _mm_crc32_u8(reg, *p++);
    return reg;
}

__attribute__((target("sse4.2"))) std::uint32_t crc32c_update_hardware(std::uint32_t reg, const void* data,
                                                                        std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    for (; size >= 3 * long_lane; p += 3 * long_lane, size -= 3 * long_lane) reg = three_lanes(reg, p, long_lane, shift_long);
    for (; size >= 3 * short_lane; p += 3 * short_lane, size -= 3 * short_lane)
        reg = three_lanes(reg, p, short_lane, shift_short);
    return crc32c_update_hardware_one_stream(reg, p, size);
}

namespace {

// The folding constants for a distance of `bits`: per 128-bit lane, the low half (the earlier
// bytes) is multiplied by x^(bits+32) and the high half by x^(bits-32), each mod P, in the
// register's reflected order widened to 33 bits.
constexpr std::uint64_t fold_factor(std::size_t bits) { return std::uint64_t(zero_bytes_operator(bits / 8)) << 1; }

constexpr std::uint64_t fold_256_lo = fold_factor(2048 + 32), fold_256_hi = fold_factor(2048 - 32);
constexpr std::uint64_t fold_64_lo = fold_factor(512 + 32), fold_64_hi = fold_factor(512 - 32);
constexpr std::uint64_t fold_16_lo = fold_factor(128 + 32), fold_16_hi = fold_factor(128 - 32);

#define QX_FOLDING_TARGET __attribute__((target("sse4.2,pclmul,avx512f,avx512vl,vpclmulqdq")))

QX_FOLDING_TARGET inline __m512i fold(__m512i acc, __m512i k, __m512i next) {
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(acc, k, 0x00), _mm512_clmulepi64_epi128(acc, k, 0x11),
                                     next, 0x96);
}

QX_FOLDING_TARGET inline __m128i fold(__m128i acc, __m128i k, __m128i next) {
    return _mm_ternarylogic_epi64(_mm_clmulepi64_si128(acc, k, 0x00), _mm_clmulepi64_si128(acc, k, 0x11), next, 0x96);
}

}  // namespace

bool crc32c_folding_available() {
    static const bool available = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("sse4.2") && __builtin_cpu_supports("pclmul") &&
               __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
               __builtin_cpu_supports("vpclmulqdq");
    }();
    return available;
}

// Sixteen 128-bit lanes (four 512-bit registers) carry the data forward 256 bytes at a time by
// carry-less multiplication; they are then folded into one lane, whose 16 bytes the CRC32
// instruction reduces to the register. Below 512 bytes the three-stream routine is as fast.
QX_FOLDING_TARGET std::uint32_t crc32c_update_folded(std::uint32_t reg, const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    if (size < 512) return crc32c_update_hardware(reg, p, size);
    __m512i a0 = _mm512_xor_si512(_mm512_loadu_si512(p), _mm512_zextsi128_si512(_mm_cvtsi32_si128(int(reg))));
    __m512i a1 = _mm512_loadu_si512(p + 64), a2 = _mm512_loadu_si512(p + 128), a3 = _mm512_loadu_si512(p + 192);
    p += 256;
    size -= 256;
    const __m512i k256 = _mm512_set_epi64(fold_256_hi, fold_256_lo, fold_256_hi, fold_256_lo, fold_256_hi,
                                          fold_256_lo, fold_256_hi, fold_256_lo);
    for (; size >= 256; p += 256, size -= 256) {
        a0 = fold(a0, k256, _mm512_loadu_si512(p));
        a1 = fold(a1, k256, _mm512_loadu_si512(p + 64));
        a2 = fold(a2, k256, _mm512_loadu_si512(p + 128));
        a3 = fold(a3, k256, _mm512_loadu_si512(p + 192));
    }
    const __m512i k64 =
        _mm512_set_epi64(fold_64_hi, fold_64_lo, fold_64_hi, fold_64_lo, fold_64_hi, fold_64_lo, fold_64_hi, fold_64_lo);
    a3 = fold(fold(fold(a0, k64, a1), k64, a2), k64, a3);
    const __m128i k16 = _mm_set_epi64x(std::int64_t(fold_16_hi), std::int64_t(fold_16_lo));
    alignas(64) __m128i lanes[4];
    _mm512_store_si512(lanes, a3);
    const __m128i x = fold(fold(fold(lanes[0], k16, lanes[1]), k16, lanes[2]), k16, lanes[3]);
    std::uint64_t r = _mm_crc32_u64(0, std::uint64_t(_mm_cvtsi128_si64(x)));
    r = _mm_crc32_u64(r, std::uint64_t(_mm_extract_epi64(x, 1)));
    return crc32c_update_hardware(std::uint32_t(r), p, size);
}

#undef QX_FOLDING_TARGET

#else

bool crc32c_hardware_available() { return false; }

bool crc32c_folding_available() { return false; }

std::uint32_t crc32c_update_folded(std::uint32_t reg, const void* data, std::size_t size) {
    return crc32c_update_sliced(reg, data, size);
}

std::uint32_t crc32c_update_hardware(std::uint32_t reg, const void* data, std::size_t size) {
    return crc32c_update_sliced(reg, data, size);
}

std::uint32_t crc32c_update_hardware_one_stream(std::uint32_t reg, const void* data, std::size_t size) {
    return crc32c_update_sliced(reg, data, size);
}

#endif

std::uint32_t crc32c_update(std::uint32_t reg, const void* data, std::size_t size) {
    // The words and texts of a package's fields: below 512 bytes every faster routine hands
    // them to the one-stream routine.
    if (size < 512 && crc32c_hardware_available()) return crc32c_update_hardware_one_stream(reg, data, size);
    if (crc32c_folding_available()) return crc32c_update_folded(reg, data, size);
    return crc32c_hardware_available() ? crc32c_update_hardware(reg, data, size) : crc32c_update_sliced(reg, data, size);
}

}  // namespace qx
