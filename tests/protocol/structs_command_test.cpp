// `flashdesk structs`: the layout tables come out of the console command as JSON.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/protocol/layout_table_rows.h"

namespace {

struct run_result {
    int status;
    std::string out;
};

run_result run_flashdesk(const std::string& args) {
    std::string cmd = std::string(FLASHDESK_BIN) + " " + args + " 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(cmd.c_str(), "r"), pclose);
    std::string out;
    char buf[4096];
    while (size_t n = fread(buf, 1, sizeof buf, pipe.get())) out.append(buf, n);
    int status = pclose(pipe.release());
    return {WEXITSTATUS(status), out};
}

std::vector<std::uint32_t> positions(const nlohmann::json& s) {
    std::vector<std::uint32_t> at;
    for (const auto& a : s["arrays"]) at.push_back(a["element_size_at"]);
    return at;
}

TEST(structs_command, json_reproduces_the_variable_part_table) {
    auto r = run_flashdesk("structs --json");
    ASSERT_EQ(r.status, 0) << r.out;
    auto all = nlohmann::json::parse(r.out);
    ASSERT_EQ(all.size(), 128u);
    for (const auto& row : qx::testing::variable_rows) {
        auto it = std::find_if(all.begin(), all.end(), [&](const auto& s) { return s["name"] == row.name; });
        ASSERT_NE(it, all.end()) << row.name;
        EXPECT_EQ((*it)["size"], row.fixed_size) << row.name;
        EXPECT_EQ(positions(*it), row.element_size_at) << row.name;
    }
    const auto& status_string = *std::find_if(all.begin(), all.end(), [](const auto& s) {
        return s["name"] == "GenericStatusStringResponse_DTS";
    });
    EXPECT_EQ(status_string["dts"], true);
    EXPECT_EQ(status_string["arrays"].back()["field"], "data");
    EXPECT_EQ(status_string["fields"][1], (nlohmann::json{{"name", "str"}, {"type", "GenericArray_DTS"}, {"offset", 4}, {"size", 8}}));
}

TEST(structs_command, json_reproduces_the_item_table_by_type) {
    for (const auto& row : qx::testing::item_rows) {
        auto r = run_flashdesk("structs --json --cfgitem " + std::to_string(row.type));
        ASSERT_EQ(r.status, 0) << r.out;
        auto one = nlohmann::json::parse(r.out).at(0);
        if (!row.name.empty()) {
            EXPECT_EQ(one["name"], row.name);
        }
        EXPECT_EQ(one["size"], row.fixed_size);
        EXPECT_EQ(positions(one), row.element_size_at) << one["name"];
    }
}

TEST(structs_command, an_item_type_outside_0_to_255_is_refused) {
    for (const char* type : {"-1", "256", "x"}) {
        auto r = run_flashdesk(std::string("structs --cfgitem ") + type);
        EXPECT_NE(r.status, 0) << type;
        EXPECT_NE(r.out.find("--cfgitem"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("size"), std::string::npos) << "printed structures for " << type;
    }
}

TEST(structs_command, names_select_structures_and_unknown_names_fail) {
    auto r = run_flashdesk("structs PeripheralIoControlResponse_TS");
    ASSERT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("PeripheralIoControlResponse_TS  size 12"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("io_data_w"), std::string::npos);
    auto bad = run_flashdesk("structs NoSuchThing_TS");
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.out.find("no structure named NoSuchThing_TS"), std::string::npos) << bad.out;
}

}  // namespace

// `flashdesk describe` at a key path prints what the whole description holds there, in its
// order; a number names the numbered child of a map of names too (commands 3 is the fourth).
TEST(describe_command, a_key_path_prints_that_part_of_the_whole_description) {
    const auto whole_run = run_flashdesk("describe --json");
    ASSERT_EQ(whole_run.status, 0);
    const auto whole = nlohmann::ordered_json::parse(whole_run.out);
    struct path_case {
        std::string keys;
        nlohmann::ordered_json expected;
    };
    const auto& commands = whole["commands"];
    const path_case cases[] = {
        {"structs ReadDataRequest_TS", whole["structs"]["ReadDataRequest_TS"]},
        {"structs ConfigurationSlopeItem_ram_TS fields", whole["structs"]["ConfigurationSlopeItem_ram_TS"]["fields"]},
        {"item_types_by_number 39", whole["item_types_by_number"]["39"]},
        {"commands 3", std::next(commands.begin(), 3).value()},
        {"defines", whole["defines"]},
    };
    for (const auto& c : cases) {
        const auto r = run_flashdesk("describe --json " + c.keys);
        ASSERT_EQ(r.status, 0) << c.keys << ": " << r.out;
        EXPECT_EQ(nlohmann::ordered_json::parse(r.out), c.expected) << c.keys;
    }
    const auto missing = run_flashdesk("describe structs NoSuch_TS fields");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "flashdesk describe: no entry structs NoSuch_TS\n");
}
