#include "protocol/wire_fields.h"

#include <cstdio>
#include <cstring>

namespace qx::protocol {

namespace {

std::uint32_t read_number(std::span<const std::uint8_t> b, wire_order order) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < b.size(); ++i) {
        const std::size_t k = order == wire_order::big ? i : b.size() - 1 - i;
        v = v << 8 | b[k];
    }
    return v;
}

std::string value_text(const leaf_placement& leaf, std::span<const std::uint8_t> b, wire_order order) {
    const std::uint32_t v = read_number(b, order);
    if (leaf.type != "float") return std::to_string(v);
    float f;
    std::memcpy(&f, &v, 4);
    char text[32];
    std::snprintf(text, sizeof text, "%g", double(f));
    return text;
}

}  // namespace

std::string bytes_text(std::span<const std::uint8_t> bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i) text += ':';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0xF];
    }
    return text;
}

const structure_layout* layout_of(structure_ref what, std::span<const std::uint8_t> bytes) {
    switch (what.kind) {
        case structure_ref::none: return nullptr;
        case structure_ref::cfgitem: return &cfgitem_layout_of(bytes.data(), bytes.size());
        case structure_ref::structure: return find_layout(what.name);
    }
    return nullptr;
}

wire_structure decode_wire(structure_ref what, std::span<const std::uint8_t> bytes, wire_order order) {
    wire_structure out;
    const structure_layout* layout = layout_of(what, bytes);
    if (!layout) {
        out.name = "NULL";
        if (!bytes.empty()) out.note = std::to_string(bytes.size()) + " bytes where the command has none";
        return out;
    }
    out.name = layout->name;
    // Where the arrays' elements lie, for those that fit the bytes.
    struct extent {
        bool placed = false;
        std::uint32_t at = 0, size = 0;
    };
    std::vector<extent> arrays(layout->arrays.size());
    std::uint32_t laid_out = TS_LAYOUT_OK;
    if (bytes.size() >= layout->fixed_size)
        laid_out = place_arrays(*layout, bytes.data(), bytes.size(), [&](std::size_t i, std::uint32_t at, std::uint32_t n) {
            arrays[i] = {true, at, n};
        });
    for (const leaf_placement& leaf : leaves_of(*layout)) {
        if (leaf.kind != leaf_placement::counted_array) {
            if (std::size_t(leaf.offset) + leaf.size > bytes.size()) continue;
            const auto b = bytes.subspan(leaf.offset, leaf.size);
            out.fields.push_back({leaf.name, leaf.type,
                                  leaf.kind == leaf_placement::byte_run ? bytes_text(b) : value_text(leaf, b, order)});
            continue;
        }
        if (std::size_t(leaf.offset) + 3 > bytes.size()) continue;
        const std::uint8_t* d = bytes.data() + leaf.offset;
        out.fields.push_back({leaf.name + ".element_size", "BYTE", std::to_string(d[0])});
        out.fields.push_back({leaf.name + ".count", "WORD", std::to_string(descriptor_count(d))});
        const extent& e = arrays[leaf.size];
        if (e.placed) out.fields.push_back({leaf.name, leaf.type, bytes_text(bytes.subspan(e.at, e.size))});
        else if (descriptor_count(d) == 0) out.fields.push_back({leaf.name, leaf.type, ""});
    }
    if (bytes.size() < layout->fixed_size)
        out.note = "cut short: " + std::to_string(bytes.size()) + " of its " + std::to_string(layout->fixed_size) +
                   " fixed bytes";
    else if (laid_out == TS_LAYOUT_ERROR)
        out.note = "its arrays do not lie within its " + std::to_string(bytes.size()) + " bytes";
    return out;
}

}  // namespace qx::protocol
