#include "protocol/layout.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <unordered_map>

#include "protocol/catalogue_rules.h"
#include "protocol/defines.h"
#include "protocol/status.h"

namespace qx::protocol {

namespace {

namespace cat = catalogue;

std::string type_text(const cat::field& f) {
    std::string t(f.type);
    if (!f.count.empty()) t += "[" + std::string(f.count) + "]";
    return t;
}

std::string join_path(const std::string& prefix, std::string_view name) {
    return prefix.empty() ? std::string(name) : prefix + "." + std::string(name);
}

// Adds the scalars and array descriptors of `s`, placed at `base`, to `out`; and its leaves to
// `leaves` when given.
void place(const cat::structure& s, std::uint32_t base, const std::string& prefix,
           structure_layout& out, bool top, std::vector<leaf_placement>* leaves = nullptr) {
    std::uint32_t align = 1;
    std::uint32_t end = cat::walk_fields(
        s,
        [&](const cat::field& f, std::uint32_t offset, cat::shape e, std::uint32_t n) {
            const std::uint32_t at = base + offset;
            if (top) out.fields.push_back({std::string(f.name), type_text(f), offset, e.size * n});
            const std::string name = join_path(prefix, f.name);
            if (cat::primitive_shape(f.type).align) {
                if (e.size > 1 && n > 0) out.scalars.push_back({at, e.size, n});
                if (!leaves) return;
                if (f.count.empty())
                    leaves->push_back({leaf_placement::scalar, name, std::string(f.type), at, e.size});
                else if (e.size == 1)
                    leaves->push_back({leaf_placement::byte_run, name, type_text(f), at, n});
                else
                    for (std::uint32_t i = 0; i < n; ++i)
                        leaves->push_back({leaf_placement::scalar, name + "[" + std::to_string(i) + "]",
                                           std::string(f.type), at + i * e.size, e.size});
                return;
            }
            const cat::structure* nested = cat::find_structure(f.type);
            for (std::uint32_t i = 0; i < n; ++i) {
                std::string path = name;
                if (n > 1) path += "[" + std::to_string(i) + "]";
                if (f.type == "GenericArray_DTS") {
                    if (leaves)
                        leaves->push_back({leaf_placement::counted_array, path, "GenericArray_DTS", at + i * e.size,
                                           std::uint32_t(out.arrays.size())});
                    out.arrays.push_back({path, at + i * e.size, at + i * e.size + 4});
                } else {
                    place(*nested, at + i * e.size, path, out, false, leaves);
                }
            }
        },
        align);
    if (s.dts()) {
        auto d = cat::inline_descriptor_after(end);
        if (leaves)
            leaves->push_back({leaf_placement::counted_array, join_path(prefix, "data"), "GenericArray_DTS",
                               base + d.element_size_at, std::uint32_t(out.arrays.size())});
        out.arrays.push_back({join_path(prefix, "data"), base + d.element_size_at, base + d.slot_at});
    }
}

structure_layout compile(const cat::structure& s) {
    structure_layout l;
    l.name = std::string(s.name);
    cat::shape sh = cat::structure_shape(s);
    if (!sh.align) throw std::logic_error("catalogue: unresolvable type in " + l.name);
    l.fixed_size = sh.size;
    l.alignment = sh.align;
    l.dts = s.dts();
    place(s, 0, "", l, true);
    return l;
}

struct registry {
    std::vector<structure_layout> layouts;
    std::unordered_map<std::string_view, std::size_t> by_name;
    std::vector<const structure_layout*> items;  // by item type number

