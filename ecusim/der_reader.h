// Just enough DER to find an X.509 certificate's serial number and RSA public key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace ecusim {

struct rsa_public_key {
    std::vector<std::uint8_t> modulus;   // no leading zero byte
    std::vector<std::uint8_t> exponent;  // no leading zero bytes
    bool operator==(const rsa_public_key&) const = default;
};

// Where the serial number INTEGER's content bytes lie in the certificate.
struct byte_range {
    std::size_t offset = 0;
    std::size_t length = 0;
};

std::optional<byte_range> certificate_serial(std::span<const std::uint8_t> der);
std::optional<rsa_public_key> certificate_public_key(std::span<const std::uint8_t> der);

// A key as the host sends it: fixed-width fields, right-aligned, zero-filled on the left.
rsa_public_key normalised_key(std::span<const std::uint8_t> modulus, std::span<const std::uint8_t> exponent);

}  // namespace ecusim
