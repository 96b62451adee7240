// The node container and the protocol description built into it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/description.h"
#include "protocol/dynamic_map.h"

namespace qx {
namespace {

std::vector<std::string> child_names(const dynamic_map& n) {
    std::vector<std::string> out;
    for (const auto& [index, c] : n.children) out.emplace_back(n.name_of(index));
    return out;
}

const dynamic_map& at(const dynamic_map& root, std::initializer_list<std::string> path) {
    const dynamic_map* n = &root;
    for (const auto& k : path) {
        n = n->find(k);
        if (!n) throw std::runtime_error("no entry " + k);
    }
    return *n;
}

TEST(dynamic_map, children_keep_creation_order_and_numbers_set_next_index) {
    dynamic_map m;
    m.child("zeta").assign("1");
    m.child("alpha").assign("2");
    m.child("zeta").assign("3");  // found again, not added
    EXPECT_EQ(child_names(m), (std::vector<std::string>{"zeta", "alpha"}));
    EXPECT_EQ(m.kind, dynamic_map::kind_map);

    dynamic_map n;
    n.child(5u).assign(std::uint32_t(7));
    EXPECT_EQ(n.next_index, 6u);
    n.child("after");
    EXPECT_EQ(n.names.at("after"), 6u);
    n.child(6u + 1);  // numbered 7
    n.child(2u);      // next_index goes back to 3
    n.child("x");
    n.child("y");
    n.child("z");     // 3, 4, then 5 and 6 are taken: 8
    EXPECT_EQ(n.names.at("z"), 8u);
    EXPECT_EQ(n.children.size(), 7u);
}

TEST(dynamic_map, assigning_another_kind_clears_the_node) {
    dynamic_map m;
    m.child("a").child("b").assign("deep");
    m.assign("flat");
    EXPECT_EQ(m.kind, dynamic_map::kind_text);
    EXPECT_TRUE(m.children.empty());
    EXPECT_TRUE(m.names.empty());
    m.assign(std::uint32_t(9));
    EXPECT_EQ(m.kind, dynamic_map::kind_number);
    EXPECT_TRUE(m.text.empty());
    m.child("again");
    EXPECT_EQ(m.number, 0u);
    EXPECT_EQ(m.kind, dynamic_map::kind_map);
}

TEST(dynamic_map, looking_up_a_missing_name_creates_an_empty_number_node) {
    dynamic_map m;
    dynamic_map& c = m.child("missing");
    EXPECT_EQ(c.kind, dynamic_map::kind_number);
    EXPECT_EQ(c.number, 0u);
    EXPECT_EQ(m.find("other"), nullptr);  // find never creates
    m.clear();
    EXPECT_EQ(m.kind, dynamic_map::kind_number);
    EXPECT_EQ(m.next_index, 0u);
}

TEST(dynamic_map, pieces_larger_than_an_arena_block_and_trees_built_again) {
    for (int round = 0; round < 2; ++round) {  // the second tree reuses the first one's blocks
        dynamic_map m;
        const std::string long_name(40000, 'n');  // a name and child lists beyond one 32 KiB block
        m.child(long_name).assign("long");
        for (std::uint32_t i = 1; i <= 5000; ++i) m.child("k" + std::to_string(i)).assign(i);
        ASSERT_NE(m.find(long_name), nullptr);
        EXPECT_EQ(m.find(long_name)->text, "long");
        EXPECT_EQ(m.name_of(0), long_name);
        EXPECT_EQ(m.find("k4321")->number, 4321u);
        EXPECT_EQ(m.children.size(), 5001u);
        m.child("k7").clear();
        EXPECT_EQ(m.find("k7")->kind, dynamic_map::kind_number);
    }
}

class description : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = new dynamic_map;
        entries_ = protocol::build_description(*root_);
    }
    static void TearDownTestSuite() { delete root_; }
    static dynamic_map* root_;
    static std::size_t entries_;
};
dynamic_map* description::root_ = nullptr;
std::size_t description::entries_ = 0;

TEST_F(description, has_seven_sections_with_their_counts) {
    EXPECT_EQ(child_names(*root_),
              (std::vector<std::string>{"defines", "structs", "commands", "flash_tags", "item_types_by_name",
                                        "item_types_by_number", "item_structs_by_number"}));
    EXPECT_EQ(at(*root_, {"defines"}).children.size(), 11u);
    EXPECT_EQ(at(*root_, {"structs"}).children.size(), 288u);
    EXPECT_EQ(at(*root_, {"commands"}).children.size(), 79u);
    EXPECT_EQ(at(*root_, {"flash_tags"}).children.size(), 13u);
    for (const char* s : {"item_types_by_name", "item_types_by_number", "item_structs_by_number"})
        EXPECT_EQ(at(*root_, {s}).children.size(), 40u) << s;
    EXPECT_GT(entries_, 6000u);
    EXPECT_EQ(at(*root_, {"defines", "MAX_TRANSFERSTRUCTS_SIZE"}).text, "0x0FF8");
}

