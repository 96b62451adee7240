// Layout, transfer size and byte-order conversion of transfer structures, computed from the
// structure catalogue. Every routine is given the bytes it may touch (block, size) and never
// reads or writes outside them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/status.h"

namespace qx::protocol {

// One field of a structure as it lies in the block.
struct field_placement {
    std::string name;
    std::string type;  // as the description writes it: "BYTE", "DWORD[6]", "GenericArray_DTS", ...
    std::uint32_t offset;
    std::uint32_t size;
};

// One counted array descriptor: element-size byte, two count bytes (high byte first), and the
// 4-byte data slot that holds the elements' offset from the block start.
struct array_placement {
    std::string field;  // "data" for the inline array of a _DTS, "outer.inner" when nested
    std::uint32_t element_size_at;
    std::uint32_t slot_at;
};

// A run of scalars of the fixed part that byte-order conversion reverses (width 2 or 4).
struct scalar_placement {
    std::uint32_t offset;
    std::uint32_t width;
    std::uint32_t count;
};

// One value of a structure as it lies in the block, in declaration order with nested
// structures expanded: a scalar, one element of a word, double-word or float array, a byte
// array whole, or a counted array (descriptor and elements).
struct leaf_placement {
    enum kind_t : std::uint8_t { scalar, byte_run, counted_array } kind;
    std::string name;     // "address", "values[2]", "cds[0].size", "key0", "data"
    std::string type;     // "BYTE", "byte", "WORD", "DWORD", "float"; "BYTE[16]" for a byte run;
                          // "GenericArray_DTS" for a counted array
    std::uint32_t offset;  // of the value, the run or the array's descriptor
    std::uint32_t size;    // bytes of the value or the run; a counted array: its index in arrays
};

class structure_layout {
public:
    std::string name;
    std::uint32_t fixed_size = 0;
    std::uint32_t alignment = 1;
    bool dts = false;
    std::vector<field_placement> fields;
    std::vector<array_placement> arrays;  // layout order: declaration order, inline array last
    std::vector<scalar_placement> scalars;

    bool has_variable_part() const { return !arrays.empty(); }
    // The largest variable part the 4088-byte limit allows.
    std::uint32_t variable_part_limit() const;
    const field_placement* find_field(std::string_view field) const;
    const array_placement* find_array(std::string_view field) const;
    std::string layout_routine_name() const { return "set_pointers_" + name; }
    std::string size_routine_name() const { return "transfer_size_" + name; }
};

// The leaves of a structure, made on demand (the exchanges themselves never need them): for
// reading captured bytes and describing them to other tools.
std::vector<leaf_placement> leaves_of(const structure_layout& layout);

// All structures of the catalogue, in description order.
const std::vector<structure_layout>& all_layouts();
// nullptr when the catalogue has no such structure.
const structure_layout* find_layout(std::string_view name);

// Where each array's elements lie by the layout rule: behind the fixed part, each aligned to
// its element size, in layout order. Calls placed(array index, offset from the block start,
// bytes) for each array that has elements, in order, and returns 0, TS_LAYOUT_ERROR or
// TS_LAYOUT_EMPTY_ARRAY as set_pointers does; an array that does not fit ends the walk.
template <class Placed>
std::uint32_t place_arrays(const structure_layout& layout, const std::uint8_t* block, std::size_t size,
                           Placed placed);

// Lays out the arrays of `layout` in block[0, size): each data slot gets base + fixed size +
// the array's offset in the variable part (written byte-reversed with reverse_pointers).
// Returns 0, TS_LAYOUT_ERROR or TS_LAYOUT_EMPTY_ARRAY. An array reaching past `size`, or past
// the 4088-byte limit, is TS_LAYOUT_ERROR; the arrays before it stay laid out.
std::uint32_t set_pointers(const structure_layout& layout, std::uint8_t* block, std::size_t size,
                           std::uint32_t base = 0, bool reverse_pointers = false);

// Fixed size plus the laid-out variable part; 0 when an array with a count has element size 0;
// 0xFFFF when the sum does not fit 16 bits (so it never wraps to a small, plausible size).
std::uint16_t transfer_size(const structure_layout& layout, const std::uint8_t* block,
                            std::size_t size);

// Byte-order conversion in place; its own inverse. Fields outside `size` are left alone, and
// an array whose elements do not lie wholly behind the fixed part within `size` is not touched.
void convert(const structure_layout& layout, std::uint8_t* block, std::size_t size);

// Configuration items, chosen by the type byte at offset 28 of the item header.
inline constexpr std::size_t cfgitem_type_offset = 28;
const structure_layout& cfgitem_layout(std::uint8_t type);  // unknown types: the bare header
const structure_layout& cfgitem_layout_of(const std::uint8_t* block, std::size_t size);
std::uint32_t set_pointers_cfgitem(std::uint8_t* block, std::size_t size);
std::uint16_t transfer_size_cfgitem(const std::uint8_t* block, std::size_t size);
void convert_cfgitem(std::uint8_t* block, std::size_t size);

// Reverses `length` bytes in place when 2 <= length <= 16; does nothing otherwise.
void reverse_bytes(void* bytes, std::size_t length);

// CommandHeader_TS / ResponseHeader_TS: the two bytes of each of the four words exchanged.
void convert_header(void* header8);

// The raw log disk header read from the ECU's storage (RawFileFullHeader_TS, 512 bytes).
void convert_raw_file_full_header(void* header512);

// Element count of a descriptor: two bytes, high byte first, in either byte order.
inline std::uint32_t descriptor_count(const std::uint8_t* descriptor) {
    return (std::uint32_t(descriptor[1]) << 8) | descriptor[2];
}

template <class Placed>
std::uint32_t place_arrays(const structure_layout& layout, const std::uint8_t* block, std::size_t size,
                           Placed placed) {
    if (!layout.has_variable_part()) return TS_LAYOUT_OK;
    if (size < layout.fixed_size) return TS_LAYOUT_ERROR;
    std::uint32_t result = TS_LAYOUT_OK;
    std::uint64_t offset = 0;  // in the variable part
    for (std::size_t i = 0; i < layout.arrays.size(); ++i) {
        const std::uint8_t* d = block + layout.arrays[i].element_size_at;
        const std::uint32_t count = descriptor_count(d);
        const std::uint32_t element_size = d[0];
        if (count == 0) {
            result = TS_LAYOUT_EMPTY_ARRAY;
            continue;
        }
        if (element_size == 0) return TS_LAYOUT_ERROR;
        offset += (element_size - offset % element_size) % element_size;
        const std::uint64_t end = offset + std::uint64_t(count) * element_size;
        if (layout.fixed_size + end > size) return TS_LAYOUT_ERROR;
        placed(i, std::uint32_t(layout.fixed_size + offset), std::uint32_t(end - offset));
        offset = end;
    }
    if (offset > layout.variable_part_limit()) return TS_LAYOUT_ERROR;
    return result;
}
inline void set_descriptor(std::uint8_t* descriptor, std::uint8_t element_size, std::uint16_t count) {
    descriptor[0] = element_size;
    descriptor[1] = std::uint8_t(count >> 8);
    descriptor[2] = std::uint8_t(count & 0xFF);
}

}  // namespace qx::protocol
