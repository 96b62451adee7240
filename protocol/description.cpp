#include "protocol/description.h"

#include <array>
#include <charconv>
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
    key() : k(std::uint32_t(0)) {}
    key(std::string_view s) : k(s) {}
    key(const char* s) : k(std::string_view(s)) {}
    key(const std::string& s) : k(std::string_view(s)) {}
    key(std::uint32_t n) : k(n) {}
};

// Writes each entry by walking its key path from a node; entries outside the prefix are left out.
class entry_writer {
public:
    entry_writer(dynamic_map& root, std::span<const std::string_view> prefix) : root_(root), prefix_(prefix) {}

    template <class Value>
    void operator()(std::initializer_list<key> path, const Value& value) {
        if (matches(0, path)) write(root_, path, value);
    }
    template <class Value>
    void write(dynamic_map& from, std::initializer_list<key> path, const Value& value) {
        walk(from, path.begin(), path.end()).assign(value);
        ++entries_;
    }
    static dynamic_map& walk(dynamic_map& from, const key* begin, const key* end) {
        dynamic_map* node = &from;
        for (const key* k = begin; k != end; ++k)
            node = std::visit([&](auto v) -> dynamic_map* { return &node->child(v); }, k->k);
        return *node;
    }
    // Whether keys standing at `depth` of a path agree with the prefix there.
    bool matches(std::size_t depth, std::span<const key> keys) const {
        for (std::size_t i = 0; i < keys.size() && depth + i < prefix_.size(); ++i)
            if (!same(keys[i], prefix_[depth + i])) return false;
        return true;
    }
    dynamic_map& root() { return root_; }
    std::size_t entries() const { return entries_; }

private:
    static bool same(const key& k, std::string_view wanted) {
        if (const auto* name = std::get_if<std::string_view>(&k.k)) return *name == wanted;
        char digits[16];
        const auto end = std::to_chars(digits, digits + sizeof digits, std::get<std::uint32_t>(k.k)).ptr;
        return std::string_view(digits, std::size_t(end - digits)) == wanted;
    }

    dynamic_map& root_;
    std::span<const std::string_view> prefix_;
    std::size_t entries_ = 0;
};

