// Layout-2 chunk scans, and what released package buffers leave behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "pak/pak_file.h"
#include "tests/pak/pak_test_files.h"

namespace {

using namespace qx::test_support;
using pak_tests::stream_of;
using qx::pak_file;
using qx::pak_image;

std::string read2(const bytes& data, pak_file& h, pak_image& image) {
    auto stream = stream_of(data);
    try {
        h.read_layout2(stream, 0, image);
    } catch (const pak_file::exception& e) {
        return e.message;
    }
    return "";
}

std::string read2(const pak_spec& spec) {
    pak_file h;
    pak_image image;
    return read2(write_pak(spec).data, h, image);
}

pak_spec layout2() { return sample_pak_spec(2, "01020AFF", 0, 1, 3); }

// Where the content of the first chunk with `sub_tag` lies (after "GALF", sub-tag, length).
std::size_t content_of(const bytes& data, std::uint32_t sub_tag) {
    const std::uint8_t pattern[8] = {0x47, 0x41, 0x4C, 0x46, std::uint8_t(sub_tag), std::uint8_t(sub_tag >> 8),
                                     std::uint8_t(sub_tag >> 16), std::uint8_t(sub_tag >> 24)};
    const auto at = std::search(data.begin(), data.end(), std::begin(pattern), std::end(pattern));
    return std::size_t(at - data.begin()) + 12;
}

TEST(pak_chunks, an_unknown_chunk_before_csum_is_skipped_and_not_checksummed) {
    pak_spec spec = layout2();
    spec.second_scan.push_back(pak_chunk::unknown(0x4B4E5558, bytes(40, 0x77)));
    bytes data = write_pak(spec).data;
    pak_file h;
    pak_image image;
    ASSERT_EQ(read2(data, h, image), "");
    const std::size_t content = content_of(data, 0x4B4E5558);
    for (std::size_t i = 0; i < 40; ++i) data[content + i] = 0;
    EXPECT_EQ(read2(data, h, image), "");
    data[content - 1] ^= 1;  // its length word is counted (and now wrong)
    EXPECT_NE(read2(data, h, image), "");
}

TEST(pak_chunks, unknown_chunks_of_any_length_are_skipped) {
    for (std::size_t length : {std::size_t(0), std::size_t(999), std::size_t(1000), std::size_t(1001),
                               std::size_t(70000)}) {
        pak_spec spec = layout2();
        spec.first_scan.insert(spec.first_scan.begin(), pak_chunk::unknown(0x31313131, bytes(length, 0x41)));
        spec.second_scan.push_back(pak_chunk::unknown(0x32323232, bytes(length, 0x42)));
        EXPECT_EQ(read2(spec), "") << length;
    }
}

TEST(pak_chunks, an_unknown_chunk_longer_than_the_file_is_invalid) {
    pak_spec spec = layout2();
    pak_chunk huge = pak_chunk::unknown(0x33333333, bytes(16, 0));
    huge.length_word = 0xFFFFFFF0;
    spec.second_scan.push_back(huge);
    EXPECT_EQ(read2(spec), "Pak file invalid.");
}

// The sample's own description would follow as a later DESC chunk and take effect last.
pak_spec layout2_without_description() {
    pak_spec s = layout2();
    s.description.reset();
    return s;
}

TEST(pak_chunks, known_chunks_take_effect_in_either_scan) {
    pak_spec first = layout2_without_description();
    first.first_scan = {pak_chunk::flsh(1, 2), pak_chunk::desc("before"), pak_chunk::pver(3)};
    pak_file h;
    pak_image image;
    ASSERT_EQ(read2(write_pak(first).data, h, image), "");
    EXPECT_EQ(h.flash_word_0, 1u);
    EXPECT_EQ(h.flash_word_1, 2u);
    EXPECT_EQ(h.description, "before");

    pak_spec second = layout2_without_description();
    second.second_scan = {pak_chunk::pver(9), pak_chunk::desc("after"), pak_chunk::flsh(5, 6)};
    ASSERT_EQ(read2(write_pak(second).data, h, image), "");
    EXPECT_EQ(h.description, "after");
    EXPECT_EQ(h.flash_word_0, 5u);
    EXPECT_EQ(h.flash_word_1, 6u);
}

TEST(pak_chunks, a_later_known_chunk_overrides_an_earlier_one) {
    pak_spec spec = layout2();  // its own description comes as the last DESC chunk
    spec.first_scan = {pak_chunk::desc("first"), pak_chunk::flsh(1, 2), pak_chunk::pver()};
    spec.second_scan = {pak_chunk::flsh(3, 4)};
    pak_file h;
    pak_image image;
    ASSERT_EQ(read2(write_pak(spec).data, h, image), "");
    EXPECT_EQ(h.description, *spec.description);
    EXPECT_EQ(h.flash_word_0, 3u);
    EXPECT_EQ(h.flash_word_1, 4u);
}

// The checksum runs on through every chunk before PVER like any other bytes, so a package
// whose first chunk is not PVER still carries the plain CRC-32C of its bytes.
TEST(pak_chunks, chunks_before_pver_are_checksummed_as_plain_crc32c) {
    pak_spec spec = layout2();
    spec.first_scan = {pak_chunk::flsh(7, 8), pak_chunk::pver()};
    const pak_bytes written = write_pak(spec);
    pak_file h;
    pak_image image;
    ASSERT_EQ(read2(written.data, h, image), "");
    bytes zeroed = written.data;
    std::fill_n(zeroed.begin() + std::ptrdiff_t(*written.checksum_value_at), 4, 0);
    EXPECT_EQ(h.running_checksum, reference_crc32c(zeroed));
}

TEST(pak_chunks, missing_mandatory_chunks_are_invalid) {
    pak_spec no_pver = layout2();
    no_pver.first_scan.clear();
    EXPECT_EQ(read2(no_pver), "Pak file invalid.");

    pak_spec only_flash = layout2();
    only_flash.first_scan = {pak_chunk::flsh(1, 2)};  // the serial number follows where a chunk is due
    EXPECT_EQ(read2(only_flash), "Pak file invalid.");

    pak_spec no_csum = layout2();
    no_csum.checksum = false;
    EXPECT_EQ(read2(no_csum), "Pak file invalid.");

    pak_spec bad_flag = layout2();
    bad_flag.second_scan = {pak_chunk::desc("text")};
    bad_flag.second_scan[0].flag_word = 0x464C4148;
    EXPECT_EQ(read2(bad_flag), "Pak file invalid.");
}

TEST(pak_chunks, length_words_of_known_chunks_are_not_used) {
    pak_spec spec = layout2_without_description();
    spec.first_scan[0].length_word = 0x12345678;
    spec.second_scan = {pak_chunk::desc("described"), pak_chunk::flsh(5, 6), pak_chunk::csum()};
    spec.second_scan[0].length_word = 0;
    spec.second_scan[1].length_word = 0xFFFFFFFF;
    spec.second_scan[2].length_word = 1;
    spec.checksum = false;  // the CSUM chunk above ends the scan
    const pak_bytes written = write_pak(spec);
    pak_file h;
    pak_image image;
    ASSERT_EQ(read2(written.data, h, image), "");
    EXPECT_EQ(h.description, "described");
    EXPECT_EQ(h.flash_word_1, 6u);
    EXPECT_TRUE(h.has_checksum);
    EXPECT_EQ(h.stored_checksum, written.checksum);
}

TEST(pak_chunks, description_length_limits_apply_in_chunks) {
    pak_spec zero = layout2();
    zero.second_scan = {pak_chunk::desc("", 0)};
    EXPECT_EQ(read2(zero), "Pak file invalid.");
    pak_spec long_one = layout2();
    long_one.second_scan = {pak_chunk::desc(std::string(257, 'x'))};
    EXPECT_EQ(read2(long_one), "Pak file invalid.");
}

// What a released buffer holds just before it is freed.
struct released_buffer {
    std::size_t size;
    bool all_zero;
};
std::vector<released_buffer> released;

void observe(const std::uint8_t* data, std::size_t size) {
    released.push_back({size, std::all_of(data, data + size, [](std::uint8_t b) { return b == 0; })});
}

class pak_image_release : public ::testing::Test {
protected:
    void SetUp() override {
        released.clear();
        qx::set_pak_buffer_release_observer(observe);
    }
    void TearDown() override { qx::set_pak_buffer_release_observer(nullptr); }