TEST_F(description, two_builds_give_identical_trees) {
    dynamic_map again;
    EXPECT_EQ(protocol::build_description(again), entries_);
    EXPECT_TRUE(again == *root_);
    again.child("structs").child("GenericArray_DTS").child("dts").assign("0");
    EXPECT_FALSE(again == *root_);
}

// A build for a key path holds that part of the whole description, node for node, and little else.
TEST_F(description, a_build_for_a_key_path_holds_that_subtree_of_the_whole) {
    const std::vector<std::vector<std::string_view>> paths = {
        {"structs", "ReadDataRequest_TS"},
        {"structs", "ConfigurationSlopeItem_ram_TS", "fields"},
        {"structs", "TokenStack_DTS", "tokens", "token_clamp"},
        {"commands"},
        {"flash_tags", "FLASHTAG_BOARD_ID", "struct"},
        {"item_types_by_number", "39"},
        {"defines", "MAX_TRANSFERSTRUCTS_SIZE"}};
    for (const auto& path : paths) {
        dynamic_map part;
        const std::size_t written = protocol::build_description(part, path);
        EXPECT_LT(written, entries_);
        const dynamic_map* whole = root_;
        const dynamic_map* mine = &part;
        for (std::string_view k : path) {
            const bool number = k.find_first_not_of("0123456789") == std::string_view::npos;
            whole = number ? whole->find(std::uint32_t(std::stoul(std::string(k)))) : whole->find(k);
            mine = number ? mine->find(std::uint32_t(std::stoul(std::string(k)))) : mine->find(k);
            ASSERT_TRUE(whole && mine) << k;
        }
        EXPECT_TRUE(*mine == *whole) << path.front() << " " << path.back();
    }
}

TEST_F(description, fields_come_in_declaration_order) {
    EXPECT_EQ(child_names(at(*root_, {"structs", "SH_Peripheral_CommandHeader_TS", "fields"})),
              (std::vector<std::string>{"command_type", "command_data_size", "response_data_buffer_size", "dummy"}));
    const auto& access = at(*root_, {"structs", "ReadDataRequest_TS", "fields", "access_size"});
    EXPECT_EQ(at(access, {"values", "word", "value"}).text, "2");
    EXPECT_EQ(at(*root_, {"structs", "CpuPinDescriptor_TS", "fields", "PinName", "type"}).text,
              "BYTE[TS_CPUPINDESCRIPTOR_PIN_NAME_LENGTH]");
}

TEST_F(description, item_structs_by_number_39_is_the_last_entry) {
    const auto& last_section = *root_->children.rbegin()->second;
    EXPECT_EQ(root_->name_of(root_->children.rbegin()->first), "item_structs_by_number");
    EXPECT_EQ(last_section.children.rbegin()->first, 39u);
    EXPECT_EQ(last_section.children.rbegin()->second->text, "ConfigurationEngineTimingGeneratorItem_TS");
    EXPECT_EQ(at(*root_, {"item_types_by_name", "CFGITEM_TYPE_MATH"}).number, 5u);
    EXPECT_EQ(root_->find("item_types_by_number")->find(7u)->text, "CFGITEM_TYPE_1DTABLE");
}

TEST_F(description, header_views_hold_exactly_their_fields) {
    using names = std::vector<std::string>;
    const auto fields = [&](const char* view) { return child_names(at(*root_, {"structs", view, "fields"})); };
    EXPECT_EQ(fields("ConfigurationItemHeader_modifiable_TS"),
              (names{"outputValue", "outputValueInitial", "outputValueTest", "clamp_lower", "clamp_upper", "type",
                     "outputChannel", "channel_name", "input_channels", "input_data_pointers", "mod_flags"}));
    EXPECT_EQ(fields("ConfigurationItemHeader_modifiable_nv_TS"),
              (names{"outputValueInitial", "outputValueTest", "clamp_lower", "clamp_upper", "input_data_pointers",
                     "mod_flags"}));
    EXPECT_EQ(fields("ConfigurationItemHeader_ram_TS"),
              (names{"misc_ptr", "outputValue", "outputValueInitial", "outputValueTest", "clamp_lower",
                     "clamp_upper", "type", "input_data_pointers", "mod_flags"}));
    EXPECT_EQ(fields("ConfigurationItemHeader_non_modifiable_TS"),
              (names{"misc_ptr", "item_size", "flags", "thread_control"}));
    EXPECT_EQ(at(*root_, {"structs", "ConfigurationItemHeader_ram_TS", "cfgitem_ram_header"}).text, "1");
}

