// Wire layout of the virtual ECU against hand-written structure bytes in both byte orders.
#include "ecusim/wire.h"

#include <gtest/gtest.h>

#include "tests/ecusim/wire_bytes.h"

namespace {

using namespace ecusim_test;
using ecusim::malformed_request;
using ecusim::request_arrays;
using ecusim::response_builder;

const char* order_name(const testing::TestParamInfo<byte_order>& p) {
    return p.param == byte_order::big ? "big" : "little";
}

// ConfigurationFindChannelByNameRequest_TS: channel_name descriptor at 0, flags at 8, fixed 12.
TEST(request_arrays, finds_the_channel_name_behind_the_fixed_part) {
    const bytes block = cat({{0x01, 0x00, 0x0C, 0x00}, {0xDE, 0xAD, 0xBE, 0xEF},  // sender's pointer: ignored
                             {0x00, 0x02, 0x00, 0x00}, text_bytes("LoggingMode"), {0x00}});
    const request_arrays a(block, 12, {0});
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].element_size, 1);
    EXPECT_EQ(a[0].count, 12);
    EXPECT_EQ(a[0].elements.data(), block.data() + 12);
    EXPECT_EQ(ecusim::array_text(a[0]), "LoggingMode");
    EXPECT_EQ(a.transfer_size(), 24u);
}

TEST(request_arrays, reads_the_count_high_byte_first) {
    bytes block = cat({{0x01, 0x01, 0x02, 0x00}, bytes(4, 0)});
    block.resize(8 + 0x0102, 0x41);
    const request_arrays a(block, 8, {0});
    EXPECT_EQ(a[0].count, 0x0102);
    EXPECT_EQ(a.transfer_size(), 8u + 258u);
}

// GenericStatusStringResponse_DTS shape: str at 4 (5 bytes), data at 12 (3 dwords): the
// text starts at 20, the dwords at 28 (offset 5 padded to 8), 40 bytes in all.
TEST(request_arrays, aligns_each_array_to_its_element_size) {
    const bytes block = cat({{0, 0, 0, 0}, {0x01, 0x00, 0x05, 0x00}, bytes(4, 0), {0x04, 0x00, 0x03, 0x00}, bytes(4, 0),
                             text_bytes("abcd"), {0x00}, {0xEE, 0xEE, 0xEE},
                             {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}});
    const request_arrays a(block, 20, {4, 12});
    EXPECT_EQ(a[0].elements.data(), block.data() + 20);
    EXPECT_EQ(a[1].elements.data(), block.data() + 28);
    EXPECT_EQ(a[1].elements.size(), 12u);
    EXPECT_EQ(a.transfer_size(), 40u);
}

// Security_BlockRequest_DTS: key0 at 8, key1 at 16, data (inline) at 40, fixed 48; an empty
// key takes no room.
TEST(request_arrays, lays_out_security_request_arrays_in_declaration_order_skipping_empty_ones) {
    bytes block(48, 0);
    block[8] = 1, block[10] = 3;   // key0: 3 bytes
    block[16] = 1;                 // key1: empty
    block[40] = 1, block[42] = 2;  // data: 2 bytes
    block.insert(block.end(), {0xA1, 0xA2, 0xA3, 0xD1, 0xD2});
    const request_arrays a(block, 48, {8, 16, 40});
    EXPECT_EQ(bytes(a[0].elements.begin(), a[0].elements.end()), (bytes{0xA1, 0xA2, 0xA3}));
    EXPECT_EQ(a[1].count, 0);
    EXPECT_TRUE(a[1].elements.empty());
    EXPECT_EQ(bytes(a[2].elements.begin(), a[2].elements.end()), (bytes{0xD1, 0xD2}));
    EXPECT_EQ(a.transfer_size(), 53u);
}

struct malformed_case {
    const char* name;
    bytes block;
    std::size_t fixed_size;
    std::vector<std::size_t> descriptors;
};

class request_arrays_malformed : public testing::TestWithParam<malformed_case> {};

TEST_P(request_arrays_malformed, raises_malformed_request) {
    const auto& c = GetParam();
    auto parse = [&] {
        if (c.descriptors.size() == 1) return request_arrays(c.block, c.fixed_size, {c.descriptors[0]});
        return request_arrays(c.block, c.fixed_size, {c.descriptors[0], c.descriptors[1]});
    };
    EXPECT_THROW(parse(), malformed_request);
}

INSTANTIATE_TEST_SUITE_P(
    wire, request_arrays_malformed,
    testing::Values(
        malformed_case{"shorter_than_fixed_part", bytes{0x01, 0x00, 0x00, 0x00, 0, 0, 0}, 8, {0}},
        malformed_case{"count_larger_than_bytes", cat({{0x01, 0x00, 0x03, 0x00}, bytes(4, 0), {'a', 'b'}}), 8, {0}},
        malformed_case{"huge_count_of_dwords", cat({{0x04, 0xFF, 0xFF, 0x00}, bytes(4, 0), bytes(64, 0)}), 8, {0}},
        malformed_case{"element_size_zero_with_elements", cat({{0x00, 0x00, 0x01, 0x00}, bytes(4, 0), bytes(8, 0)}), 8, {0}},
        // 1 byte, then a dword that only fits without its alignment gap.
        malformed_case{"alignment_gap_pushes_past_the_block",
                       cat({{0, 0, 0, 0}, {0x01, 0x00, 0x01, 0x00}, bytes(4, 0), {0x04, 0x00, 0x01, 0x00}, bytes(4, 0),
                            bytes(5, 0)}),
                       20,
                       {4, 12}}),
    [](const testing::TestParamInfo<malformed_case>& p) { return std::string(p.param.name); });

