// Laying out the variable part: gaps, limits, results, and the bounds of the block.
#include <gtest/gtest.h>

#include "protocol/layout.h"
#include "protocol/status.h"
#include "tests/protocol/block_builder.h"

namespace qx::protocol {
namespace {

using testing::block;

const structure_layout& generic_array() { return *find_layout("GenericArray_DTS"); }
const structure_layout& status_string() { return *find_layout("GenericStatusStringResponse_DTS"); }

TEST(set_pointers, empty_generic_array_is_a_warning_and_leaves_the_pointer) {
    block b;
    b.put_u32(4, 0xA5A5A5A5);
    b.descriptor(0, 1, 0);
    EXPECT_EQ(set_pointers(generic_array(), b.data(), b.size()), TS_LAYOUT_EMPTY_ARRAY);
    EXPECT_EQ(b.u32(4), 0xA5A5A5A5u);
    EXPECT_EQ(transfer_size(generic_array(), b.data(), b.size()), 8);
}

TEST(set_pointers, generic_array_limit_is_4080_bytes) {
    block b;
    b.descriptor(0, 1, 4080);
    EXPECT_EQ(set_pointers(generic_array(), b.data(), b.size()), TS_LAYOUT_OK);
    EXPECT_EQ(b.u32(4), 8u);
    EXPECT_EQ(transfer_size(generic_array(), b.data(), b.size()), 4088);

    block big;
    big.bytes.resize(8192);
    big.descriptor(0, 1, 4081);
    EXPECT_EQ(set_pointers(generic_array(), big.data(), big.size()), TS_LAYOUT_ERROR);
    EXPECT_EQ(transfer_size(generic_array(), big.data(), big.size()), 4089);
}

TEST(set_pointers, string_then_dwords_are_placed_with_the_gap_rule) {
    block b;
    b.descriptor(4, 1, 5);   // str
    b.descriptor(12, 4, 3);  // trailing data
    EXPECT_EQ(set_pointers(status_string(), b.data(), b.size()), TS_LAYOUT_OK);
    EXPECT_EQ(b.u32(8), 20u);
    EXPECT_EQ(b.u32(16), 28u);
    EXPECT_EQ(transfer_size(status_string(), b.data(), b.size()), 40);
}

TEST(set_pointers, element_size_zero_with_a_count_is_an_error_and_size_zero) {
    block b;
    b.descriptor(0, 0, 3);
    EXPECT_EQ(set_pointers(generic_array(), b.data(), b.size()), TS_LAYOUT_ERROR);
    EXPECT_EQ(transfer_size(generic_array(), b.data(), b.size()), 0);
}

TEST(set_pointers, stops_at_the_failing_array_and_keeps_the_earlier_pointers) {
    block b;
    b.put_u32(16, 0x11111111);
    b.descriptor(4, 2, 3);
    b.descriptor(12, 0, 1);
    EXPECT_EQ(set_pointers(status_string(), b.data(), b.size()), TS_LAYOUT_ERROR);
    EXPECT_EQ(b.u32(8), 20u);
    EXPECT_EQ(b.u32(16), 0x11111111u);
}

TEST(set_pointers, count_bytes_are_high_byte_first) {
    block b;
    b.bytes[0] = 1;
    b.bytes[1] = 0x01;
    b.bytes[2] = 0x00;
    EXPECT_EQ(descriptor_count(b.data()), 256u);
    EXPECT_EQ(transfer_size(generic_array(), b.data(), b.size()), 8 + 256);
    set_descriptor(b.data(), 1, 0x0102);
    EXPECT_EQ(b.bytes[1], 0x01);
    EXPECT_EQ(b.bytes[2], 0x02);
}

TEST(set_pointers, base_offsets_and_reversed_pointers) {
    block b;
    b.descriptor(0, 2, 4);
    EXPECT_EQ(set_pointers(generic_array(), b.data(), b.size(), 0x100, false), TS_LAYOUT_OK);
    EXPECT_EQ(b.u32(4), 0x108u);
    EXPECT_EQ(set_pointers(generic_array(), b.data(), b.size(), 0, true), TS_LAYOUT_OK);
    EXPECT_EQ(b.u32(4), 0x08000000u);
}

TEST(set_pointers, three_sample_arrays_each_start_on_their_element_size) {
    const structure_layout& l = *find_layout("FrequencySampleResponse_TS");
    block b;
    b.descriptor(4, 1, 3);
    b.descriptor(12, 2, 1);
    b.descriptor(20, 4, 2);
    EXPECT_EQ(set_pointers(l, b.data(), b.size()), TS_LAYOUT_OK);
    EXPECT_EQ(b.u32(8), 28u);
    EXPECT_EQ(b.u32(16), 28u + 4);
    EXPECT_EQ(b.u32(24), 28u + 8);
    EXPECT_EQ(transfer_size(l, b.data(), b.size()), 28 + 16);
}

// Routines never reach past the bytes they are given.
TEST(set_pointers, array_reaching_past_the_block_is_an_error) {
    block b;
    b.descriptor(4, 1, 5);
    b.descriptor(12, 4, 3);
    EXPECT_EQ(set_pointers(status_string(), b.data(), 39), TS_LAYOUT_ERROR);
    EXPECT_EQ(set_pointers(status_string(), b.data(), 40), TS_LAYOUT_OK);
    EXPECT_EQ(set_pointers(status_string(), b.data(), 19), TS_LAYOUT_ERROR);
}

TEST(transfer_size, a_size_that_would_wrap_16_bits_saturates) {
    block b;
    b.descriptor(0, 4, 0x4000);  // 8 + 65536 bytes
    EXPECT_EQ(transfer_size(generic_array(), b.data(), b.size()), 0xFFFF);
    EXPECT_EQ(set_pointers(generic_array(), b.data(), b.size()), TS_LAYOUT_ERROR);
    b.descriptor(0, 0xFF, 0xFFFF);  // counts are computed wide: no wrap to a small size
    EXPECT_EQ(transfer_size(generic_array(), b.data(), b.size()), 0xFFFF);
    EXPECT_EQ(set_pointers(generic_array(), b.data(), b.size()), TS_LAYOUT_ERROR);
}

TEST(transfer_size, fixed_structures_are_their_fixed_size) {
    block b;
    EXPECT_EQ(transfer_size(*find_layout("ReadDataRequest_TS"), b.data(), b.size()), 8);
    EXPECT_EQ(set_pointers(*find_layout("ReadDataRequest_TS"), b.data(), 0), TS_LAYOUT_OK);
    EXPECT_EQ(transfer_size(*find_layout("Security_BlockRequest_DTS"), b.data(), 10), 0);
}

TEST(cfgitem, dispatch_follows_the_type_byte) {
    block b;
    b.bytes[cfgitem_type_offset] = 7;  // 1-axis table
    b.descriptor(32, 1, 6);            // channel_name
    b.descriptor(64, 4, 4);            // axis_points
    b.descriptor(86, 4, 4);            // data
    EXPECT_EQ(set_pointers_cfgitem(b.data(), b.size()), TS_LAYOUT_EMPTY_ARRAY);
    EXPECT_EQ(b.u32(36), 96u);
    EXPECT_EQ(b.u32(68), 104u);  // 6 bytes padded to 8
    EXPECT_EQ(b.u32(92), 120u);
    EXPECT_EQ(transfer_size_cfgitem(b.data(), b.size()), 136);
    EXPECT_EQ(cfgitem_layout_of(b.data(), 20).name, "ConfigurationItemHeader_TS");
}

}  // namespace
}  // namespace qx::protocol
