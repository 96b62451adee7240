#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <typeindex>
#include <vector>

#include "pak/pak_file.h"
#include "tests/pak/pak_test_files.h"

namespace {

using namespace qx::test_support;
using pak_tests::stream_of;
using qx::pak_file;
using qx::pak_image;

// "" when the read succeeds, else the message; the class must be one of the reader's.
std::string read_message(std::uint32_t layout, const bytes& data, pak_file& header, pak_image& image,
                         std::streamoff position = 0) {
    auto stream = stream_of(data);
    try {
        if (layout == 1)
            header.read_layout1(stream, position, image);
        else
            header.read_layout2(stream, position, image);
    } catch (const pak_file::exception& e) {
        return e.message;
    }
    return "";
}

std::string read_message(std::uint32_t layout, const bytes& data) {
    pak_file header;
    pak_image image;
    return read_message(layout, data, header, image);
}

std::string read_message(const pak_spec& spec) { return read_message(spec.layout, write_pak(spec).data); }

pak_spec full_spec(std::uint32_t layout) {
    pak_spec s = sample_pak_spec(layout, "01020AFF", 2, 3, 5);
    s.author = "Service Team";
    s.date = "2024-05-17 08:30:00 CEST";
    s.description = "Dynamic model data";
    s.aux_data = {9, 8, 7};
    s.reserved = 0xDEADBEEF;
    if (layout == 2) s.flash = std::pair{0x11223344u, 0x55667788u};
    return s;
}

class both_layouts : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(both_layouts, reads_every_field_and_stops_right_after_the_image) {
    const pak_spec spec = full_spec(GetParam());
    pak_bytes written = write_pak(spec);
    const std::size_t end = written.data.size();
    written.data.insert(written.data.end(), {1, 2, 3, 4});  // not part of the package
    auto stream = stream_of(written.data);
    pak_file h;
    pak_image image;
    if (GetParam() == 1)
        h.read_layout1(stream, 0, image);
    else
        h.read_layout2(stream, 0, image);

