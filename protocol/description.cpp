#include "protocol/description.h"

#include <array>
#include <initializer_list>
#include <string>
#include <variant>

#include "protocol/catalogue_rules.h"
#include "protocol/commands.h"
#include "protocol/defines.h"

namespace qx::protocol {

namespace {

namespace cat = catalogue;

// One step of a key path: a name or a number.
struct key {
    std::variant<std::string_view, std::uint32_t> k;
    key(std::string_view s) : k(s) {}
    key(const char* s) : k(std::string_view(s)) {}
    key(const std::string& s) : k(std::string_view(s)) {}
    key(std::uint32_t n) : k(n) {}
};

// Writes each entry by walking its key path from the root.
class entry_writer {
public:
    explicit entry_writer(dynamic_map& root) : root_(root) {}

    template <class Value>
    void operator()(std::initializer_list<key> path, const Value& value) {
        dynamic_map* node = &root_;
        for (const key& k : path)
            node = std::visit([&](auto v) -> dynamic_map* { return &node->child(v); }, k.k);
        node->assign(value);
        ++entries_;
    }
    std::size_t entries() const { return entries_; }

private:
    dynamic_map& root_;
    std::size_t entries_ = 0;
};

// The four views of an item structure and of the item header.
struct view {
    std::string_view infix;     // inserted before the final _TS / _DTS
    std::string_view word;      // structure key of an item's view
    bool (*keeps)(std::uint8_t attributes);
};

constexpr std::array<view, 4> views = {{
    {"_modifiable", "cfgitem_modifiable",
     [](std::uint8_t a) { return (a & (cat::modifiable | cat::modifiable_ro)) != 0; }},
    {"_modifiable_nv", "cfgitem_nv", [](std::uint8_t a) { return (a & cat::modifiable) != 0; }},
    {"_ram", "cfgitem_ram", [](std::uint8_t a) { return (a & (cat::modifiable | cat::in_ram)) != 0; }},
    {"_non_modifiable", "cfgitem_non_modifiable",
     [](std::uint8_t a) { return (a & (cat::modifiable | cat::modifiable_ro)) == 0; }},
}};

constexpr std::string_view header_name = "ConfigurationItemHeader_TS";

bool is_item_or_header(const cat::structure& s) {
    return (s.flags & (cat::flag_cfgitem | cat::flag_cfgitem_header)) != 0;
}

std::string view_name(const cat::structure& s, const view& v) {
    std::string_view stem = s.name.substr(0, s.name.rfind('_'));
    const bool keeps_inline = s.dts() && v.keeps(s.inline_attributes);
    return std::string(stem) + std::string(v.infix) + (keeps_inline ? "_DTS" : "_TS");
}

std::string type_text(const cat::field& f, const view* v) {
    std::string t(f.type);
    if (v && f.type == header_name) t = view_name(*cat::find_structure(header_name), *v);
    if (!f.count.empty()) t += "[" + std::string(f.count) + "]";
    return t;
}

template <class Values, class Get>
bool consecutive(const Values& values, std::uint32_t step, Get value_of) {
    std::uint32_t expected = 0;
    for (const auto& v : values) {
        auto n = cat::parse_number(value_of(v));
        if (!n || *n != expected) return false;
        expected += step;
    }
    return !values.empty();
}

void write_field(entry_writer& w, const std::string& structure, const cat::field& f, const view* v) {
    const std::string& s = structure;
    const std::string_view fn = f.name;
    w({"structs", s, "fields", fn, "type"}, type_text(f, v));
    for (const auto& e : f.values) {
        w({"structs", s, "fields", fn, "values", e.name, "value"}, e.value);
        w({"structs", s, "fields", fn, "values", e.name, "description"}, e.description);
        for (std::size_t c = 0; c < f.extra_columns.size() && c < e.extra.size(); ++c)
            w({"structs", s, "fields", fn, "values", e.name, f.extra_columns[c]}, e.extra[c]);
    }
    if (consecutive(f.values, 1, [](const cat::enum_value& e) { return e.value; }))
        w({"structs", s, "fields", fn, "consecutive"}, "1");
    for (const auto& b : f.bitfields) {
        w({"structs", s, "fields", fn, "bitfields", b.name, "mask"}, b.mask);
        const std::uint32_t mask = cat::parse_number(b.mask).value_or(0);
        if (b.values.empty() && mask && (mask & (mask - 1)) == 0)
            w({"structs", s, "fields", fn, "bitfields", b.name, "values", "on"}, std::to_string(mask));
        for (const auto& bv : b.values)
            w({"structs", s, "fields", fn, "bitfields", b.name, "values", bv.name}, bv.text);
        if (consecutive(b.values, mask & (~mask + 1), [](const cat::named_text& t) { return t.text; }))
            w({"structs", s, "fields", fn, "bitfields", b.name, "consecutive"}, "1");
    }
    static constexpr std::pair<cat::attribute, std::string_view> attribute_keys[] = {
        {cat::modifiable, "modifiable"},         {cat::modifiable_ro, "modifiable_ro"},
        {cat::in_ram, "in_ram"},                 {cat::no_modify_func, "no_modify_func"},
        {cat::no_compare_func, "no_compare_func"}};
    for (const auto& [bit, word] : attribute_keys)
        if (f.attributes & bit) w({"structs", s, "fields", fn, word}, "1");
}

void write_structure(entry_writer& w, const cat::structure& st, const view* v) {
    const std::string name = v ? view_name(st, *v) : std::string(st.name);
    for (const auto& f : st.fields)
        if (!v || f.type == header_name || v->keeps(f.attributes)) write_field(w, name, f, v);
    if (name.ends_with("_DTS")) w({"structs", name, "dts"}, "1");
    if (v) {
        const bool header = st.name == header_name;
        w({"structs", name, header ? std::string(v->word) + "_header" : std::string(v->word)}, "1");
        return;
    }
    for (const auto& d : st.defines) w({"structs", name, "defines", d.name}, d.text);
    if (!st.description.empty()) w({"structs", name, "description"}, st.description);
    if (st.name == "TokenStack_DTS") {
        std::uint32_t position = 0;
        for (const auto& t : cat::tokens) {
            w({"structs", name, "tokens", t.name, "position"}, std::to_string(position++));
            if (t.has_func) w({"structs", name, "tokens", t.name, "has_func"}, "1");
            if (!t.keyword.empty()) w({"structs", name, "tokens", t.name, "keyword"}, t.keyword);
            if (t.has_stack_use)
                w({"structs", name, "tokens", t.name, "stack_use"}, std::to_string(t.stack_use));
            if (t.children) w({"structs", name, "tokens", t.name, "children"}, std::to_string(t.children));
        }
    }
    if (st.flags & cat::flag_cfgitem) w({"structs", name, "cfgitem"}, "1");
    if (st.flags & cat::flag_cfgitem_header) w({"structs", name, "cfgitem_header"}, "1");
    for (const auto& f : cat::item_flag_names)
        if (st.flags & f.flag) w({"structs", name, f.name}, "1");
}

}  // namespace

std::size_t build_description(dynamic_map& root) {
    entry_writer w(root);
    for (const auto& d : protocol_defines) w({"defines", d.name}, d.text);

    for (const auto& st : cat::structures) {
        write_structure(w, st, nullptr);
        if (is_item_or_header(st))
            for (const auto& v : views) write_structure(w, st, &v);
    }

    for (const auto& c : commands) {
        w({"commands", c.name, "request"}, c.request.name);
        w({"commands", c.name, "response"}, c.response.name);
    }

    for (const auto& t : cat::flash_tags) {
        w({"flash_tags", t.name, "tag"}, std::uint32_t(t.value));
        w({"flash_tags", t.name, "struct", "type"}, t.structure.empty() ? "NULL" : t.structure);
    }

    for (const auto& t : cat::item_types) {
        const std::uint32_t n = t.number;
        w({"item_types_by_name", t.name}, n);
        w({"item_types_by_number", n}, t.name);
        w({"item_structs_by_number", n}, t.structure);
    }
    return w.entries();
}

}  // namespace qx::protocol
