// The layout of every structure with a variable part, and of every configuration item type,
// as the alignment rules compute it from the catalogue.
#include <gtest/gtest.h>

#include <algorithm>

#include "protocol/layout.h"
#include "tests/protocol/layout_table_rows.h"

namespace qx::protocol {
namespace {

std::vector<std::uint32_t> element_size_positions(const structure_layout& l) {
    std::vector<std::uint32_t> at;
    for (const auto& a : l.arrays) at.push_back(a.element_size_at);
    return at;
}

class variable_part_table : public ::testing::TestWithParam<testing::variable_row> {};

TEST_P(variable_part_table, matches_fixed_size_arrays_and_limit) {
    const auto& row = GetParam();
    const structure_layout* l = find_layout(row.name);
    ASSERT_NE(l, nullptr) << row.name;
    EXPECT_EQ(l->fixed_size, row.fixed_size);
    EXPECT_EQ(element_size_positions(*l), row.element_size_at);
    EXPECT_EQ(l->variable_part_limit(), row.variable_limit);
    for (const auto& a : l->arrays) EXPECT_EQ(a.slot_at % 4, 0u) << a.field;
}

INSTANTIATE_TEST_SUITE_P(layout, variable_part_table, ::testing::ValuesIn(testing::variable_rows),
                         [](const auto& p) { return std::string(p.param.name); });

class item_table : public ::testing::TestWithParam<testing::item_row> {};

TEST_P(item_table, item_type_has_its_structure_size_and_arrays) {
    const auto& row = GetParam();
    const structure_layout& l = cfgitem_layout(row.type);
    if (!row.name.empty()) {
        EXPECT_EQ(l.name, row.name);
    }
    EXPECT_EQ(l.fixed_size, row.fixed_size) << l.name;
    EXPECT_EQ(element_size_positions(l), row.element_size_at) << l.name;
}

INSTANTIATE_TEST_SUITE_P(layout, item_table, ::testing::ValuesIn(testing::item_rows),
                         [](const auto& p) { return "type_" + std::to_string(p.param.type); });

TEST(item_table, unknown_types_are_laid_out_as_the_bare_header) {
    for (int type : {40, 41, 200, 255}) {
        const structure_layout& l = cfgitem_layout(std::uint8_t(type));
        EXPECT_EQ(l.name, "ConfigurationItemHeader_TS");
        EXPECT_EQ(l.fixed_size, 64u);
    }
}

TEST(structure_layout, fixed_structures_follow_the_alignment_rules) {
    struct expect {
        const char* structure;
        const char* field;
        std::uint32_t offset;
    };
    for (const auto& e : {expect{"SystemDescriptor_TS", "MaxNumberOfConfigurationChannels", 18},
                          expect{"CpuPinDescriptor_TS", "PinName", 2},
                          expect{"CpuPinDescriptor_TS", "modes", 44},
                          expect{"QXROM_Header_TS", "tag", 1024},
                          expect{"QXNV_Header_TS", "padding", 16},
                          expect{"QXNV_Header_TS", "entries", 1024},
                          expect{"RawFileFullHeader_TS", "RFFH", 64},
                          expect{"RawFileFullHeader_TS", "RFDH", 128},
                          expect{"RawFileFullHeader_TS", "header", 192},
                          expect{"RawFileFullHeader_TS", "misc_string", 208},
                          expect{"ReadDataRequest_TS", "access_count", 6}}) {
        const structure_layout* l = find_layout(e.structure);
        ASSERT_NE(l, nullptr);
        const field_placement* f = l->find_field(e.field);
        ASSERT_NE(f, nullptr) << e.structure << "." << e.field;
        EXPECT_EQ(f->offset, e.offset) << e.structure << "." << e.field;
    }
    EXPECT_EQ(find_layout("LogReadFileRequest_TS")->fixed_size, 8u);
    EXPECT_EQ(find_layout("Peripheral_BoardDescriptor_TS")->fixed_size, 18u);
    EXPECT_EQ(find_layout("RawFileFullHeader_TS")->fixed_size, 448u);
    EXPECT_EQ(find_layout("QXNV_Header_TS")->find_field("padding")->size, 1008u);
}

TEST(structure_layout, catalogue_holds_128_structures_in_description_order) {
    const auto& all = all_layouts();
    ASSERT_EQ(all.size(), 128u);
    EXPECT_EQ(all.front().name, "GenericArray_DTS");
    EXPECT_EQ(all[86].name, "ConfigurationItemHeader_TS");
    EXPECT_EQ(all.back().name, "ResponseHeader_TS");
    for (const auto& l : all) {
        EXPECT_EQ(l.dts, l.name.ends_with("_DTS")) << l.name;
        EXPECT_EQ(l.fixed_size % l.alignment, 0u) << l.name;
    }
}

TEST(structure_layout, nested_arrays_are_named_by_their_path) {
    const structure_layout& math = cfgitem_layout(5);
    ASSERT_NE(math.find_array("token_stack.data"), nullptr);
    EXPECT_EQ(math.find_array("token_stack.data")->element_size_at, 96u);
    EXPECT_EQ(math.find_array("header.channel_name")->slot_at, 36u);
    EXPECT_EQ(find_layout("GenericStatusStringResponse_DTS")->find_array("data")->slot_at, 16u);
}

}  // namespace
}  // namespace qx::protocol
