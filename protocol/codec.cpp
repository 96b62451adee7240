#include "protocol/codec.h"

#include <array>

#include "protocol/catalogue_rules.h"

namespace qx::protocol {

namespace {

constexpr bool command_structures_known() {
    for (const auto& c : commands)
        for (const auto& ref : {c.request, c.response})
            if (ref.kind == structure_ref::structure && !catalogue::find_structure(ref.name))
                return false;
    return true;
}
static_assert(command_structures_known(), "a command names a structure the catalogue lacks");

std::array<codec_row, command_count> build_table() {
    std::array<codec_row, command_count> rows{};
    for (const auto& c : commands) {
        using a = codec_routine::action;
        codec_row& r = rows[c.code];
        if (!c.request.is_none()) {
            r.convert_request = codec_routine(a::convert, c.request);
            r.layout_request = codec_routine(a::layout, c.request);
        }
        if (!c.response.is_none()) {
            r.convert_response = codec_routine(a::convert, c.response);
            r.layout_response = codec_routine(a::layout, c.response);
        }
    }
    return rows;
}

}  // namespace

codec_routine::codec_routine(action what, structure_ref target)
    : what_(what),
      cfgitem_(target.kind == structure_ref::cfgitem),
      layout_(target.kind == structure_ref::structure ? find_layout(target.name) : nullptr) {
    if (target.kind == structure_ref::none) what_ = action::none;
}

std::uint32_t codec_routine::operator()(std::uint8_t* block, std::size_t size) const {
    switch (what_) {
        case action::none:
            return 0;
        case action::convert:
            if (cfgitem_) convert_cfgitem(block, size);
            else convert(*layout_, block, size);
            return 0;
        case action::layout:
            return cfgitem_ ? set_pointers_cfgitem(block, size) : set_pointers(*layout_, block, size);
    }
    return 0;
}

const codec_row* find_codec(unsigned code) {
    static const std::array<codec_row, command_count> table = build_table();
    return code < table.size() ? &table[code] : nullptr;
}

}  // namespace qx::protocol