// A node under which many entries are written, found once. It is made by its first write, so
// a branch that receives nothing leaves the tree as it was. Nothing may be assigned to the
// node or its parents while the branch is in use. A branch outside the prefix writes nothing.
class branch {
public:
    branch(entry_writer& w, branch* parent, std::initializer_list<key> path) : w_(w), parent_(parent) {
        for (const key& k : path) path_[size_++] = k;
        const std::size_t from = parent ? parent->depth_ : 0;
        depth_ = from + size_;
        wanted_ = (!parent || parent->wanted_) && w.matches(from, std::span(path_.data(), size_));
    }
    template <class Value>
    void operator()(std::initializer_list<key> rest, const Value& value) {
        if (wanted_ && w_.matches(depth_, rest)) w_.write(node(), rest, value);
    }
    entry_writer& w() { return w_; }
    bool wanted() const { return wanted_; }
    dynamic_map& node() {
        if (!node_) node_ = &entry_writer::walk(parent_ ? parent_->node() : w_.root(), path_.data(), path_.data() + size_);
        return *node_;
    }

private:
    entry_writer& w_;
    branch* parent_;
    std::array<key, 3> path_;
    std::size_t size_ = 0;
    std::size_t depth_ = 0;  // keys from the root to the node
    bool wanted_ = true;
    dynamic_map* node_ = nullptr;
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

void write_field(branch& structure, const cat::field& f, const view* v) {
    branch field(structure.w(), &structure, {"fields", f.name});
    if (!field.wanted()) return;
    field({"type"}, type_text(f, v));
    if (!f.values.empty()) {
        branch values(structure.w(), &field, {"values"});
        for (const auto& e : f.values) {
            branch value(structure.w(), &values, {e.name});
            value({"value"}, e.value);
            value({"description"}, e.description);
            for (std::size_t c = 0; c < f.extra_columns.size() && c < e.extra.size(); ++c)
                value({f.extra_columns[c]}, e.extra[c]);
        }
    }
    if (consecutive(f.values, 1, [](const cat::enum_value& e) { return e.value; })) field({"consecutive"}, "1");
    for (const auto& b : f.bitfields) {
        branch bits(structure.w(), &field, {"bitfields", b.name});
        bits({"mask"}, b.mask);
        const std::uint32_t mask = cat::parse_number(b.mask).value_or(0);
        if (b.values.empty() && mask && (mask & (mask - 1)) == 0) bits({"values", "on"}, std::to_string(mask));
        for (const auto& bv : b.values) bits({"values", bv.name}, bv.text);
        if (consecutive(b.values, mask & (~mask + 1), [](const cat::named_text& t) { return t.text; }))
            bits({"consecutive"}, "1");
    }
    static constexpr std::pair<cat::attribute, std::string_view> attribute_keys[] = {
        {cat::modifiable, "modifiable"},         {cat::modifiable_ro, "modifiable_ro"},
        {cat::in_ram, "in_ram"},                 {cat::no_modify_func, "no_modify_func"},
        {cat::no_compare_func, "no_compare_func"}};
    for (const auto& [bit, word] : attribute_keys)
        if (f.attributes & bit) field({word}, "1");
}

void write_structure(entry_writer& w, branch& structs, const cat::structure& st, const view* v) {
    const std::string name = v ? view_name(st, *v) : std::string(st.name);
    branch s(w, &structs, {name});
    if (!s.wanted()) return;
    for (const auto& f : st.fields)
        if (!v || f.type == header_name || v->keeps(f.attributes)) write_field(s, f, v);
    if (name.ends_with("_DTS")) s({"dts"}, "1");
    if (v) {
        const bool header = st.name == header_name;
        s({header ? std::string(v->word) + "_header" : std::string(v->word)}, "1");
        return;
    }
    for (const auto& d : st.defines) s({"defines", d.name}, d.text);
    if (!st.description.empty()) s({"description"}, st.description);
    if (st.name == "TokenStack_DTS") {
        std::uint32_t position = 0;
        for (const auto& t : cat::tokens) {
            branch token(w, &s, {"tokens", t.name});
            token({"position"}, std::to_string(position++));
            if (t.has_func) token({"has_func"}, "1");
            if (!t.keyword.empty()) token({"keyword"}, t.keyword);
            if (t.has_stack_use) token({"stack_use"}, std::to_string(t.stack_use));
            if (t.children) token({"children"}, std::to_string(t.children));
        }
    }
    if (st.flags & cat::flag_cfgitem) s({"cfgitem"}, "1");
    if (st.flags & cat::flag_cfgitem_header) s({"cfgitem_header"}, "1");
    for (const auto& f : cat::item_flag_names)
        if (st.flags & f.flag) s({f.name}, "1");
}

}  // namespace

std::size_t build_description(dynamic_map& root) { return build_description(root, {}); }

std::size_t build_description(dynamic_map& root, std::span<const std::string_view> prefix) {
    entry_writer w(root, prefix);
    for (const auto& d : protocol_defines) w({"defines", d.name}, d.text);

    branch structs(w, nullptr, {"structs"});
    for (const auto& st : cat::structures) {
        if (!structs.wanted()) break;
        write_structure(w, structs, st, nullptr);
        if (is_item_or_header(st))
            for (const auto& v : views) write_structure(w, structs, st, &v);
    }

    for (const auto& c : commands) {
        branch command(w, nullptr, {"commands", c.name});
        command({"request"}, c.request.name);
        command({"response"}, c.response.name);
    }

    for (const auto& t : cat::flash_tags) {
        branch tag(w, nullptr, {"flash_tags", t.name});
        tag({"tag"}, std::uint32_t(t.value));
        tag({"struct", "type"}, t.structure.empty() ? "NULL" : t.structure);
    }

    branch by_name(w, nullptr, {"item_types_by_name"});
    branch by_number(w, nullptr, {"item_types_by_number"});
    branch structs_by_number(w, nullptr, {"item_structs_by_number"});
    for (const auto& t : cat::item_types) {
        const std::uint32_t n = t.number;
        by_name({t.name}, n);
        by_number({n}, t.name);
        structs_by_number({n}, t.structure);
    }
    return w.entries();
}

const dynamic_map& lazy_description::tree() const {
    std::call_once(once_, [this] {
        build_description(tree_);
        built_.store(true, std::memory_order_release);
    });
    return tree_;
}

}  // namespace qx::protocol
