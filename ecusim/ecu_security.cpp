// SECURITY_COMMAND: certificate validation, key transfer, encrypted blocks, serial, flash
// device, core dump.
#include <algorithm>
#include <cstring>

#include "ecusim/command_codes.h"
#include "ecusim/der_reader.h"
#include "ecusim/ecu_model.h"

namespace ecusim {

namespace {

constexpr std::size_t modulus_size = 128;
constexpr std::size_t block_size = 2048;
constexpr std::size_t dump_table_size = 112;
constexpr std::uint32_t key_not_sent = 0x71000012;
constexpr std::uint32_t dump_tag = 0x51582D44;  // 'QX-D'

// Security_BlockRequest_DTS: command @0, size @2, format @4, key0 @8, key1 @16, address @24,
// misc0 @28, misc1 @32, misc2 @36, data @40; fixed part 48.
struct security_request {
    std::uint8_t command;
    std::uint16_t size;
    std::uint16_t format;
    std::uint32_t address;
    std::uint32_t misc0;
    array_view key0, key1, data;
};

security_request parse(std::span<const std::uint8_t> q, byte_order o) {
    const request_arrays a(q, 48, {8, 16, 40});
    return {q[0], get16(q, 2, o), get16(q, 4, o), get32(q, 24, o), get32(q, 28, o), a[0], a[1], a[2]};
}

bytes failure(std::uint32_t status, const std::string& text, byte_order o) {
    return status_string_response(status, text, o);
}

bytes success(std::span<const std::uint8_t> str, byte_order o) {
    response_builder r(20, o);
    if (str.empty()) r.empty_array(4, 1); else r.byte_array(4, str);
    r.empty_array(12, 0);
    return r.finish();
}

}  // namespace

bytes ecu::security(std::span<const std::uint8_t> q, byte_order o, reply&) {
    const security_request s = parse(q, o);
    switch (s.command) {
        case 3: {
            if (s.key0.count == 0 || s.key1.count == 0) return failure(status::security_null, "No public key given", o);
            if (s.key0.elements.size() != modulus_size || s.key0.element_size != 1)
                return failure(status::security_size, "Public key modulus must be 128 bytes", o);
            const rsa_public_key given = normalised_key(s.key0.elements, s.key1.elements);
            for (std::size_t i = 0; i < cfg_.trusted_certificates.size(); ++i) {
                const auto key = certificate_public_key(cfg_.trusted_certificates[i]);
                if (!key || !(*key == given)) continue;
                st_.accepted_certificate = i == 0 ? "root" : "package";
                bytes cert = cfg_.device_certificate;
                if (const auto serial = certificate_serial(cert); serial && serial->length >= 4)
                    std::copy(cfg_.serial.begin(), cfg_.serial.end(), cert.begin() + std::ptrdiff_t(serial->offset));
                return success(cert, o);
            }
            ++st_.rejected_keys;
            return failure(status::security_key, "Certificate not trusted", o);
        }
        case 6:
            if (s.key0.elements.size() != modulus_size)
                return failure(status::security_size, "Key block must be 128 bytes", o);
            st_.key_block = bytes(s.key0.elements.begin(), s.key0.elements.end());
            dynamic_blocks_ = 0;  // a new image: dynamic model blocks start at the area's base again
            flash_map_.new_image();
            return success({}, o);
        case 7:
        case 8:
        case 9: {
            if (!st_.key_block) return failure(key_not_sent, "No symmetric key received", o);
            if (s.data.elements.size() != block_size) return failure(status::security_size, "Block must be 2048 bytes", o);
            bytes data(s.data.elements.begin(), s.data.elements.end());
            if (s.command == 7) {
                st_.first_block = data;
                return success({}, o);
            }
            const std::uint32_t at =
                s.command == 8 ? dynamic_model_base + dynamic_blocks_ * std::uint32_t(block_size) : s.misc0;
            if (const auto refused = flash_map_.program(at, std::uint32_t(block_size)))
                return failure(status::security_error, *refused, o);
            if (s.command == 8) ++dynamic_blocks_;
            st_.blocks.push_back({s.command, s.format, s.address, s.misc0, data});
            st_.flash[at] = std::move(data);
            return success({}, o);
        }
        case 10:
            if (st_.mode != ecu_mode::app) return failure(status::security_error, "Serial number not available in the boot loader", o);
            return success(cfg_.serial, o);
        case 11: {
            response_builder r(20, o);
            const std::uint16_t id[] = {cfg_.flash_device_id};
            const std::uint8_t low[] = {std::uint8_t(cfg_.flash_device_id & 0xFF)};
            if (cfg_.flash_device_id_bytes >= 2) r.u16_array(4, id);
            else if (cfg_.flash_device_id_bytes == 1) r.byte_array(4, low);
            else r.empty_array(4, 1);
            r.empty_array(12, 0);
            return r.finish();
        }
        case 12: {
            if (s.key0.elements.size() != dump_table_size)
                return failure(status::security_size, "Dump section table must be 112 bytes", o);
            st_.dump_sections.assign(s.key0.elements.begin(), s.key0.elements.end());
            // The dump header: tag, version, serial, reserved, 128 key bytes, the section table.
            bytes h(16 + 128, 0);
            put32(h, 0, dump_tag, o);
            put32(h, 4, 1, o);
            std::copy(cfg_.serial.begin(), cfg_.serial.end(), h.begin() + 8);
            h.insert(h.end(), s.key0.elements.begin(), s.key0.elements.end());
            return success(h, o);
        }
        case 13: {
            if (s.size == 0 || s.size > 4068) return failure(status::security_size, "Dump piece size out of range", o);
            st_.dump_reads.push_back(s.address);
            bytes piece(s.size, 0xFF);
            for (std::size_t i = 0; i < piece.size(); ++i) {
                const std::uint64_t a = std::uint64_t(s.address) + i;
                auto it = st_.flash.upper_bound(std::uint32_t(a));
                if (it == st_.flash.begin()) continue;
                --it;
                if (a < std::uint64_t(it->first) + it->second.size()) piece[i] = it->second[std::size_t(a - it->first)];
            }
            return success(piece, o);
        }
        default:
            return failure(status::security_error, "Unknown security sub-function", o);
    }
}

}  // namespace ecusim
