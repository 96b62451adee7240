// Reading and writing transfer structures as the ECU sees them, with explicit byte order.
// The USB link carries big-endian structures; the simulator link carries host (little-endian)
// structures. Array counts are always high byte first, whatever the order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace ecusim {

using bytes = std::vector<std::uint8_t>;

enum class byte_order { big, little };

// A request that does not hold what its fields promise.
struct malformed_request : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::uint16_t get16(std::span<const std::uint8_t> b, std::size_t at, byte_order o);
std::uint32_t get32(std::span<const std::uint8_t> b, std::size_t at, byte_order o);
void put16(std::span<std::uint8_t> b, std::size_t at, std::uint16_t v, byte_order o);
void put32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v, byte_order o);
float get_float(std::span<const std::uint8_t> b, std::size_t at, byte_order o);
void put_float(std::span<std::uint8_t> b, std::size_t at, float v, byte_order o);

// One array of a received structure: its descriptor and where its elements were found.
struct array_view {
    std::uint8_t element_size = 0;
    std::uint16_t count = 0;
    std::span<const std::uint8_t> elements;  // count * element_size bytes
};

// Finds the elements of a received structure's arrays. The sender's pointers mean nothing
// here: the elements are where the layout rule puts them, behind the fixed part, each array
// aligned to its element size inside the variable part, in descriptor order.
class request_arrays {
public:
    // descriptor_offsets: position of each array's element-size byte, in declaration order.
    request_arrays(std::span<const std::uint8_t> block, std::size_t fixed_size,
                   std::initializer_list<std::size_t> descriptor_offsets);
    const array_view& operator[](std::size_t i) const { return arrays_.at(i); }
    std::size_t size() const { return arrays_.size(); }
    // Bytes the laid-out structure takes (fixed part plus variable part).
    std::size_t transfer_size() const { return end_; }

private:
    std::vector<array_view> arrays_;
    std::size_t end_ = 0;
};

// Builds a response structure: a zeroed fixed part written field by field, then arrays laid
// out behind it by the same rule. Pointer slots are left 0: the host lays out anew.
class response_builder {
public:
    response_builder(std::size_t fixed_size, byte_order o);
    void u8(std::size_t at, std::uint8_t v) { fixed_.at(at) = v; }
    void u16(std::size_t at, std::uint16_t v) { put16(fixed_, at, v, order_); }
    void u32(std::size_t at, std::uint32_t v) { put32(fixed_, at, v, order_); }
    void f32(std::size_t at, float v) { put_float(fixed_, at, v, order_); }
    void raw(std::size_t at, std::span<const std::uint8_t> v);
    // An array whose element-size byte stands at descriptor; elements are element_size-byte
    // units in host value terms and are written in the builder's order (sizes 2..16 reversed
    // for big-endian, bytes as they are). Arrays must be added in declaration order.
    void array(std::size_t descriptor, std::uint8_t element_size, std::span<const std::uint8_t> elements_le);
    void byte_array(std::size_t descriptor, std::span<const std::uint8_t> b) { array(descriptor, 1, b); }
    void text(std::size_t descriptor, const std::string& s);  // with its terminating zero
    void u16_array(std::size_t descriptor, std::span<const std::uint16_t> v);
    void float_array(std::size_t descriptor, std::span<const float> v);
    // An empty array with a given element size (count 0, takes no room).
    void empty_array(std::size_t descriptor, std::uint8_t element_size);
    bytes finish() const;
    byte_order order() const { return order_; }

private:
    byte_order order_;
    bytes fixed_;
    bytes variable_;
};

// A status-and-text response (GenericStatusStringResponse_DTS): status, text (empty when
// the text is empty), empty trailing array.
bytes status_string_response(std::uint32_t status, const std::string& text, byte_order o);
// A bare status response (GenericStatusResponse_TS).
bytes status_response(std::uint32_t status, byte_order o);
// A GenericArray_DTS of raw bytes.
bytes byte_array_response(std::span<const std::uint8_t> b, byte_order o);

// Text of a byte array up to its first zero.
std::string array_text(const array_view& a);
std::string hex(std::span<const std::uint8_t> b);
// CRC-32 (IEEE 802.3): names a block's content in a few characters in the state file.
std::uint32_t crc32_ieee(std::span<const std::uint8_t> b);
std::string hex32(std::uint32_t v);
// Where the ECU files dynamic model blocks, which arrive without an address.
inline constexpr std::uint32_t dynamic_model_base = 0x80100000;

}  // namespace ecusim
