#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <sys/wait.h>

#include "app/console/json_output.h"
#include "app/console/pak_command.h"
#include "tests/pak/pak_test_files.h"

namespace {

using namespace qx::test_support;

class pak_info_command : public pak_tests::temp_folder {
protected:
    int run(const std::string& path, bool json) {
        out_.str("");
        err_.str("");
        return qx::console::pak_info(path, json, out_, err_);
    }
    std::ostringstream out_;
    std::ostringstream err_;
};

TEST_F(pak_info_command, prints_the_fields_of_a_package) {
    pak_spec spec = sample_pak_spec(2, "01020AFF", 3, 2);
    spec.description = "Boot loader";
    spec.aux_data = {1, 2};
    const std::string path = file("boot.pak", write_pak(spec).data);
    ASSERT_EQ(run(path, false), 0) << err_.str();
    const std::string text = out_.str();
    for (const char* line : {"layout: 2\n", "serial_number: 01020AFF\n", "author: Velmar Service\n",
                             "description: Boot loader\n", "version: 103\n", "image_type: 3 (Boot Module)\n",
                             "certificate_size: 300\n", "aux_size: 2\n", "image_size: 4096\n", "checksum: ok\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "in\n" << text;

    ASSERT_EQ(run(path, true), 0);
    const auto j = nlohmann::ordered_json::parse(out_.str());  // keeps the printed order
    std::vector<std::string> keys;
    for (const auto& [key, value] : j.items()) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"layout", "serial_number", "author", "date", "description", "version",
                                              "image_type", "certificate_size", "aux_size", "image_size",
                                              "checksum"}));
    EXPECT_EQ(j["image_type"]["code"], 3);
    EXPECT_EQ(j["image_type"]["name"], "Boot Module");
}

TEST_F(pak_info_command, falls_back_to_layout1_and_reports_an_absent_checksum) {
    pak_spec spec = sample_pak_spec(1, "01020AFF", 0);
    spec.checksum = false;
    ASSERT_EQ(run(file("one.pak", write_pak(spec).data), true), 0);
    const auto j = nlohmann::json::parse(out_.str());
    EXPECT_EQ(j["layout"], 1);
    EXPECT_EQ(j["checksum"], "absent");
}

TEST_F(pak_info_command, prints_a_group_with_its_accepted_entries_and_fails_on_a_dropped_one) {
    pak_group_spec g;
    g.serial_number = "01020AFF";
    g.entries = {group_entry(sample_pak_spec(2, "01020AFF", 0)), group_entry(sample_pak_spec(1, "01020AFF", 1)),
                 group_entry(sample_pak_spec(2, "01020AFF", 2))};
    bytes data = write_pak_group(g).data;
    data[data.size() - 1] ^= 1;  // the last entry is dropped
    const std::string path = file("01020AFF.pakgrp", data);
    ASSERT_EQ(run(path, true), 1) << err_.str();
    EXPECT_EQ(err_.str(), "1 of 3 declared entries dropped: the group is incomplete.\n");
    const auto j = nlohmann::json::parse(out_.str());
    EXPECT_EQ(j["serial_number"], "01020AFF");
    EXPECT_EQ(j["declared_count"], 3);
    EXPECT_EQ(j["dropped_count"], 1);
    ASSERT_EQ(j["entries"].size(), 2u);
    EXPECT_EQ(j["entries"][1]["name"], "Fixed Model");
    EXPECT_EQ(j["entries"][1]["entry_type"], 1);
    EXPECT_EQ(j["entries"][1]["layout"], 1);
    EXPECT_EQ(j["entries"][1]["package_position"], write_pak_group(g).package_at[1]);
    EXPECT_EQ(j["entries"][1]["image_size"], 4096);
    EXPECT_EQ(j["entries"][0]["checksum"], "ok");

    EXPECT_EQ(run(path, false), 1);
    EXPECT_NE(out_.str().find("dropped_count: 1\n"), std::string::npos) << out_.str();
    EXPECT_EQ(err_.str(), "1 of 3 declared entries dropped: the group is incomplete.\n");
}

