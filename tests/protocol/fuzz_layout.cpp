// Lays out and converts arbitrary bytes as any structure or configuration item: nothing may
// read or write outside the block, and after a layout two conversions restore every byte.
#include <cstdint>
#include <cstring>
#include <vector>

#include "protocol/layout.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qx::protocol;
    if (size < 1) return 0;
    const auto& all = all_layouts();
    const unsigned pick = data[0];
    std::vector<std::uint8_t> block(data + 1, data + size);  // exactly the bytes given
    const bool item = pick >= all.size();
    const structure_layout& l = item ? cfgitem_layout_of(block.data(), block.size()) : all[pick];

    (void)transfer_size(l, block.data(), block.size());
    convert(l, block.data(), block.size());  // on whatever slots the bytes hold
    set_pointers(l, block.data(), block.size());
    const std::vector<std::uint8_t> laid_out = block;
    convert(l, block.data(), block.size());
    convert(l, block.data(), block.size());
    if (block != laid_out) __builtin_trap();
    return 0;
}
