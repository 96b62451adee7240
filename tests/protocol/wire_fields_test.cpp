// The fields of a structure as the ECU's bytes hold them: every leaf of every structure, read
// in the byte order the ECU sent, arrays where the library lays them out.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "protocol/catalogue_rules.h"
#include "protocol/wire_fields.h"

namespace qx::testing {
namespace {

using namespace qx::protocol;
using bytes = std::vector<std::uint8_t>;

std::map<std::string, std::string> by_name(const wire_structure& s) {
    std::map<std::string, std::string> m;
    for (const auto& f : s.fields) EXPECT_TRUE(m.emplace(f.name, f.value).second) << s.name << " names " << f.name << " twice";
    return m;
}

// A block of `layout` in host order: every byte of the fixed part from a pattern, each array
// with 3 elements of 1, 2 or 4 bytes, laid out.
bytes host_block(const structure_layout& layout) {
    bytes b(layout.fixed_size + 64 * layout.arrays.size(), 0);
    for (std::size_t i = 0; i < layout.fixed_size; ++i) b[i] = std::uint8_t(i * 37 + 11);
    for (std::size_t i = layout.fixed_size; i < b.size(); ++i) b[i] = std::uint8_t(i * 13 + 1);
    for (std::size_t i = 0; i < layout.arrays.size(); ++i)
        set_descriptor(&b[layout.arrays[i].element_size_at], std::uint8_t(1u << (i % 3)), 3);
    EXPECT_NE(set_pointers(layout, b.data(), b.size()), TS_LAYOUT_ERROR) << layout.name;
    return b;
}

std::uint32_t host_value(const bytes& b, const leaf_placement& leaf) {
    std::uint32_t v = 0;
    std::memcpy(&v, &b[leaf.offset], leaf.size);
    return v;
}

// Host order read as a little-endian ECU sent it, and the same block converted to the wire's
// big-endian order read as sent: the same numbers, every leaf named once.
TEST(wire_fields, every_leaf_of_every_structure_reads_the_same_in_either_byte_order) {
    std::size_t leaves = 0;
    for (const structure_layout& layout : all_layouts()) {
        const bytes host = host_block(layout);
        bytes wire = host;
        convert(layout, wire.data(), wire.size());
        const structure_ref ref{structure_ref::structure, layout.name};
        const wire_structure little = decode_wire(ref, host, wire_order::little);
        const wire_structure big = decode_wire(ref, wire, wire_order::big);
        EXPECT_EQ(little.name, layout.name);
        EXPECT_EQ(little.note, "") << layout.name;
        EXPECT_EQ(big.note, "") << layout.name;
        const auto l = by_name(little), g = by_name(big);
        for (const leaf_placement& leaf : leaves_of(layout)) {
            ++leaves;
            SCOPED_TRACE(layout.name + "." + leaf.name);
            if (leaf.kind == leaf_placement::scalar) {
                const std::uint32_t v = host_value(host, leaf);
                float f;
                std::memcpy(&f, &v, 4);
                char text[32];
                std::snprintf(text, sizeof text, "%g", double(f));
                const std::string want = leaf.type == "float" ? std::string(text) : std::to_string(v);
                EXPECT_EQ(l.at(leaf.name), want);
                EXPECT_EQ(g.at(leaf.name), want);
            } else if (leaf.kind == leaf_placement::byte_run) {
                EXPECT_EQ(l.at(leaf.name), bytes_text(std::span(host).subspan(leaf.offset, leaf.size)));
                EXPECT_EQ(g.at(leaf.name), l.at(leaf.name));
            } else {
                const array_placement& a = layout.arrays[leaf.size];
                const std::size_t size = std::size_t(1) << (leaf.size % 3);
                EXPECT_EQ(g.at(leaf.name + ".element_size"), std::to_string(size));
                EXPECT_EQ(g.at(leaf.name + ".count"), "3");
                // The elements where the library put them, as each side sent them.
                std::uint32_t at;
                std::memcpy(&at, &host[a.slot_at], 4);
                EXPECT_EQ(l.at(leaf.name), bytes_text(std::span(host).subspan(at, 3 * size)));
                EXPECT_EQ(g.at(leaf.name), bytes_text(std::span(wire).subspan(at, 3 * size)));
            }
        }
        EXPECT_EQ(g.size(), l.size());
    }
    EXPECT_GT(leaves, 3000u);
}

TEST(wire_fields, what_the_bytes_do_not_hold_is_left_out_with_a_note) {
    const structure_layout& security = *find_layout("Security_BlockRequest_DTS");
    const structure_ref ref{structure_ref::structure, security.name};
    bytes b = host_block(security);

    const wire_structure cut = decode_wire(ref, std::span(b).first(26), wire_order::little);
    EXPECT_EQ(cut.note, "cut short: 26 of its 48 fixed bytes");
    const auto fields = by_name(cut);
    EXPECT_EQ(fields.count("address"), 0u);  // bytes 24..27
    EXPECT_EQ(fields.count("key1.count"), 1u);
    EXPECT_EQ(fields.count("key1"), 0u);

    // The last array reaches beyond the bytes: its descriptor is shown, its elements are not.
    set_descriptor(&b[40], 1, 2000);
    const wire_structure beyond = decode_wire(ref, b, wire_order::little);
    EXPECT_EQ(beyond.note, "its arrays do not lie within its " + std::to_string(b.size()) + " bytes");
    EXPECT_EQ(by_name(beyond).at("data.count"), "2000");
    EXPECT_EQ(by_name(beyond).count("data"), 0u);
    EXPECT_EQ(by_name(beyond).count("key0"), 1u);

    const wire_structure none = decode_wire({structure_ref::none, "NULL"}, std::span(b).first(5), wire_order::big);
    EXPECT_EQ(none.name, "NULL");
    EXPECT_EQ(none.note, "5 bytes where the command has none");
}

TEST(wire_fields, a_configuration_item_is_read_as_the_structure_of_its_type) {
    for (const auto& t : catalogue::item_types) {
        const structure_layout& item = cfgitem_layout(t.number);
        bytes b = host_block(item);
        b[cfgitem_type_offset] = t.number;
        EXPECT_EQ(decode_wire({structure_ref::cfgitem, "cfgitem"}, b, wire_order::big).name, t.structure);
    }
}

}  // namespace
}  // namespace qx::testing
