// A laid-out Security_BlockRequest_DTS of a given size in host order: empty keys, the rest is
// its data block (bytes i * 13). The 2048-byte block is the update's image block.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "protocol/layout.h"

namespace qx::test {

inline std::vector<std::uint8_t> security_block(std::size_t size) {
    const protocol::structure_layout* layout = protocol::find_layout("Security_BlockRequest_DTS");
    std::vector<std::uint8_t> block(size, 0);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = std::uint8_t(i * 13);
    std::memset(block.data(), 0, layout->fixed_size);
    for (const auto& array : layout->arrays) {
        const bool inline_data = array.field == "data";
        protocol::set_descriptor(block.data() + array.element_size_at, 1,
                                 inline_data ? std::uint16_t(size - layout->fixed_size) : 0);
    }
    protocol::set_pointers(*layout, block.data(), block.size());
    return block;
}

}  // namespace qx::test