TEST_F(description, item_views_nest_the_header_view_and_keep_dts_only_with_the_inline_array) {
    const auto& slope_ram = at(*root_, {"structs", "ConfigurationSlopeItem_ram_TS"});
    EXPECT_EQ(at(slope_ram, {"fields", "header", "type"}).text, "ConfigurationItemHeader_ram_TS");
    EXPECT_EQ(at(slope_ram, {"cfgitem_ram"}).text, "1");
    const auto& structs = at(*root_, {"structs"});
    for (const char* present : {"Configuration1DTableItem_modifiable_DTS", "Configuration1DTableItem_modifiable_nv_DTS",
                                "Configuration1DTableItem_ram_DTS", "Configuration1DTableItem_non_modifiable_TS"})
        EXPECT_NE(structs.find(present), nullptr) << present;
    EXPECT_EQ(structs.find("Configuration1DTableItem_non_modifiable_DTS"), nullptr);
    EXPECT_EQ(at(structs, {"Configuration1DTableItem_ram_DTS", "dts"}).text, "1");
    EXPECT_EQ(structs.find("Configuration1DTableItem_non_modifiable_TS")->find("dts"), nullptr);
}

TEST_F(description, item_flags_tokens_and_enumerations_with_extra_columns) {
    const auto& math = at(*root_, {"structs", "ConfigurationMathItem_TS"});
    EXPECT_EQ(at(math, {"description"}).text, "Math Calculation");
    EXPECT_EQ(at(math, {"rom_hook_additions"}).text, "1");
    EXPECT_EQ(math.find("has_subtype"), nullptr);
    EXPECT_EQ(at(*root_, {"structs", "ConfigurationPredefItem_TS", "has_subtype"}).text, "1");

    const auto& tokens = at(*root_, {"structs", "TokenStack_DTS", "tokens"});
    EXPECT_EQ(tokens.children.size(), 44u);
    EXPECT_EQ(tokens.find("token_end")->find("has_func"), nullptr);
    EXPECT_EQ(at(tokens, {"token_sub", "children"}).text, "2");
    EXPECT_EQ(at(tokens, {"token_neg", "keyword"}).text, "-");
    EXPECT_EQ(at(tokens, {"token_clamp", "stack_use"}).text, "-2");
    EXPECT_EQ(at(tokens, {"token_or", "keyword"}).text, "||");

    const auto& timing = at(*root_, {"structs", "ConfigurationEngineDescriptorItem_TS", "fields", "timing_type"});
    EXPECT_EQ(at(timing, {"values"}).children.size(), 28u);
    EXPECT_EQ(at(timing, {"values", "Honda600RR", "crank_teeth"}).text, "12");
    EXPECT_EQ(at(timing, {"values", "SingleToothCam", "crank"}).text, "user");
    EXPECT_EQ(at(timing, {"consecutive"}).text, "1");
    const auto& mode = at(*root_, {"structs", "ConfigurationTimerItem_TS", "fields", "_mode", "values"});
    EXPECT_EQ(at(mode, {"TransitionLinearResetFinal", "max_inputs"}).text, "6");
    EXPECT_EQ(at(*root_, {"structs", "ConfigurationHardwareIOItem_TS", "fields", "cpu_pin_mode", "values",
                          "Frequency_And_Duty_Output", "num_locals"}).text, "2");
}

TEST_F(description, bit_fields_carry_masks_flags_and_steps) {
    const auto& coil = at(*root_, {"structs", "ConfigurationEngineDescriptorItem_TS", "fields", "coil_type", "bitfields"});
    EXPECT_EQ(at(coil, {"setup", "mask"}).text, "0x03");
    EXPECT_EQ(at(coil, {"setup", "values", "wasted_spark"}).text, "0x01");
    EXPECT_EQ(at(coil, {"setup", "consecutive"}).text, "1");
    EXPECT_EQ(at(coil, {"invert", "values", "on"}).text, "4");
    const auto& latch = at(*root_, {"structs", "ConfigurationCJ125Item_TS", "fields", "read_latch", "bitfields"});
    EXPECT_EQ(at(latch, {"start_state", "consecutive"}).text, "1");  // 0, 16 in steps of 0x10
    EXPECT_EQ(latch.find("edge")->find("consecutive"), nullptr);     // 1, 2
    const auto& cell = at(*root_, {"structs", "Configuration1DTableItem_DTS", "fields", "cell_adjust"});
    EXPECT_EQ(cell.find("consecutive"), nullptr);
}

TEST_F(description, commands_and_flash_tags) {
    EXPECT_EQ(at(*root_, {"commands", "GET_TARGET_VERSION", "request"}).text, "NULL");
    EXPECT_EQ(at(*root_, {"commands", "CONFIGURATION_DOWNLOAD_ITEM", "request"}).text, "cfgitem");
    EXPECT_EQ(child_names(at(*root_, {"commands"})).back(), "CONFIGURATION_RESOLVE_NAME_WITH_NAME");
    EXPECT_EQ(at(*root_, {"flash_tags", "FLASHTAG_BOARD_ID", "tag"}).number, 0xF606u);
    EXPECT_EQ(at(*root_, {"flash_tags", "FLASHTAG_BOARD_ID", "struct", "type"}).text, "Peripheral_BoardModel_TS");
    EXPECT_EQ(at(*root_, {"structs", "ConfigurationItemHeader_TS", "defines", "FLASHTAG_PASSWORD"}).text, "0xF641");
}

}  // namespace
}  // namespace qx
