// The alignment rules applied to the catalogue at compile time: sizes, alignments and field
// offsets of every structure. The run-time layouts (layout.cpp) and the compile-time checks of
// the typed structs (structs.h) both come from here.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "protocol/catalogue_data.h"

namespace qx::protocol::catalogue {

constexpr const structure* find_structure(std::string_view name) {
    for (const structure& s : structures)
        if (s.name == name) return &s;
    return nullptr;
}

constexpr std::optional<std::uint32_t> parse_number(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::uint32_t base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint64_t v = 0;
    for (char c : text) {
        std::uint32_t d;
        if (c >= '0' && c <= '9') d = std::uint32_t(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f') d = std::uint32_t(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F') d = std::uint32_t(c - 'A' + 10);
        else return std::nullopt;
        v = v * base + d;
        if (v > 0xFFFFFFFFu) return std::nullopt;
    }
    return std::uint32_t(v);
}

// The value of a structure define by its TS_ name ("TS_PERIPHERAL_BOARDDESCRIPTOR_MODEL_LENGTH"),
// following defines that name another define.
constexpr std::optional<std::uint32_t> define_value(std::string_view ts_name, int depth = 0) {
    if (depth > 8 || !ts_name.starts_with("TS_")) return std::nullopt;
    std::string_view rest = ts_name.substr(3);
    for (const structure& s : structures) {
        if (!rest.starts_with(s.define_prefix) || rest.size() <= s.define_prefix.size() + 1 ||
            rest[s.define_prefix.size()] != '_')
            continue;
        std::string_view local = rest.substr(s.define_prefix.size() + 1);
        for (const named_text& d : s.defines) {
            if (d.name != local) continue;
            if (d.text.starts_with("TS_")) return define_value(d.text, depth + 1);
            return parse_number(d.text);
        }
    }
    return std::nullopt;
}

// The flash tags exist twice: in the tag table and as defines of the structures. Each define
// that names a tag holds the tag's value.
// -1 when a define differs; else how many tags have a define.
constexpr int flash_tags_with_matching_defines() {
    int matched = 0;
    for (const flash_tag& t : flash_tags)
        for (const structure& s : structures)
            for (const named_text& d : s.defines) {
                if (d.name != t.name) continue;
                if (parse_number(d.text) != std::optional<std::uint32_t>(t.value)) return -1;
                ++matched;
            }
    return matched;
}
// Every tag but FLASHTAG_UNRESOLVED_CHANNELS_BASE, whose define has another name.
static_assert(flash_tags_with_matching_defines() == int(std::size(flash_tags)) - 1,
              "the FLASHTAG_ defines and the flash tag table differ");

struct shape {
    std::uint32_t size = 0;
    std::uint32_t align = 0;  // 0: unknown type
};

constexpr std::uint32_t align_up(std::uint32_t v, std::uint32_t a) { return (v + a - 1) / a * a; }

constexpr shape primitive_shape(std::string_view type) {
    if (type == "BYTE" || type == "byte") return {1, 1};
    if (type == "WORD") return {2, 2};
    if (type == "DWORD" || type == "float") return {4, 4};
    return {};
}

// Elements of a field: 1, or the array count (a number or a define). 0 when unresolvable.
constexpr std::uint32_t element_count(const field& f) {
    if (f.count.empty()) return 1;
    if (auto n = parse_number(f.count)) return *n;
    if (auto d = define_value(f.count)) return *d;
    return 0;
}

// Offsets of the inline descriptor of a _DTS, given the end of its last declared field.
struct inline_descriptor {
    std::uint32_t element_size_at;
    std::uint32_t slot_at;
};
constexpr inline_descriptor inline_descriptor_after(std::uint32_t end) {
    return {end, align_up(end + 3, 4)};
}

constexpr shape structure_shape(const structure& s, int depth = 0);

constexpr shape type_shape(std::string_view type, int depth) {
    if (shape p = primitive_shape(type); p.align) return p;
    if (depth > 8) return {};
    if (const structure* nested = find_structure(type)) return structure_shape(*nested, depth + 1);
    return {};
}

// Offset of each field in turn; calls visit(field, offset, element shape, count).
template <class Visit>
constexpr std::uint32_t walk_fields(const structure& s, Visit&& visit, std::uint32_t& align,
                                    int depth = 0) {
    std::uint32_t offset = 0;
    align = 1;
    for (const field& f : s.fields) {
        shape e = type_shape(f.type, depth);
        if (!e.align) return 0;
        offset = align_up(offset, e.align);
        std::uint32_t n = element_count(f);
        visit(f, offset, e, n);
        offset += e.size * n;
        if (e.align > align) align = e.align;
    }
    return offset;
}

constexpr shape structure_shape(const structure& s, int depth) {
    std::uint32_t align = 1;
    std::uint32_t end = walk_fields(
        s, [](const field&, std::uint32_t, shape, std::uint32_t) {}, align, depth);
    if (s.dts()) {
        end = inline_descriptor_after(end).slot_at + 4;
        if (align < 4) align = 4;
    }
    return {align_up(end, align), align};
}

constexpr std::uint32_t size_of(std::string_view structure_name) {
    const structure* s = find_structure(structure_name);
    return s ? structure_shape(*s).size : 0;
}

// Offset of a top-level field; 0xFFFFFFFF when there is no such field.
constexpr std::uint32_t offset_of(std::string_view structure_name, std::string_view field_name) {
    const structure* s = find_structure(structure_name);
    if (!s) return 0xFFFFFFFFu;
    std::uint32_t found = 0xFFFFFFFFu, align = 1;
    walk_fields(
        *s,
        [&](const field& f, std::uint32_t offset, shape, std::uint32_t) {
            if (f.name == field_name) found = offset;
        },
        align);
    return found;
}

// Offset of the inline descriptor's element-size byte and data slot of a _DTS.
constexpr inline_descriptor inline_descriptor_of(std::string_view structure_name) {
    const structure* s = find_structure(structure_name);
    std::uint32_t align = 1;
    std::uint32_t end = walk_fields(
        *s, [](const field&, std::uint32_t, shape, std::uint32_t) {}, align);
    return inline_descriptor_after(end);
}

}  // namespace qx::protocol::catalogue
