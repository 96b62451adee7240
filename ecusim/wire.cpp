#include "ecusim/wire.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace ecusim {

namespace {
void need(std::size_t size, std::size_t at, std::size_t width) {
    if (at > size || size - at < width) throw malformed_request("field beyond the received bytes");
}
}  // namespace

std::uint16_t get16(std::span<const std::uint8_t> b, std::size_t at, byte_order o) {
    need(b.size(), at, 2);
    return o == byte_order::big ? std::uint16_t(b[at] << 8 | b[at + 1])
                                : std::uint16_t(b[at + 1] << 8 | b[at]);
}

std::uint32_t get32(std::span<const std::uint8_t> b, std::size_t at, byte_order o) {
    need(b.size(), at, 4);
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        const std::size_t k = o == byte_order::big ? at + std::size_t(i) : at + 3 - std::size_t(i);
        v = v << 8 | b[k];
    }
    return v;
}

void put16(std::span<std::uint8_t> b, std::size_t at, std::uint16_t v, byte_order o) {
    need(b.size(), at, 2);
    const auto hi = std::uint8_t(v >> 8), lo = std::uint8_t(v);
    b[at] = o == byte_order::big ? hi : lo;
    b[at + 1] = o == byte_order::big ? lo : hi;
}

void put32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v, byte_order o) {
    need(b.size(), at, 4);
    for (int i = 0; i < 4; ++i) {
        const auto byte = std::uint8_t(v >> (8 * (3 - i)));  // most significant first
        const std::size_t k = o == byte_order::big ? at + std::size_t(i) : at + 3 - std::size_t(i);
        b[k] = byte;
    }
}

float get_float(std::span<const std::uint8_t> b, std::size_t at, byte_order o) {
    return std::bit_cast<float>(get32(b, at, o));
}

void put_float(std::span<std::uint8_t> b, std::size_t at, float v, byte_order o) {
    put32(b, at, std::bit_cast<std::uint32_t>(v), o);
}

request_arrays::request_arrays(std::span<const std::uint8_t> block, std::size_t fixed_size,
                               std::initializer_list<std::size_t> descriptor_offsets) {
    if (block.size() < fixed_size) throw malformed_request("request shorter than its fixed part");
    std::size_t offset = 0;  // inside the variable part
    for (const std::size_t d : descriptor_offsets) {
        array_view a;
        a.element_size = block[d];
        a.count = std::uint16_t(block[d + 1] << 8 | block[d + 2]);
        if (a.count != 0) {
            if (a.element_size == 0) throw malformed_request("array with element size 0");
            offset += (a.element_size - offset % a.element_size) % a.element_size;
            const std::size_t length = std::size_t(a.count) * a.element_size;
            const std::size_t at = fixed_size + offset;
            if (at > block.size() || block.size() - at < length)
                throw malformed_request("array elements beyond the received bytes");
            a.elements = block.subspan(at, length);
            offset += length;
        }
        arrays_.push_back(a);
    }
    end_ = fixed_size + offset;
}

response_builder::response_builder(std::size_t fixed_size, byte_order o) : order_(o), fixed_(fixed_size, 0) {}

void response_builder::raw(std::size_t at, std::span<const std::uint8_t> v) {
    if (at + v.size() > fixed_.size()) throw std::out_of_range("raw field beyond the fixed part");
    std::copy(v.begin(), v.end(), fixed_.begin() + std::ptrdiff_t(at));
}

void response_builder::array(std::size_t descriptor, std::uint8_t element_size,
                             std::span<const std::uint8_t> elements_le) {
    if (element_size == 0 || elements_le.size() % element_size != 0)
        throw std::invalid_argument("array bytes are not whole elements");
    const std::size_t count = elements_le.size() / element_size;
    if (count > 0xFFFF) throw std::invalid_argument("array count beyond 65535");
    fixed_.at(descriptor) = element_size;
    fixed_.at(descriptor + 1) = std::uint8_t(count >> 8);
    fixed_.at(descriptor + 2) = std::uint8_t(count);
    if (count == 0) return;
    variable_.resize(variable_.size() + (element_size - variable_.size() % element_size) % element_size, 0);
    const std::size_t start = variable_.size();
    variable_.insert(variable_.end(), elements_le.begin(), elements_le.end());
    if (order_ == byte_order::big && element_size >= 2 && element_size <= 16)
        for (std::size_t i = 0; i < count; ++i) {
            auto first = variable_.begin() + std::ptrdiff_t(start + i * element_size);
            std::reverse(first, first + element_size);
        }
}

void response_builder::text(std::size_t descriptor, const std::string& s) {
    bytes b(s.begin(), s.end());
    b.push_back(0);
    array(descriptor, 1, b);
}

void response_builder::u16_array(std::size_t descriptor, std::span<const std::uint16_t> v) {
    bytes b(v.size() * 2);
    for (std::size_t i = 0; i < v.size(); ++i) put16(b, i * 2, v[i], byte_order::little);
    if (v.empty()) empty_array(descriptor, 2); else array(descriptor, 2, b);
}

void response_builder::float_array(std::size_t descriptor, std::span<const float> v) {
    bytes b(v.size() * 4);
    for (std::size_t i = 0; i < v.size(); ++i) put_float(b, i * 4, v[i], byte_order::little);
    if (v.empty()) empty_array(descriptor, 4); else array(descriptor, 4, b);
}

void response_builder::empty_array(std::size_t descriptor, std::uint8_t element_size) {
    fixed_.at(descriptor) = element_size;
    fixed_.at(descriptor + 1) = 0;
    fixed_.at(descriptor + 2) = 0;
}

bytes response_builder::finish() const {
    bytes out = fixed_;
    out.insert(out.end(), variable_.begin(), variable_.end());
    return out;
}

bytes status_string_response(std::uint32_t status, const std::string& text, byte_order o) {
    response_builder r(20, o);
    r.u32(0, status);
    if (text.empty()) r.empty_array(4, 1); else r.text(4, text);
    r.empty_array(12, 0);
    return r.finish();
}

bytes status_response(std::uint32_t status, byte_order o) {
    bytes b(4);
    put32(b, 0, status, o);
    return b;
}

bytes byte_array_response(std::span<const std::uint8_t> b, byte_order o) {
    response_builder r(8, o);
    if (b.empty()) r.empty_array(0, 1); else r.byte_array(0, b);
    return r.finish();
}

std::string array_text(const array_view& a) {
    std::string s;
    for (const std::uint8_t c : a.elements) {
        if (c == 0) break;
        s.push_back(char(c));
    }
    return s;
}

std::string hex(std::span<const std::uint8_t> b) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (const std::uint8_t c : b) {
        s.push_back(digits[c >> 4]);
        s.push_back(digits[c & 15]);
    }
    return s;
}

std::uint32_t crc32_ieee(std::span<const std::uint8_t> b) {
    std::uint32_t c = 0xFFFFFFFF;
    for (const std::uint8_t x : b) {
        c ^= x;
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}

std::string hex32(std::uint32_t v) {
    const std::uint8_t b[] = {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)};
    return hex(b);
}

}  // namespace ecusim
