// The core dump file: what is written reads back the same; a damaged, cut or foreign file is
// refused with its reason, also when its CRC-32C was made to fit.
#include <functional>

#include <gtest/gtest.h>

#include "imagetool/core_dump_file.h"
#include "pak/crc32c.h"

namespace qx::testing {
namespace {

using imagetool::core_dump;
using bytes = std::vector<std::uint8_t>;

core_dump sample() {
    core_dump d;
    d.serial_number = {0x0A, 0x0B, 0x0C, 0x0D};
    d.time = 1'800'000'000;
    d.prepare_answer = {'Q', 'X', '-', 'D', 1, 2, 3};
    bytes map(64, 0x00), data(64, 0xFF);
    for (std::size_t i = 8; i < 24; ++i) map[i] = 0xFF, data[i] = std::uint8_t(i);
    d.sections.push_back({0x80100000, map, data});
    d.sections.push_back({0x00000000, {}, bytes(40, 0x11)});
    return d;
}

// Offsets in the file of sample(): the header is 28 bytes and the prepare answer 7.
constexpr std::size_t first_section = 28 + 7;
constexpr std::size_t first_map = first_section + 12;

void put32(bytes& f, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
}

// Makes the trailing CRC-32C fit again, so that only the structure is wrong.
void refit(bytes& f) { put32(f, f.size() - 4, crc32c(std::span(f).first(f.size() - 4))); }

TEST(core_dump_file, reads_back_what_was_written) {
    const core_dump d = sample();
    const core_dump r = imagetool::read_core_dump(imagetool::write_core_dump(d));
    EXPECT_EQ(r.serial_number, d.serial_number);
    EXPECT_EQ(r.time, d.time);
    EXPECT_EQ(r.prepare_answer, d.prepare_answer);
    ASSERT_EQ(r.sections.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(r.sections[i].address, d.sections[i].address);
        EXPECT_EQ(r.sections[i].blank_map, d.sections[i].blank_map);
        EXPECT_EQ(r.sections[i].data, d.sections[i].data);
    }
    EXPECT_DOUBLE_EQ(imagetool::blank_share(r.sections[0].blank_map), 0.75);
}

TEST(core_dump_file, carries_its_tag_in_little_endian_order) {
    const bytes f = imagetool::write_core_dump(sample());
    EXPECT_EQ(bytes(f.begin(), f.begin() + 4), (bytes{'D', '-', 'X', 'Q'}));
}

struct damage {
    const char* name;
    std::function<void(bytes&)> apply;
    const char* reason;
};

class core_dump_refused : public ::testing::TestWithParam<damage> {};

TEST_P(core_dump_refused, with_its_reason) {
    bytes f = imagetool::write_core_dump(sample());
    GetParam().apply(f);
    try {
        imagetool::read_core_dump(f);
        FAIL() << "accepted";
    } catch (const imagetool::core_dump_file_error& e) {
        EXPECT_NE(std::string(e.what()).find(GetParam().reason), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    damages, core_dump_refused,
    ::testing::Values(
        damage{"empty", [](bytes& f) { f.clear(); }, "not a core dump file"},
        damage{"cut_in_the_header", [](bytes& f) { f.resize(20); }, "shorter than its header"},
        damage{"last_byte_cut", [](bytes& f) { f.pop_back(); }, "CRC-32C"},
        damage{"bit_flipped_in_data", [](bytes& f) { f[first_map + 70] ^= 0x10; }, "CRC-32C"},
        damage{"wrong_tag", [](bytes& f) { put32(f, 0, 0x51582D43); refit(f); }, "not a core dump file: tag 51582D43"},
        damage{"other_byte_order", [](bytes& f) { put32(f, 0, 0x442D5851); refit(f); }, "other byte order"},
        damage{"unknown_version", [](bytes& f) { f[4] = 2; refit(f); }, "version 2 is not supported"},
        damage{"section_longer_than_the_file", [](bytes& f) { put32(f, first_section + 4, 0xFFFFFFF0); put32(f, first_section + 8, 0); refit(f); },
               "needs 4294967280 bytes"},
        damage{"answer_longer_than_the_file", [](bytes& f) { put32(f, 24, 4000); refit(f); }, "needs 4000 bytes"},
        damage{"answer_over_4088_bytes", [](bytes& f) { put32(f, 24, 5000); refit(f); }, "prepare answer of 5000 bytes"},
        damage{"reserved_field_set", [](bytes& f) { f[6] = 1; refit(f); }, "reserved field"},
        damage{"too_many_sections", [](bytes& f) { put32(f, 20, 15); refit(f); }, "15 sections"},
        damage{"bytes_after_the_sections", [](bytes& f) { put32(f, 20, 1); refit(f); }, "bytes after the last section"},
        damage{"map_of_another_length", [](bytes& f) { put32(f, first_section + 8, 32); refit(f); }, "blank map of 32 bytes"},
        damage{"map_byte_neither_blank_nor_written", [](bytes& f) { f[first_map] = 0x01; refit(f); }, "other than 00 and FF"}),
    [](const ::testing::TestParamInfo<damage>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace qx::testing
