// The raw log disk reader on its own: header decoding in both byte orders, and the bounds it
// keeps on disks whose counts cannot be right.
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ecusim/raw_log_disk.h"
#include "ecusim/wire.h"
#include "filetool/raw_log_disk.h"

namespace qx::raw_log {
namespace {

using ::testing::ElementsAre;
using bytes = std::vector<std::uint8_t>;

struct recording_view : walk_view {
    std::vector<std::string> messages;
    std::map<int, std::string> shown;
    void message(const std::string& text, const std::string&) override { messages.push_back(text); }
    void show(int id, const std::string& text) override { shown[id] = text; }
};

// A disk image in memory; blocks beyond its end read as zeros, as the ECU's do.
struct image_reader {
    bytes disk;
    unsigned reads = 0;
    block_reader reader() {
        return [this](std::uint32_t lba, std::uint32_t count, std::span<std::uint8_t> out) {
            ++reads;
            for (std::size_t i = 0; i < out.size(); ++i) {
                const std::uint64_t at = std::uint64_t(lba) * SIZE_OF_DISK_LOGICAL_BLOCK + i;
                out[i] = at < disk.size() ? disk[std::size_t(at)] : 0;
            }
            return count * SIZE_OF_DISK_LOGICAL_BLOCK == out.size();
        };
    }
};

bytes disk_of(std::vector<ecusim::raw_file> files, ecusim::byte_order o = ecusim::byte_order::big) {
    return ecusim::build_raw_disk(files, 7, o);
}

TEST(raw_header, reads_the_mark_high_byte_first_and_converts_only_from_the_ecu_order) {
    for (const auto order : {ecusim::byte_order::big, ecusim::byte_order::little}) {
        bytes block(512, 0);
        ecusim::put32(block, 64, 0x01020304, order);
        ecusim::put32(block, 132, 0xA0B0C0D0, order);
        block[208] = 0xBE;
        block[209] = 0xEF;
        // The simulator link's values are in host order (little-endian here).
        const header h = parse_header(block, order == ecusim::byte_order::little);
        EXPECT_EQ(h.mark, FILE_HEADER);
        EXPECT_EQ(h.fields.RFFH.file_index, 0x01020304u);
        EXPECT_EQ(h.fields.RFDH.number_of_files, 0xA0B0C0D0u);
    }
    EXPECT_EQ(parse_header(bytes(10, 0xFF), false).mark, 0u);  // short input reads as zeros
}

TEST(raw_walk, a_disk_claiming_more_files_than_it_holds_ends_at_the_first_empty_block) {
    image_reader image{disk_of({{bytes(100, 1)}, {bytes(100, 2)}})};
    ecusim::put32(image.disk, 132, 0xFFFFFFFF, ecusim::byte_order::big);
    recording_view view;
    disk_walk walk(image.reader(), false, view);
    EXPECT_EQ(walk.walk(16384).size(), 2u);
    EXPECT_THAT(view.messages, ElementsAre("LogTestDlg::LogtestGetdirlisting_RawFile FileHeader @ lba=00000007 "
                                           "number_of_logical_blocks=00000000 is not valid."));
    EXPECT_EQ(image.reads, 4u);
}

TEST(raw_walk, a_file_count_that_wraps_the_block_address_ends_the_walk) {
    image_reader image{disk_of({{bytes(100, 1)}})};
    ecusim::put32(image.disk, 512 + 68, 0xFFFFFFFF, ecusim::byte_order::big);
    recording_view view;
    disk_walk walk(image.reader(), false, view);
    walk.diagnostics = true;
    EXPECT_TRUE(walk.walk(16384).empty());
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_THAT(view.messages[0], ::testing::HasSubstr("number_of_logical_blocks=ffffffff is not valid."));
}

TEST(raw_walk, the_listing_stops_when_the_table_is_full) {
    std::vector<ecusim::raw_file> files(5, {bytes(10, 1)});
    image_reader image{disk_of(files)};
    recording_view view;
    disk_walk walk(image.reader(), false, view);
    EXPECT_EQ(walk.walk(3).size(), 3u);
}

TEST(raw_walk, find_counts_files_as_the_listing_does) {
    image_reader image{disk_of({{bytes(100, 1)}, {bytes(2000, 2)}, {bytes(100, 3)}})};
    recording_view view;
    disk_walk walk(image.reader(), false, view);
    file_entry found;
    std::string error;
    ASSERT_TRUE(walk.find(2, found, error));
    EXPECT_EQ(found.lba, 1u + 3 + 6);  // 100 bytes: 3 blocks; 2000 bytes: 6
    EXPECT_EQ(found.file.fields.RFFH.file_index, 3u);
    EXPECT_FALSE(walk.find(3, found, error));
    EXPECT_EQ(error, "LogTestDlg::OnBnClickedButtonLogtestReadandsave File 3 is not on the disk");
}

struct bad_group {
    std::uint32_t blocks;
    std::uint32_t size;
};

class raw_copy : public ::testing::TestWithParam<bad_group> {};

TEST_P(raw_copy, refuses_a_group_larger_than_one_response_or_a_size_beyond_its_blocks) {
    image_reader image{disk_of({{bytes(3000, 1)}})};
    ecusim::put32(image.disk, 1024 + 0, GetParam().size, ecusim::byte_order::big);
    ecusim::put32(image.disk, 1024 + 4, GetParam().blocks, ecusim::byte_order::big);
    bytes written;
    const std::string error = copy_file(
        image.reader(), false, 1, 0x100,
        [&](std::span<const std::uint8_t> b) {
            written.insert(written.end(), b.begin(), b.end());
            return true;
        },
        [](std::uint64_t, std::uint64_t) {});
    EXPECT_THAT(error, ::testing::EndsWith("is not valid."));
    EXPECT_TRUE(written.empty());
}

INSTANTIATE_TEST_SUITE_P(groups, raw_copy,
                         ::testing::Values(bad_group{8, 100}, bad_group{0xFFFFFFFF, 100}, bad_group{2, 1025},
                                           bad_group{0, 1}));

TEST(raw_copy_file, writes_each_groups_size_and_reports_progress_by_blocks) {
    const bytes data(5000, 0x5A);
    image_reader image{disk_of({{data}})};
    bytes written;
    std::vector<std::uint64_t> done;
    const std::string error = copy_file(
        image.reader(), false, 1, 13,
        [&](std::span<const std::uint8_t> b) {
            written.insert(written.end(), b.begin(), b.end());
            return true;
        },
        [&](std::uint64_t d, std::uint64_t total) {
            EXPECT_EQ(total, 13u);
            done.push_back(d);
        });
    EXPECT_EQ(error, "");
    EXPECT_EQ(written, data);
    EXPECT_THAT(done, ElementsAre(9u, 13u));
}

TEST(raw_prefix, is_in_the_ecu_order_or_in_host_order_over_the_simulator) {
    header h;
    h.fields.RFFH.cfgfile_version = 0x01020304;
    h.fields.RFFH.cfgfile_num_channels = 0xAABB0506;
    EXPECT_THAT(log_prefix(h, false), ElementsAre('Q', 'X', '-', 'C', 1, 2, 3, 4, 5, 6));
    EXPECT_THAT(log_prefix(h, true), ElementsAre('C', '-', 'X', 'Q', 4, 3, 2, 1, 6, 5));
}

}  // namespace
}  // namespace qx::raw_log