    registry() {
        layouts.reserve(std::size(cat::structures));
        for (const auto& s : cat::structures) layouts.push_back(compile(s));
        for (std::size_t i = 0; i < layouts.size(); ++i) by_name.emplace(layouts[i].name, i);
        for (const auto& t : cat::item_types) {
            if (items.size() <= t.number) items.resize(t.number + 1u, nullptr);
            items[t.number] = &layouts.at(by_name.at(t.structure));
        }
    }
};

const registry& the_registry() {
    static const registry r;
    return r;
}

std::uint32_t read_slot(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

}  // namespace

std::vector<leaf_placement> leaves_of(const structure_layout& layout) {
    std::vector<leaf_placement> leaves;
    const cat::structure* s = cat::find_structure(layout.name);
    if (!s) return leaves;
    structure_layout again;  // the same walk as the layout's, its arrays in the same order
    place(*s, 0, "", again, false, &leaves);
    return leaves;
}

std::uint32_t structure_layout::variable_part_limit() const {
    return fixed_size >= MAX_TRANSFERSTRUCTS_SIZE ? 0 : MAX_TRANSFERSTRUCTS_SIZE - fixed_size;
}

const field_placement* structure_layout::find_field(std::string_view field) const {
    auto it = std::find_if(fields.begin(), fields.end(), [&](const auto& f) { return f.name == field; });
    return it == fields.end() ? nullptr : &*it;
}

const array_placement* structure_layout::find_array(std::string_view field) const {
    auto it = std::find_if(arrays.begin(), arrays.end(), [&](const auto& a) { return a.field == field; });
    return it == arrays.end() ? nullptr : &*it;
}

const std::vector<structure_layout>& all_layouts() { return the_registry().layouts; }

const structure_layout* find_layout(std::string_view name) {
    const auto& r = the_registry();
    auto it = r.by_name.find(name);
    return it == r.by_name.end() ? nullptr : &r.layouts[it->second];
}

std::uint32_t set_pointers(const structure_layout& layout, std::uint8_t* block, std::size_t size,
                           std::uint32_t base, bool reverse_pointers) {
    return place_arrays(layout, block, size, [&](std::size_t i, std::uint32_t at, std::uint32_t) {
        std::uint32_t slot = base + at;
        if (reverse_pointers) slot = swap32(slot);
        std::memcpy(block + layout.arrays[i].slot_at, &slot, 4);
    });
}

std::uint16_t transfer_size(const structure_layout& layout, const std::uint8_t* block,
                            std::size_t size) {
    if (!layout.has_variable_part()) return std::uint16_t(std::min<std::uint32_t>(layout.fixed_size, 0xFFFF));
    if (size < layout.fixed_size) return 0;
    std::uint64_t offset = 0;
    for (const auto& a : layout.arrays) {
        const std::uint8_t* d = block + a.element_size_at;
        const std::uint32_t count = descriptor_count(d);
        const std::uint32_t element_size = d[0];
        if (count == 0) continue;
        if (element_size == 0) return 0;
        offset += (element_size - offset % element_size) % element_size;
        offset += std::uint64_t(count) * element_size;
    }
    return std::uint16_t(std::min<std::uint64_t>(layout.fixed_size + offset, 0xFFFF));
}

void convert(const structure_layout& layout, std::uint8_t* block, std::size_t size) {
    for (const auto& s : layout.scalars) {
        for (std::uint32_t i = 0; i < s.count; ++i) {
            const std::uint64_t at = s.offset + std::uint64_t(i) * s.width;
            if (at + s.width > size) return;  // runs are in offset order
            reverse_bytes(block + at, s.width);
        }
    }
    for (const auto& a : layout.arrays) {
        if (std::uint64_t(a.slot_at) + 4 > size) continue;
        const std::uint8_t* d = block + a.element_size_at;
        const std::uint32_t element_size = d[0];
        const std::uint32_t count = descriptor_count(d);
        if (element_size < 2 || element_size > 16 || count == 0) continue;
        const std::uint64_t start = read_slot(block + a.slot_at);
        const std::uint64_t end = start + std::uint64_t(count) * element_size;
        if (start < layout.fixed_size || end > size) continue;
        for (std::uint64_t at = start; at < end; at += element_size)
            reverse_bytes(block + at, element_size);
    }
}

const structure_layout& cfgitem_layout(std::uint8_t type) {
    const auto& items = the_registry().items;
    if (type < items.size() && items[type]) return *items[type];
    return *items.at(0);  // the bare header
}

const structure_layout& cfgitem_layout_of(const std::uint8_t* block, std::size_t size) {
    return cfgitem_layout(size > cfgitem_type_offset ? block[cfgitem_type_offset] : 0);
}

std::uint32_t set_pointers_cfgitem(std::uint8_t* block, std::size_t size) {
    return set_pointers(cfgitem_layout_of(block, size), block, size);
}

std::uint16_t transfer_size_cfgitem(const std::uint8_t* block, std::size_t size) {
    return transfer_size(cfgitem_layout_of(block, size), block, size);
}

void convert_cfgitem(std::uint8_t* block, std::size_t size) {
    convert(cfgitem_layout_of(block, size), block, size);
}

void reverse_bytes(void* bytes, std::size_t length) {
    if (length < 2 || length > 16) return;
    auto* p = static_cast<std::uint8_t*>(bytes);
    std::reverse(p, p + length);
}

void convert_header(void* header8) {
    auto* p = static_cast<std::uint8_t*>(header8);
    for (int i = 0; i < 4; ++i) reverse_bytes(p + 2 * i, 2);
}

void convert_raw_file_full_header(void* header512) {
    static const structure_layout& raw = *find_layout("RawFileFullHeader_TS");
    convert(raw, static_cast<std::uint8_t*>(header512), 512);
}

}  // namespace qx::protocol
