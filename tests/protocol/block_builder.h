// Test helper: a transfer block in host order with descriptors set by hand.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "protocol/defines.h"
#include "protocol/layout.h"

namespace qx::testing {

struct block {
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(protocol::MAX_TRANSFERSTRUCTS_SIZE, 0);

    std::uint8_t* data() { return bytes.data(); }
    std::size_t size() const { return bytes.size(); }
    void descriptor(std::uint32_t at, std::uint8_t element_size, std::uint16_t count) {
        protocol::set_descriptor(bytes.data() + at, element_size, count);
    }
    std::uint32_t u32(std::uint32_t at) const {
        std::uint32_t v;
        std::memcpy(&v, bytes.data() + at, 4);
        return v;
    }
    void put_u32(std::uint32_t at, std::uint32_t v) { std::memcpy(bytes.data() + at, &v, 4); }
    void put_u16(std::uint32_t at, std::uint16_t v) { std::memcpy(bytes.data() + at, &v, 2); }
};

}  // namespace qx::testing
