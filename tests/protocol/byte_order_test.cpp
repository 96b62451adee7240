// Byte-order conversion: golden big-endian bytes, the element rule, items, headers, and the
// round trip over every structure.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "protocol/layout.h"
#include "protocol/status.h"
#include "protocol/structs.h"
#include "tests/protocol/block_builder.h"

namespace qx::protocol {
namespace {

using bytes = std::vector<std::uint8_t>;

TEST(convert, read_data_request_golden_bytes) {
    ReadDataRequest_TS r{};
    r.address = 0x11223344;
    r.access_size = 4;
    r.access_count = 0x0506;
    auto* p = reinterpret_cast<std::uint8_t*>(&r);
    p[5] = 0xEE;  // alignment byte: left as it is
    convert(*find_layout("ReadDataRequest_TS"), p, sizeof r);
    EXPECT_EQ(bytes(p, p + 8), (bytes{0x11, 0x22, 0x33, 0x44, 0x04, 0xEE, 0x05, 0x06}));
}

TEST(convert, status_string_response_golden_bytes) {
    testing::block b;
    b.put_u32(0, 0x71000003);
    b.descriptor(4, 1, 5);
    b.descriptor(12, 4, 2);
    ASSERT_EQ(set_pointers(*find_layout("GenericStatusStringResponse_DTS"), b.data(), b.size()), 0u);
    std::copy_n("hello", 5, b.bytes.begin() + 20);
    b.put_u32(28, 0x0A0B0C0D);
    b.put_u32(32, 0x01020304);
    convert(*find_layout("GenericStatusStringResponse_DTS"), b.data(), 36);
    const bytes expected{0x71, 0x00, 0x00, 0x03,                          // status
                         0x01, 0x00, 0x05, 0x00, 0x14, 0x00, 0x00, 0x00,  // str (slot stays host order)
                         0x04, 0x00, 0x02, 0x00, 0x1C, 0x00, 0x00, 0x00,  // inline data
                         'h',  'e',  'l',  'l',  'o',  0x00, 0x00, 0x00,  // the string is bytes
                         0x0A, 0x0B, 0x0C, 0x0D, 0x01, 0x02, 0x03, 0x04};
    EXPECT_EQ(bytes(b.bytes.begin(), b.bytes.begin() + 36), expected);
}

TEST(convert, elements_of_2_to_16_bytes_are_reversed_as_units_others_left) {
    for (int size : {1, 2, 3, 8, 16, 17, 20}) {
        const auto element_size = std::uint8_t(size);
        testing::block b;
        b.descriptor(0, element_size, 3);
        ASSERT_EQ(set_pointers(*find_layout("GenericArray_DTS"), b.data(), b.size()), 0u);
        for (int i = 0; i < 3 * element_size; ++i) b.bytes[8 + i] = std::uint8_t(i);
        const bytes before = b.bytes;
        convert(*find_layout("GenericArray_DTS"), b.data(), b.size());
        for (int e = 0; e < 3; ++e)
            for (int i = 0; i < element_size; ++i) {
                const int mirrored = (element_size >= 2 && element_size <= 16) ? element_size - 1 - i : i;
                EXPECT_EQ(b.bytes[8 + e * element_size + i], before[8 + e * element_size + mirrored])
                    << "element size " << int(element_size);
            }
    }
}

TEST(convert, arrays_outside_the_block_or_inside_the_fixed_part_are_not_touched) {
    testing::block b;
    b.descriptor(0, 4, 2);
    b.put_u32(4, 4000);  // elements would reach to 4008
    b.put_u32(4000, 0x01020304);
    const bytes before = b.bytes;
    convert(*find_layout("GenericArray_DTS"), b.data(), 4004);
    EXPECT_EQ(b.bytes, before);
    b.put_u32(4, 0);  // would overlap the descriptor itself
    const bytes before2 = b.bytes;
    convert(*find_layout("GenericArray_DTS"), b.data(), b.size());
    EXPECT_EQ(b.bytes, before2);
}

TEST(convert, scalars_past_the_given_size_are_left) {
    TargetVersionResponse_TS v{0x01020304, 0x05060708};
    auto* p = reinterpret_cast<std::uint8_t*>(&v);
    convert(*find_layout("TargetVersionResponse_TS"), p, 6);
    EXPECT_EQ(bytes(p, p + 8), (bytes{0x01, 0x02, 0x03, 0x04, 0x08, 0x07, 0x06, 0x05}));
}

TEST(convert_cfgitem, limiter_gets_the_header_only_unit_converter_its_word_too) {
    testing::block b;
    b.bytes[cfgitem_type_offset] = 13;
    b.put_u32(4, 0x11223344);  // item_size
    b.put_u16(30, 0x0102);     // outputChannel
    b.bytes[64] = 0x0F;        // Limiting flags (BYTE)
    b.put_u16(64 + 2, 0xAABB);
    convert_cfgitem(b.data(), 68);
    EXPECT_EQ(b.bytes[4], 0x11);
    EXPECT_EQ(b.bytes[30], 0x01);
    EXPECT_EQ(b.bytes[28], 13);
    EXPECT_EQ(b.bytes[64], 0x0F);
    EXPECT_EQ(b.bytes[66], 0xBB);  // no field there: untouched

    testing::block u;
    u.bytes[cfgitem_type_offset] = 16;
    u.put_u16(64, 0x0607);  // _conversion
    convert_cfgitem(u.data(), 68);
    EXPECT_EQ(u.bytes[64], 0x06);
    EXPECT_EQ(u.bytes[65], 0x07);
}

TEST(convert_header, exchanges_the_bytes_of_each_word) {
    CommandHeader_TS h{command_type(75), 0x0102, 0x0FF8, 0};
    convert_header(&h);
    auto* p = reinterpret_cast<std::uint8_t*>(&h);
    EXPECT_EQ(bytes(p, p + 8), (bytes{0xCD, 0x4B, 0x01, 0x02, 0x0F, 0xF8, 0x00, 0x00}));
}

TEST(convert_raw_file_full_header, dwords_reversed_words_exchanged_text_left) {
    std::vector<std::uint8_t> raw(512);
    for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = std::uint8_t(i * 7);
    const auto before = raw;
    convert_raw_file_full_header(raw.data());
    EXPECT_EQ(raw[0], before[3]);      // RFBH.size
    EXPECT_EQ(raw[64], before[67]);    // RFFH.file_index
    EXPECT_EQ(raw[96], before[96]);    // RFFH.file_prefix bytes
    EXPECT_EQ(raw[128], before[131]);  // RFDH.lba_of_last_file_opened
    EXPECT_EQ(raw[192], before[193]);  // header[0]
    EXPECT_EQ(raw[206], before[207]);  // header[7]
    EXPECT_TRUE(std::equal(raw.begin() + 208, raw.end(), before.begin() + 208));
    EXPECT_TRUE(std::equal(raw.begin() + 20, raw.begin() + 64, before.begin() + 20));
}

TEST(reverse_bytes, reverses_2_to_16_bytes_only) {
    for (std::size_t n = 0; n <= 18; ++n) {
        bytes v(n);
        for (std::size_t i = 0; i < n; ++i) v[i] = std::uint8_t(i + 1);
        bytes expected = v;
        if (n >= 2 && n <= 16) std::reverse(expected.begin(), expected.end());
        reverse_bytes(v.data(), n);
        EXPECT_EQ(v, expected) << n;
    }
}

// Random contents, random arrays: one conversion changes what holds multi-byte values, the
// second gives back every byte.
struct round_trip_case {
    const structure_layout* layout;
    std::uint8_t item_type;  // 0xFF: not an item
};

std::vector<round_trip_case> every_structure_and_item_type() {
    std::vector<round_trip_case> cases;
    for (const auto& l : all_layouts()) cases.push_back({&l, 0xFF});
    for (int t = 0; t < 40; ++t) cases.push_back({&cfgitem_layout(std::uint8_t(t)), std::uint8_t(t)});
    return cases;
}

class round_trip : public ::testing::TestWithParam<round_trip_case> {};

TEST_P(round_trip, converting_twice_restores_the_bytes) {
    const auto& c = GetParam();
    std::mt19937 rng(std::hash<std::string>{}(c.layout->name) + c.item_type);
    for (int trial = 0; trial < 20; ++trial) {
        bytes b(std::max<std::size_t>(c.layout->fixed_size, MAX_TRANSFERSTRUCTS_SIZE));
        for (auto& x : b) x = std::uint8_t(rng());
        const std::uint8_t sizes[] = {0, 1, 2, 3, 4, 8, 16, 20};
        for (const auto& a : c.layout->arrays)
            set_descriptor(b.data() + a.element_size_at, sizes[rng() % 8], std::uint16_t(rng() % 12));
        if (c.item_type != 0xFF) b[cfgitem_type_offset] = c.item_type;
        set_pointers(*c.layout, b.data(), b.size());
        if (!c.layout->scalars.empty()) {  // no palindrome in the first scalar
            const auto& first = c.layout->scalars.front();
            for (std::uint32_t i = 0; i < first.width; ++i) b[first.offset + i] = std::uint8_t(0x10 + i);
        }
        const bytes original = b;
        auto run = [&] {
            if (c.item_type != 0xFF) convert_cfgitem(b.data(), b.size());
            else convert(*c.layout, b.data(), b.size());
        };
        run();
        if (!c.layout->scalars.empty()) {
            EXPECT_NE(b, original) << c.layout->name;
        }
        run();
        ASSERT_EQ(b, original) << c.layout->name << " trial " << trial;
    }
}

INSTANTIATE_TEST_SUITE_P(convert, round_trip, ::testing::ValuesIn(every_structure_and_item_type()),
                         [](const auto& p) {
                             return p.param.item_type == 0xFF
                                        ? p.param.layout->name
                                        : "item_type_" + std::to_string(p.param.item_type);
                         });

}  // namespace
}  // namespace qx::protocol
