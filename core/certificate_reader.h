// A minimal reader of one DER-encoded X.509 certificate: the serial number and the RSA public
// key, as the ECU's security sequence needs them.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace qx {

struct certificate_fields {
    // Each value right-aligned in its zero-filled field.
    std::array<std::uint8_t, 8> serial{};
    std::array<std::uint8_t, 128> modulus{};
    std::array<std::uint8_t, 3> exponent{};
};

// 0 on success; -1 at the first item that is not what the certificate must hold there, at a
// length that reaches past the bytes, or at a value too long for its field.
int read_certificate(std::span<const std::uint8_t> der, certificate_fields& out);

}  // namespace qx
