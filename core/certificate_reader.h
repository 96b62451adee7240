// A minimal reader of one DER-encoded X.509 certificate: the serial number and the RSA public
// key, as the ECU's security sequence needs them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace qx {

struct certificate_fields {
    // Each value right-aligned in its zero-filled field.
    std::array<std::uint8_t, 8> serial{};
    std::array<std::uint8_t, 128> modulus{};
    std::array<std::uint8_t, 3> exponent{};
    std::size_t serial_length = 0;  // bytes of the serial's value, a sign byte not counted
};

// The ECU's serial number: the first four bytes of the serial field.
inline constexpr std::size_t ecu_serial_size = 4;

// 0 on success; -1 at the first item that is not what the certificate must hold there, at a
// length that reaches past the bytes, or at a value too long for its field.
int read_certificate(std::span<const std::uint8_t> der, certificate_fields& out);

// The certificate an ECU returns: as above, and -1 when its serial value is shorter than the
// ECU's serial number (a shorter one would leave those bytes zero and name no ECU).
int read_ecu_certificate(std::span<const std::uint8_t> der, certificate_fields& out);

// No certificate file is longer: a longer one (a device such as /dev/zero among them) is
// refused after this many bytes and one more, never read to its end.
inline constexpr std::size_t certificate_file_limit = 64 * 1024;

enum class certificate_file { read, cannot_open, unreadable };
// Reads the root certificate file whole into `bytes`: `unreadable` when a read failed or the
// file is longer than certificate_file_limit (`bytes` then empty).
certificate_file read_certificate_file(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes);

}  // namespace qx