    static void expect_three_zeroed_buffers() {
        ASSERT_EQ(released.size(), 3u);
        EXPECT_EQ(released[0].size, 300u);   // certificate
        EXPECT_EQ(released[1].size, 5u);     // aux data
        EXPECT_EQ(released[2].size, 2048u);  // image
        for (const auto& r : released) EXPECT_TRUE(r.all_zero);
    }

    // A read releases its read buffer, zeroed, as it ends; the image keeps its own.
    static void expect_the_read_buffer_alone() {
        ASSERT_EQ(released.size(), 1u);
        EXPECT_TRUE(released[0].all_zero);
        released.clear();
    }

    static pak_spec spec() {
        pak_spec s = layout2();
        s.aux_data = {1, 2, 3, 4, 5};
        return s;
    }
};

TEST_F(pak_image_release, zeroes_every_buffer_on_release) {
    pak_file h;
    pak_image image;
    ASSERT_EQ(read2(write_pak(spec()).data, h, image), "");
    expect_the_read_buffer_alone();
    image.release();
    expect_three_zeroed_buffers();
    for (const auto& block : image.key_blocks)
        EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(image.layout, 0u);
    EXPECT_EQ(image.certificate.size(), 0u);
}

TEST_F(pak_image_release, zeroes_every_buffer_on_destruction_and_on_a_new_read) {
    {
        pak_file h;
        pak_image image;
        ASSERT_EQ(read2(write_pak(spec()).data, h, image), "");
        expect_the_read_buffer_alone();
    }
    expect_three_zeroed_buffers();

    released.clear();
    pak_file h;
    pak_image image;
    ASSERT_EQ(read2(write_pak(spec()).data, h, image), "");
    expect_the_read_buffer_alone();
    EXPECT_NE(read2(bytes(10, 0), h, image), "");  // a failing read releases first, too
    ASSERT_EQ(released.size(), 4u);
    released.pop_back();  // its read buffer
    expect_three_zeroed_buffers();
}

// An image of megabytes lies in a mapping of its own: it is zeroed all the same.
TEST_F(pak_image_release, zeroes_an_image_of_megabytes) {
    pak_spec s = spec();
    s.image_data.assign(3 * 1024 * 1024, 0x5A);
    pak_file h;
    pak_image image;
    ASSERT_EQ(read2(write_pak(s).data, h, image), "");
    expect_the_read_buffer_alone();
    ASSERT_EQ(image.image_data.size(), s.image_data.size());
    EXPECT_TRUE(std::equal(s.image_data.begin(), s.image_data.end(), image.image_data.bytes().begin()));
    image.release();
    ASSERT_EQ(released.size(), 3u);
    EXPECT_EQ(released[2].size, s.image_data.size());
    EXPECT_TRUE(released[2].all_zero);
}

TEST_F(pak_image_release, a_failed_read_keeps_what_it_read_until_released) {
    pak_spec s = spec();
    s.key_block_size[3] = 127;
    pak_file h;
    pak_image image;
    EXPECT_EQ(read2(write_pak(s).data, h, image), "Pak file invalid.");
    expect_the_read_buffer_alone();
    EXPECT_EQ(h.layout, 2u);  // the header was complete
    EXPECT_EQ(image.layout, 0u);
    EXPECT_EQ(image.certificate.size(), 300u);
    image.release();
    ASSERT_EQ(released.size(), 2u);
    EXPECT_TRUE(released[0].all_zero && released[1].all_zero);
}

}  // namespace
