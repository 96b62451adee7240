// The one structure catalogue: every base transfer structure declared once, as data. Layout,
// transfer size, byte order, the codec table and the description tree are all derived from it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace qx::protocol::catalogue {

// Field attributes: which views of a configuration item hold the field.
enum attribute : std::uint8_t {
    modifiable = 0x01,
    modifiable_ro = 0x02,
    in_ram = 0x04,
    no_modify_func = 0x08,
    no_compare_func = 0x10,
};

struct named_text {
    std::string_view name;
    std::string_view text;
};

struct enum_value {
    std::string_view name;
    std::string_view value;  // the number as text
    std::string_view description;
    std::span<const std::string_view> extra;  // one text per extra column of the enumeration
};

struct bitfield {
    std::string_view name;
    std::string_view mask;  // hexadecimal text
    std::span<const named_text> values;
};

struct field {
    std::string_view name;
    std::string_view type;   // BYTE, byte, WORD, DWORD, float, GenericArray_DTS or a structure
    std::string_view count;  // empty for one element; a number or a TS_ define for an array
    std::uint8_t attributes = 0;
    std::span<const enum_value> values = {};
    std::span<const std::string_view> extra_columns = {};
    std::span<const bitfield> bitfields = {};
};

// Structure-level flags of configuration item types.
enum structure_flag : std::uint32_t {
    flag_cfgitem = 1u << 0,
    flag_cfgitem_header = 1u << 1,
    flag_primitive = 1u << 2,
    flag_user_creatable = 1u << 3,
    flag_has_subtype = 1u << 4,
    flag_modifiable = 1u << 5,
    flag_item_dlg = 1u << 6,
    flag_hostside_hook = 1u << 7,
    flag_validate = 1u << 8,
    flag_validate_all = 1u << 9,
    flag_pre_validation = 1u << 10,
    flag_post_validation_pre_run = 1u << 11,
    flag_pre_stop = 1u << 12,
    flag_post_stop = 1u << 13,
    flag_rom_hook = 1u << 14,
    flag_rom_hook_additions = 1u << 15,
    flag_move_callback_additions = 1u << 16,
};

struct flag_name {
    structure_flag flag;
    std::string_view name;
};

// The item-type flags in the order the description writes them (cfgitem and cfgitem_header
// are written by the description builder itself).
inline constexpr flag_name item_flag_names[] = {
    {flag_primitive, "primitive"},
    {flag_user_creatable, "user_creatable"},
    {flag_has_subtype, "has_subtype"},
    {flag_modifiable, "modifiable"},
    {flag_item_dlg, "item_dlg"},
    {flag_hostside_hook, "hostside_hook"},
    {flag_validate, "validate"},
    {flag_validate_all, "validate_all"},
    {flag_pre_validation, "pre_validation"},
    {flag_post_validation_pre_run, "post_validation_pre_run"},
    {flag_pre_stop, "pre_stop"},
    {flag_post_stop, "post_stop"},
    {flag_rom_hook, "rom_hook"},
    {flag_rom_hook_additions, "rom_hook_additions"},
    {flag_move_callback_additions, "move_callback_additions"},
};

struct structure {
    std::string_view name;
    std::string_view define_prefix;  // its defines are named TS_<prefix>_<define>
    std::span<const field> fields;
    std::span<const named_text> defines = {};
    std::uint32_t flags = 0;
    std::string_view description = {};     // user-facing name of a configuration item type
    std::uint8_t inline_attributes = 0;    // attributes of the inline array of a _DTS

    constexpr bool dts() const { return name.ends_with("_DTS"); }
};

struct item_type {
    std::uint8_t number;
    std::string_view name;       // CFGITEM_TYPE_...
    std::string_view structure;  // the item structure
};

struct flash_tag {
    std::string_view name;
    std::uint16_t value;
    std::string_view structure;  // empty when no structure is stored under the tag
};

struct token {
    std::string_view name;
    std::string_view keyword;  // empty when the token has no keyword
    bool has_stack_use;
    int stack_use;
    std::uint8_t children;  // operands, where a keyword is shared; 0 otherwise
    bool has_func;
};

}  // namespace qx::protocol::catalogue
