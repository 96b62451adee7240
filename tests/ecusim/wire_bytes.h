// Test-side byte helpers, written independently of ecusim/wire so that the virtual ECU's
// encoders are checked against bytes they did not produce.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "ecusim/wire.h"

namespace ecusim_test {

using ecusim::byte_order;
using bytes = std::vector<std::uint8_t>;

inline bytes w16(std::uint16_t v, byte_order o) {
    const auto hi = std::uint8_t(v >> 8), lo = std::uint8_t(v & 0xFF);
    return o == byte_order::big ? bytes{hi, lo} : bytes{lo, hi};
}

inline bytes w32(std::uint32_t v, byte_order o) {
    bytes b{std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)};
    if (o == byte_order::little) b = {b[3], b[2], b[1], b[0]};
    return b;
}

inline std::uint16_t r16(const bytes& b, std::size_t at, byte_order o) {
    return o == byte_order::big ? std::uint16_t(b.at(at) << 8 | b.at(at + 1))
                                : std::uint16_t(b.at(at + 1) << 8 | b.at(at));
}

inline std::uint32_t r32(const bytes& b, std::size_t at, byte_order o) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v = v << 8 | b.at(o == byte_order::big ? at + i : at + 3 - i);
    return v;
}

inline float rfloat(const bytes& b, std::size_t at, byte_order o) {
    const std::uint32_t v = r32(b, at, o);
    float f;
    std::memcpy(&f, &v, 4);
    return f;
}

inline bytes cat(std::initializer_list<bytes> parts) {
    bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline bytes text_bytes(const std::string& s) { return bytes(s.begin(), s.end()); }

// A DER item: tag, short or long-form length, content.
inline bytes der(std::uint8_t tag, const bytes& content) {
    bytes out{tag};
    const std::size_t n = content.size();
    if (n < 0x80) {
        out.push_back(std::uint8_t(n));
    } else if (n < 0x100) {
        out.insert(out.end(), {0x81, std::uint8_t(n)});
    } else {
        out.insert(out.end(), {0x82, std::uint8_t(n >> 8), std::uint8_t(n & 0xFF)});
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

inline bytes der_name(const std::string& cn) {
    const bytes oid_cn{0x55, 0x04, 0x03};
    return der(0x30, der(0x31, der(0x30, cat({der(0x06, oid_cn), der(0x13, text_bytes(cn))}))));
}

// An X.509 v3 certificate shape with an RSA key: what the ECU's reader walks.
inline bytes make_certificate(const bytes& serial, const bytes& modulus, const bytes& exponent) {
    const bytes rsa_oid{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
    const bytes sha_oid{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0B};
    bytes m = modulus;
    if (!m.empty() && (m[0] & 0x80)) m.insert(m.begin(), 0x00);
    const bytes key = der(0x30, cat({der(0x02, m), der(0x02, exponent)}));
    const bytes spki = der(0x30, cat({der(0x30, cat({der(0x06, rsa_oid), der(0x05, {})})), der(0x03, cat({{0x00}, key}))}));
    const bytes validity = der(0x30, cat({der(0x17, text_bytes("240101000000Z")), der(0x17, text_bytes("440101000000Z"))}));
    const bytes sig_alg = der(0x30, cat({der(0x06, sha_oid), der(0x05, {})}));
    const bytes tbs = der(0x30, cat({der(0xA0, der(0x02, {0x02})), der(0x02, serial), sig_alg, der_name("Test Root"),
                                     validity, der_name("Test Subject"), spki}));
    return der(0x30, cat({tbs, sig_alg, der(0x03, bytes(9, 0x00))}));
}

// A 128-byte modulus whose first byte has its high bit set.
inline bytes sample_modulus(std::uint8_t seed) {
    bytes m(128);
    for (std::size_t i = 0; i < m.size(); ++i) m[i] = std::uint8_t(seed + i * 7);
    m[0] = 0xC0 | seed;
    return m;
}

}  // namespace ecusim_test