TEST_F(pak_info_command, json_writes_bytes_that_are_not_utf8_as_latin1_characters) {
    pak_spec spec = sample_pak_spec(2, "01020AFF", 0);
    spec.author = "M\xFCller \xE2\x82\xAC";  // Windows-1252 u-umlaut, then a valid euro sign
    spec.serial_bytes = std::array<std::uint8_t, 8>{'0', '1', 0xFF, 0xC0, 0x80, '0', 'A', 'F'};
    ASSERT_EQ(run(file("latin.pak", write_pak(spec).data), true), 0) << err_.str();
    const auto j = nlohmann::json::parse(out_.str());
    EXPECT_EQ(j["author"], "M\u00fcller \u20ac");
    EXPECT_EQ(j["serial_number"], "01\u00ff\u00c0\u00800AF");
}

struct utf8_case {
    const char* name;
    std::string in, out;
};
class json_text_rule : public ::testing::TestWithParam<utf8_case> {};
INSTANTIATE_TEST_SUITE_P(
    sequences, json_text_rule,
    ::testing::Values(utf8_case{"ascii_and_valid_sequences_stay", "a\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80", "a\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80"},
                      utf8_case{"overlong_two_bytes", "\xC0\xAF", "\xC3\x80\xC2\xAF"},
                      utf8_case{"surrogate", "\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80"},
                      utf8_case{"beyond_10ffff", "\xF4\x90\x80\x80", "\xC3\xB4\xC2\x90\xC2\x80\xC2\x80"},
                      utf8_case{"cut_short_at_the_end", "x\xE2\x82", "x\xC3\xA2\xC2\x82"},
                      utf8_case{"lead_byte_then_ascii", "\xE2(", "\xC3\xA2("}),
    [](const ::testing::TestParamInfo<utf8_case>& p) { return std::string(p.param.name); });

TEST_P(json_text_rule, each_stray_byte_becomes_its_latin1_character) {
    EXPECT_EQ(qx::console::utf8_or_latin1(GetParam().in), GetParam().out);
    // Keys and nested values too, and the text always parses.
    nlohmann::ordered_json j;
    j[GetParam().in] = nlohmann::ordered_json::array({GetParam().in});
    const auto back = nlohmann::ordered_json::parse(qx::console::json_text(j));
    EXPECT_EQ(back[GetParam().out][0], GetParam().out);
}

TEST_F(pak_info_command, reports_the_readers_message_and_fails) {
    EXPECT_EQ(run(missing("gone.pak"), false), 1);
    EXPECT_EQ(err_.str(), "Cannot open pak file '" + missing("gone.pak") + "'.\n");
    EXPECT_EQ(out_.str(), "");

    pak_spec spec = sample_pak_spec(2, "01020AFF", 0);
    spec.stored_checksum = 1;
    EXPECT_EQ(run(file("bad.pak", write_pak(spec).data), false), 1);
    EXPECT_EQ(err_.str(), "Pak file checksum error.\n");

    EXPECT_EQ(run(file("junk.pak", bytes(100, 7)), false), 1);
    EXPECT_EQ(err_.str(), "Pak file invalid.\n");

    pak_group_spec g;
    g.entries = {group_entry(sample_pak_spec(2, "01020AFF", 0))};
    g.declared_count = 0;
    EXPECT_EQ(run(file("renamed.bin", write_pak_group(g).data), false), 1);  // known by its magic
    EXPECT_EQ(err_.str(), "Pak group file invalid.\n");
}

TEST_F(pak_info_command, the_console_reports_a_group_made_by_the_writer) {
    pak_group_spec g;
    g.serial_number = "01020AFF";
    for (std::uint32_t type = 0; type < 4; ++type) g.entries.push_back(group_entry(sample_pak_spec(2, "01020AFF", type)));
    const std::string path = file("01020AFF.pakgrp", write_pak_group(g).data);
    const std::string command = std::string(FLASHDESK_BIN) + " pak info '" + path + "' 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[512];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
    const int status = ::pclose(pipe);
    EXPECT_EQ(WEXITSTATUS(status), 0) << output;
    EXPECT_NE(output.find("declared_count: 4\n"), std::string::npos) << output;
    EXPECT_NE(output.find("entry 3:\n  name: Boot Module\n"), std::string::npos) << output;

    const std::string failing = std::string(FLASHDESK_BIN) + " pak info '" + missing("x.pakgrp") + "' 2>/dev/null";
    EXPECT_EQ(WEXITSTATUS(std::system(failing.c_str())), 1);
}

}  // namespace