    EXPECT_EQ(h.layout, GetParam());
    EXPECT_EQ(image.layout, GetParam());
    EXPECT_EQ(h.serial_number, "01020AFF");
    EXPECT_EQ(h.author, spec.author);
    EXPECT_EQ(h.date, spec.date);
    EXPECT_EQ(h.description, "Dynamic model data");
    EXPECT_EQ(h.image_type, 2u);
    EXPECT_EQ(h.version, 102u);
    EXPECT_TRUE(h.has_checksum);
    EXPECT_EQ(h.stored_checksum, written.checksum);
    EXPECT_EQ(h.running_checksum, written.checksum);
    EXPECT_EQ(h.flash_word_0, GetParam() == 2 ? 0x11223344u : 0u);
    EXPECT_EQ(h.flash_word_1, GetParam() == 2 ? 0x55667788u : 0u);
    EXPECT_EQ(h.body_position, GetParam() == 1 ? std::streamoff(written.body_at) : 0);
    EXPECT_EQ(bytes(image.certificate.bytes().begin(), image.certificate.bytes().end()), spec.certificate);
    EXPECT_EQ(bytes(image.aux_data.bytes().begin(), image.aux_data.bytes().end()), spec.aux_data);
    EXPECT_EQ(image.key_blocks, spec.key_blocks);
    EXPECT_EQ(bytes(image.image_data.bytes().begin(), image.image_data.bytes().end()), spec.image_data);
    EXPECT_EQ(std::streamoff(stream.tellg()), std::streamoff(end));
}

TEST_P(both_layouts, reads_a_package_at_a_position_inside_a_stream) {
    const pak_bytes written = write_pak(full_spec(GetParam()));
    bytes data = written.data;
    data.insert(data.begin(), 37, std::uint8_t(0xEE));
    pak_file h;
    pak_image image;
    EXPECT_EQ(read_message(GetParam(), data, h, image, 37), "");
    EXPECT_EQ(h.running_checksum, written.checksum);
}

TEST_P(both_layouts, a_wrong_stored_checksum_is_a_checksum_error) {
    pak_spec spec = full_spec(GetParam());
    spec.stored_checksum = write_pak(spec).checksum ^ 1;
    pak_file h;
    pak_image image;
    auto stream = stream_of(write_pak(spec).data);
    try {
        if (GetParam() == 1)
            h.read_layout1(stream, 0, image);
        else
            h.read_layout2(stream, 0, image);
        FAIL() << "no exception";
    } catch (const pak_file::exception_invalid& e) {
        EXPECT_EQ(e.message, "Pak file checksum error.");
    }
    EXPECT_EQ(image.layout, 0u);
}

// Every byte outside the content of unknown chunks is covered: changing it fails the read.
TEST_P(both_layouts, changing_any_covered_byte_fails_the_read) {
    pak_spec spec = full_spec(GetParam());
    spec.image_data.resize(2048);
    const pak_bytes written = write_pak(spec);
    for (std::size_t i = 0; i < written.data.size(); ++i) {
        bytes changed = written.data;
        changed[i] ^= 0x20;
        const std::string message = read_message(GetParam(), changed);
        EXPECT_TRUE(message == "Pak file checksum error." || message == "Pak file invalid.") << i << ": " << message;
    }
}

// The body's contents (all but its size words) are only caught by the checksum.
TEST_P(both_layouts, changing_any_content_byte_of_the_body_is_a_checksum_error) {
    pak_spec spec = full_spec(GetParam());
    spec.image_data.resize(2048);
    const pak_bytes written = write_pak(spec);
    std::vector<std::size_t> size_words = {written.body_at, written.body_at + 4 + spec.certificate.size()};
    std::size_t key_size_at = size_words.back() + 4 + spec.aux_data.size() + 4;
    for (std::size_t i = 0; i < 5; ++i, key_size_at += 4 + 128) size_words.push_back(key_size_at);
    size_words.push_back(written.image_at - 4);
    ASSERT_EQ(key_size_at, written.image_at - 4);
    for (std::size_t i = written.body_at; i < written.data.size(); ++i) {
        if (std::any_of(size_words.begin(), size_words.end(), [i](std::size_t at) { return i >= at && i < at + 4; }))
            continue;
        bytes changed = written.data;
        changed[i] ^= 0x01;
        ASSERT_EQ(read_message(GetParam(), changed), "Pak file checksum error.") << i;
    }
}

TEST_P(both_layouts, truncation_at_every_byte_is_invalid) {
    pak_spec spec = full_spec(GetParam());
    spec.image_data.resize(2048);
    const bytes data = write_pak(spec).data;
    for (std::size_t cut = 0; cut < data.size(); ++cut)
        ASSERT_EQ(read_message(GetParam(), bytes(data.begin(), data.begin() + std::ptrdiff_t(cut))), "Pak file invalid.")
            << cut;
    EXPECT_EQ(read_message(GetParam(), data), "");
}

TEST_P(both_layouts, an_image_of_size_zero_reads_as_empty) {
    pak_spec spec = full_spec(GetParam());
    spec.image_data.clear();
    pak_file h;
    pak_image image;
    EXPECT_EQ(read_message(GetParam(), write_pak(spec).data, h, image), "");
    EXPECT_EQ(image.image_data.size(), 0u);
    EXPECT_EQ(image.layout, GetParam());
}

TEST_P(both_layouts, reading_again_forgets_the_previous_package) {
    pak_file h;
    pak_image image;
    ASSERT_EQ(read_message(GetParam(), write_pak(full_spec(GetParam())).data, h, image), "");
    pak_spec plain = sample_pak_spec(GetParam(), "ABC", 0, 1);
    plain.description.reset();
    plain.aux_data.clear();
    ASSERT_EQ(read_message(GetParam(), write_pak(plain).data, h, image), "");
    EXPECT_EQ(h.serial_number, "ABC");
    EXPECT_EQ(h.description, "");
    EXPECT_EQ(h.flash_word_0, 0u);
    EXPECT_EQ(image.aux_data.size(), 0u);
    EXPECT_EQ(image.image_data.size(), 2048u);
}

INSTANTIATE_TEST_SUITE_P(layout, both_layouts, ::testing::Values(1u, 2u),
                         [](const ::testing::TestParamInfo<std::uint32_t>& p) { return "layout" + std::to_string(p.param); });

// A corruption of one field and whether the read must accept it.
struct field_case {
    const char* name;
    void (*change)(pak_spec&);
    bool accepted;
};

class field_limits : public ::testing::TestWithParam<std::tuple<std::uint32_t, field_case>> {};

TEST_P(field_limits, accepts_or_rejects_as_pak_file_invalid) {
    pak_spec spec = full_spec(std::get<0>(GetParam()));
    std::get<1>(GetParam()).change(spec);
    EXPECT_EQ(read_message(spec), std::get<1>(GetParam()).accepted ? "" : "Pak file invalid.");
}

INSTANTIATE_TEST_SUITE_P(
    lengths, field_limits,
    ::testing::Combine(
        ::testing::Values(1u, 2u),
        ::testing::Values(
            field_case{"author_0", [](pak_spec& s) { s.author = ""; }, false},
            field_case{"author_1", [](pak_spec& s) { s.author = "A"; }, true},
            field_case{"author_64", [](pak_spec& s) { s.author = std::string(64, 'a'); }, true},
            field_case{"author_65", [](pak_spec& s) { s.author = std::string(65, 'a'); }, false},
            field_case{"date_19", [](pak_spec& s) { s.date = std::string(19, 'd'); }, false},
            field_case{"date_20", [](pak_spec& s) { s.date = std::string(20, 'd'); }, true},
            field_case{"date_256", [](pak_spec& s) { s.date = std::string(256, 'd'); }, true},
            field_case{"date_257", [](pak_spec& s) { s.date = std::string(257, 'd'); }, false},
            field_case{"description_0", [](pak_spec& s) { s.description = ""; }, false},
            field_case{"description_1", [](pak_spec& s) { s.description = "x"; }, true},
            field_case{"description_256", [](pak_spec& s) { s.description = std::string(256, 'x'); }, true},
            field_case{"description_257", [](pak_spec& s) { s.description = std::string(257, 'x'); }, false},
            field_case{"key_block_0_127", [](pak_spec& s) { s.key_block_size[0] = 127; }, false},
            field_case{"key_block_4_129", [](pak_spec& s) { s.key_block_size[4] = 129; }, false},
            field_case{"key_block_2_0", [](pak_spec& s) { s.key_block_size[2] = 0; }, false},
            field_case{"image_size_2049", [](pak_spec& s) { s.image_data.resize(2049); }, false},
            field_case{"image_size_1024", [](pak_spec& s) { s.image_data.resize(1024); }, false},
            field_case{"image_size_4096", [](pak_spec& s) { s.image_data.resize(4096); }, true},
            field_case{"empty_certificate", [](pak_spec& s) { s.certificate.clear(); }, true})),
    [](const ::testing::TestParamInfo<std::tuple<std::uint32_t, field_case>>& p) {
        return "layout" + std::to_string(std::get<0>(p.param)) + "_" + std::get<1>(p.param).name;
    });

// Sizes larger than the rest of the file are refused before a buffer is allocated.
class hostile_sizes : public ::testing::TestWithParam<std::tuple<std::uint32_t, int>> {};

TEST_P(hostile_sizes, are_invalid_without_allocating) {
    pak_spec spec = full_spec(std::get<0>(GetParam()));
    switch (std::get<1>(GetParam())) {
    case 0: spec.certificate_size = 0xFFFFFFFF; break;
    case 1: spec.aux_size = 0x80000000; break;
    case 2: spec.image_size = 0xFFFFF800; break;
    default: spec.certificate_size = std::uint32_t(spec.certificate.size() + spec.aux_data.size() + 4000000); break;
    }
    pak_file h;
    pak_image image;
    auto stream = stream_of(write_pak(spec).data);
    try {
        if (std::get<0>(GetParam()) == 1)
            h.read_layout1(stream, 0, image);
        else
            h.read_layout2(stream, 0, image);
        FAIL() << "no exception";
    } catch (const pak_file::exception_invalid& e) {
        EXPECT_EQ(e.message, "Pak file invalid.");
    }
    EXPECT_EQ(image.image_data.size(), 0u);
    EXPECT_LE(image.certificate.size(), spec.certificate.size());
    EXPECT_LE(image.aux_data.size(), spec.aux_data.size());
    EXPECT_TRUE(stream.eof());  // as a short read would leave it
}

INSTANTIATE_TEST_SUITE_P(sizes, hostile_sizes, ::testing::Combine(::testing::Values(1u, 2u), ::testing::Range(0, 4)));

TEST(pak_file_layout1, without_optional_chunks_reads_with_no_version_description_or_check) {
    pak_spec spec = sample_pak_spec(1, "01020AFF", 1);
    spec.version.reset();
    spec.description.reset();
    spec.checksum = false;
    bytes data = write_pak(spec).data;
    data[data.size() - 1] ^= 0xFF;  // nothing checks the image
    pak_file h;
    pak_image image;
    ASSERT_EQ(read_message(1, data, h, image), "");
    EXPECT_EQ(h.version, 0u);
    EXPECT_EQ(h.description, "");
    EXPECT_FALSE(h.has_checksum);
    EXPECT_EQ(image.layout, 1u);
}

// Absent optional chunks are peeked at and not counted, whichever of them are missing.
class layout1_optional_chunks : public ::testing::TestWithParam<std::tuple<bool, bool>> {};

TEST_P(layout1_optional_chunks, any_of_them_may_be_absent_and_the_checksum_still_passes) {
    const auto [with_version, with_description] = GetParam();
    pak_spec spec = full_spec(1);
    if (!with_version) spec.version.reset();
    if (!with_description) spec.description.reset();
    const pak_bytes written = write_pak(spec);
    pak_file h;
    pak_image image;
    ASSERT_EQ(read_message(1, written.data, h, image), "");
    EXPECT_EQ(h.version, with_version ? 102u : 0u);
    EXPECT_EQ(h.description, with_description ? "Dynamic model data" : "");
    EXPECT_TRUE(h.has_checksum);
    EXPECT_EQ(h.running_checksum, written.checksum);
    EXPECT_EQ(h.body_position, std::streamoff(written.body_at));
}

INSTANTIATE_TEST_SUITE_P(chunks, layout1_optional_chunks, ::testing::Combine(::testing::Bool(), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<bool, bool>>& p) {
                             return std::string(std::get<0>(p.param) ? "vers" : "no_vers") +
                                    (std::get<1>(p.param) ? "_desc" : "_no_desc");
                         });

TEST(pak_file_layout1, checksum_is_crc32c_of_the_bytes_with_the_stored_value_as_zeros) {
    const pak_bytes written = write_pak(full_spec(1));
    bytes zeroed = written.data;
    std::memset(zeroed.data() + *written.checksum_value_at, 0, 4);
    pak_file h;
    pak_image image;
    ASSERT_EQ(read_message(1, written.data, h, image), "");
    EXPECT_EQ(h.running_checksum, reference_crc32c(zeroed));
}

TEST(pak_file_layout1, optional_chunks_in_another_order_are_not_recognised) {
    pak_spec spec = full_spec(1);
    spec.description.reset();
    pak_bytes written = write_pak(spec);
    // A DESC chunk placed after CSUM is read as the certificate size.
    bytes desc = {0x43, 0x53, 0x45, 0x44, 1, 0, 0, 0, 'x'};
    written.data.insert(written.data.begin() + std::ptrdiff_t(written.body_at), desc.begin(), desc.end());
    EXPECT_EQ(read_message(1, written.data), "Pak file invalid.");
}

struct serial_case {
    const char* name;
    std::array<std::uint8_t, 8> field;
    const char* expected;
};

class serial_field : public ::testing::TestWithParam<serial_case> {};

TEST_P(serial_field, ends_at_the_first_zero_byte) {
    for (std::uint32_t layout : {1u, 2u}) {
        pak_spec spec = sample_pak_spec(layout, "", 0, 1);
        spec.serial_bytes = GetParam().field;
        pak_file h;
        pak_image image;
        ASSERT_EQ(read_message(layout, write_pak(spec).data, h, image), "");
        EXPECT_EQ(h.serial_number, GetParam().expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    serials, serial_field,
    ::testing::Values(serial_case{"eight_characters", {'0', '1', '0', '2', '0', 'A', 'F', 'F'}, "01020AFF"},
                      serial_case{"three_letters", {'A', 'B', 'C', 0, 0, 0, 0, 0}, "ABC"},
                      serial_case{"zero_inside", {'A', 'B', 0, 'C', 'D', 0, 0, 0}, "AB"},
                      serial_case{"empty", {0, 0, 0, 0, 0, 0, 0, 0}, ""}),
    [](const ::testing::TestParamInfo<serial_case>& p) { return std::string(p.param.name); });

TEST(pak_file_texts, end_at_their_first_zero_byte) {
    pak_spec spec = full_spec(2);
    spec.author = std::string("Velmar\0junk", 11);
    spec.date = std::string("2024-01-01 00:00:00\0trailing", 28);
    pak_file h;
    pak_image image;
    ASSERT_EQ(read_message(2, write_pak(spec).data, h, image), "");
    EXPECT_EQ(h.author, "Velmar");
    EXPECT_EQ(h.date, "2024-01-01 00:00:00");
}

TEST(pak_file_fallback, a_layout1_package_fails_layout2_and_then_reads_as_layout1) {
    const bytes data = write_pak(full_spec(1)).data;
    auto stream = stream_of(data);
    pak_file h;
    pak_image image;
    EXPECT_THROW(h.read_layout2(stream, 0, image), pak_file::exception_invalid);
    EXPECT_EQ(h.layout, 0u);
    h.read_layout1(stream, 0, image);
    EXPECT_EQ(h.layout, 1u);
    EXPECT_EQ(image.layout, 1u);
}

TEST(pak_file_position, outside_the_stream_is_out_of_bounds) {
    const bytes data = write_pak(full_spec(2)).data;
    for (std::streamoff position : {std::streamoff(data.size() + 1), std::streamoff(-1)}) {
        auto stream = stream_of(data);
        pak_file h;
        pak_image image;
        try {
            h.read_layout2(stream, position, image);
            FAIL() << "no exception";
        } catch (const pak_file::exception_out_of_bounds& e) {
            EXPECT_EQ(e.message, "Position in file is invalid.");
        }
    }
}

class pak_file_files : public pak_tests::temp_folder {};

TEST_F(pak_file_files, a_stream_that_is_not_open_is_file_not_found) {
    std::ifstream closed;
    pak_file h;
    pak_image image;
    try {
        h.read_layout1(closed, 0, image);
        FAIL() << "no exception";
    } catch (const pak_file::exception_file_not_found& e) {
        EXPECT_EQ(e.message, "File not opened.");
    }
}

TEST_F(pak_file_files, a_missing_file_names_its_path) {
    const std::string path = missing("absent.pak");
    pak_file h;
    pak_image image;
    for (auto load : {&pak_file::load_layout1, &pak_file::load_layout2}) {
        try {
            (h.*load)(path, image);
            FAIL() << "no exception";
        } catch (const pak_file::exception_file_not_found& e) {
            EXPECT_EQ(e.message, "Cannot open pak file '" + path + "'.");
        }
    }
}

TEST_F(pak_file_files, loads_both_layouts_from_files) {
    pak_file h;
    pak_image image;
    h.load_layout2(file("two.pak", write_pak(full_spec(2)).data), image);
    EXPECT_EQ(image.layout, 2u);
    const std::string one = file("one.pak", write_pak(full_spec(1)).data);
    EXPECT_THROW(h.load_layout2(one, image), pak_file::exception_invalid);
    h.load_layout1(one, image);
    EXPECT_EQ(image.layout, 1u);
    EXPECT_EQ(image.image_data.size(), 3u * 2048);
}

}  // namespace

namespace {

// A body larger than the reader's pieces, read whole and checked without keeping it: both
// must agree on every outcome, and the kept image must be the written one.
struct large_body_case {
    const char* name;
    void (*corrupt)(pak_bytes& written);
};

class large_body : public ::testing::TestWithParam<std::tuple<std::uint32_t, large_body_case>> {};

TEST_P(large_body, reading_and_checking_agree) {
    const auto& [layout, c] = GetParam();
    const pak_spec spec = sample_pak_spec(layout, "01020AFF", 1, 1100, 9);  // 2.2 MB of image
    pak_bytes written = write_pak(spec);
    c.corrupt(written);

    pak_file read_header;
    pak_image image;
    const std::string read = read_message(layout, written.data, read_header, image);

    pak_file checked_header;
    qx::pak_body_sizes sizes;
    std::string checked;
    auto stream = stream_of(written.data);
    try {
        if (layout == 1)
            checked_header.check_layout1(stream, 0, sizes);
        else
            checked_header.check_layout2(stream, 0, sizes);
    } catch (const pak_file::exception& e) {
        checked = e.message;
    }

    EXPECT_EQ(checked, read);
    EXPECT_EQ(checked_header.running_checksum, read_header.running_checksum);
    EXPECT_EQ(checked_header.author, read_header.author);
    if (!read.empty()) return;
    EXPECT_EQ(sizes.certificate, image.certificate.size());
    EXPECT_EQ(sizes.aux_data, image.aux_data.size());
    EXPECT_EQ(sizes.image_data, image.image_data.size());
    const auto kept = image.image_data.bytes();
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), spec.image_data.begin(), spec.image_data.end()));
}

const large_body_case large_body_cases[] = {
    {"intact", [](pak_bytes&) {}},
    {"byte_flipped_in_a_later_piece", [](pak_bytes& w) { w.data[w.image_at + 2'000'000] ^= 0x40; }},
    {"last_byte_missing", [](pak_bytes& w) { w.data.pop_back(); }},
};

INSTANTIATE_TEST_SUITE_P(pak_file, large_body,
                         ::testing::Combine(::testing::Values(1u, 2u), ::testing::ValuesIn(large_body_cases)),
                         [](const auto& p) {
                             return "layout" + std::to_string(std::get<0>(p.param)) + "_" +
                                    std::get<1>(p.param).name;
                         });

}  // namespace