TEST(wire_fields, reads_beyond_the_bytes_raise_malformed_request) {
    const bytes b{1, 2, 3, 4, 5};
    EXPECT_THROW(ecusim::get32(b, 2, byte_order::big), malformed_request);
    EXPECT_THROW(ecusim::get16(b, 4, byte_order::little), malformed_request);
    EXPECT_THROW(ecusim::get32(b, std::size_t(-1), byte_order::big), malformed_request);
    EXPECT_EQ(ecusim::get32(b, 1, byte_order::big), 0x02030405u);
    EXPECT_EQ(ecusim::get32(b, 1, byte_order::little), 0x05040302u);
}

class response_bytes : public testing::TestWithParam<byte_order> {};

TEST_P(response_bytes, float_array_matches_generic_array_layout) {
    const byte_order o = GetParam();
    response_builder r(8, o);
    const float values[] = {1.0f, -2.5f};
    r.float_array(0, values);
    const bytes expected = o == byte_order::big
                               ? bytes{0x04, 0x00, 0x02, 0x00, 0, 0, 0, 0, 0x3F, 0x80, 0x00, 0x00, 0xC0, 0x20, 0x00, 0x00}
                               : bytes{0x04, 0x00, 0x02, 0x00, 0, 0, 0, 0, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x20, 0xC0};
    EXPECT_EQ(r.finish(), expected);
}

TEST_P(response_bytes, status_string_response_carries_status_and_terminated_text) {
    const byte_order o = GetParam();
    const bytes expected = cat({w32(0x50000002, o), {0x01, 0x00, 0x08, 0x00}, bytes(4, 0), {0x00, 0x00, 0x00, 0x00},
                                bytes(4, 0), text_bytes("Stopped"), {0x00}});
    EXPECT_EQ(ecusim::status_string_response(0x50000002, "Stopped", o), expected);
}

TEST_P(response_bytes, status_string_response_without_text_has_an_empty_str_array) {
    const byte_order o = GetParam();
    const bytes expected = cat({w32(0x71000006, o), {0x01, 0x00, 0x00, 0x00}, bytes(12, 0)});
    EXPECT_EQ(ecusim::status_string_response(0x71000006, "", o), expected);
}

// The 5-byte string and three dwords of the layout example: string at 20, dwords at 28.
TEST_P(response_bytes, builder_pads_the_variable_part_to_each_element_size) {
    const byte_order o = GetParam();
    response_builder r(20, o);
    r.u32(0, 0x11223344);
    r.text(4, "abcd");
    r.array(12, 4, bytes{0x04, 0x03, 0x02, 0x01, 0x0D, 0x0C, 0x0B, 0x0A, 0xCC, 0xDD, 0xEE, 0xFF});
    const bytes expected = cat({w32(0x11223344, o), {0x01, 0x00, 0x05, 0x00}, bytes(4, 0), {0x04, 0x00, 0x03, 0x00},
                                bytes(4, 0), text_bytes("abcd"), {0, 0, 0, 0}, w32(0x01020304, o), w32(0x0A0B0C0D, o),
                                w32(0xFFEEDDCC, o)});
    EXPECT_EQ(r.finish(), expected);
}

TEST_P(response_bytes, byte_array_response_keeps_bytes_in_order) {
    const bytes data{0x10, 0x20, 0x30};
    EXPECT_EQ(ecusim::byte_array_response(data, GetParam()), (bytes{0x01, 0x00, 0x03, 0x00, 0, 0, 0, 0, 0x10, 0x20, 0x30}));
}

TEST_P(response_bytes, reads_back_what_the_host_would_lay_out) {
    const byte_order o = GetParam();
    response_builder r(20, o);
    r.u32(0, 7);
    r.text(4, "fault");
    const std::uint16_t words[] = {0x0001, 0x00AB};
    r.u16_array(12, words);
    const bytes b = r.finish();
    const request_arrays a(b, 20, {4, 12});
    EXPECT_EQ(ecusim::array_text(a[0]), "fault");
    EXPECT_EQ(a.transfer_size(), b.size());
    EXPECT_EQ(r16(bytes(a[1].elements.begin(), a[1].elements.end()), 2, o), 0x00AB);
}

INSTANTIATE_TEST_SUITE_P(wire, response_bytes, testing::Values(byte_order::big, byte_order::little), order_name);

// Big-endian elements of 2 to 16 bytes are reversed as one unit; others stay as they are.
class element_reversal : public testing::TestWithParam<std::uint8_t> {};

TEST_P(element_reversal, big_endian_reverses_only_elements_of_2_to_16_bytes) {
    const std::uint8_t size = GetParam();
    bytes element(size);
    for (std::size_t i = 0; i < size; ++i) element[i] = std::uint8_t(i + 1);
    const bytes two = cat({element, element});
    response_builder r(8, byte_order::big);
    r.array(0, size, two);
    const bytes out = r.finish();
    bytes want = element;
    if (size >= 2 && size <= 16) want = bytes(element.rbegin(), element.rend());
    EXPECT_EQ(bytes(out.begin() + 8, out.end()), cat({want, want}));
    EXPECT_EQ(out[0], size);
    EXPECT_EQ(out[2], 2);
}

INSTANTIATE_TEST_SUITE_P(wire, element_reversal, testing::Values<std::uint8_t>(1, 2, 8, 16, 17, 20));

}  // namespace
