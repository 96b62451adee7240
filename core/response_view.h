// Bounded reading of a laid-out response: every array is checked against the bytes that
// actually arrived before anything of it is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

namespace qx {

// A response that does not hold what its fields promise.
[[noreturn]] void malformed_response();

struct response_array {
    std::uint32_t element_size = 0;
    std::uint32_t count = 0;
    std::span<const std::uint8_t> bytes;  // count * element_size bytes inside the response
};

// The array whose element-size byte stands at descriptor_at and whose data slot (the offset
// from the block start) at slot_at. Elements must lie behind the fixed part and inside the
// block; the slot of an empty array is not looked at.
response_array view_array(std::span<const std::uint8_t> block, std::size_t descriptor_at, std::size_t slot_at,
                          std::size_t fixed_size);

template <class T>
T load(std::span<const std::uint8_t> block, std::size_t at) {
    if (at > block.size() || sizeof(T) > block.size() - at) malformed_response();
    T v;
    std::memcpy(&v, block.data() + at, sizeof v);
    return v;
}

// The characters up to the first zero, or all of them.
std::string text_of(std::span<const std::uint8_t> bytes);

}  // namespace qx
