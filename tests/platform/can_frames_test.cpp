// CAN frames on the virtual bus and on SocketCAN, and the acceptance filter. The SocketCAN
// back-end meets a kernel only in scripts/vm-test.sh; here it is held to its frame mapping.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "platform/can/can_frames.h"

namespace qx::platform::can {
namespace {

can_message message(std::uint32_t id, std::uint8_t format, std::vector<std::uint8_t> data) {
    can_message m;
    m.id = id;
    m.frame_format = format;
    m.data_length = std::uint8_t(data.size());
    std::copy(data.begin(), data.end(), m.data);
    return m;
}

bool same(const can_message& a, const can_message& b) {
    return a.id == b.id && a.frame_format == b.frame_format && a.data_length == b.data_length &&
           std::equal(a.data, a.data + 8, b.data);
}

struct bus_case {
    can_message m;
    std::array<std::uint8_t, 16> image;
};

class bus_messages : public ::testing::TestWithParam<bus_case> {};

TEST_P(bus_messages, encode_to_the_16_byte_image_and_decode_back) {
    std::array<std::uint8_t, bus_message_size> image{};
    image.fill(0xEE);
    encode_bus_message(GetParam().m, image);
    EXPECT_EQ(image, GetParam().image);
    const auto back = decode_bus_message(image);
    ASSERT_TRUE(back);
    EXPECT_TRUE(same(*back, GetParam().m));
}

INSTANTIATE_TEST_SUITE_P(
    frames, bus_messages,
    ::testing::Values(bus_case{message(0x16666667, frame_format_extended, {1, 2, 3, 4, 5, 6, 7, 8}),
                               {0x67, 0x66, 0x66, 0x96, 8, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8}},
                      bus_case{message(0x123, 0, {0xAA, 0xBB, 0xCC}),
                               {0x23, 0x01, 0, 0, 3, 0, 0, 0, 0xAA, 0xBB, 0xCC, 0, 0, 0, 0, 0}},
                      bus_case{message(0x1FFFFFFF, frame_format_extended | frame_format_remote, {}),
                               {0xFF, 0xFF, 0xFF, 0xDF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}));

class malformed_bus_messages : public ::testing::TestWithParam<std::vector<std::uint8_t>> {};

TEST_P(malformed_bus_messages, are_no_frames) { EXPECT_FALSE(decode_bus_message(GetParam())); }

std::vector<std::uint8_t> good_image() { return {0x67, 0x66, 0x66, 0x96, 8, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8}; }
std::vector<std::uint8_t> with(std::size_t at, std::uint8_t v) {
    auto b = good_image();
    b[at] = v;
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    images, malformed_bus_messages,
    ::testing::Values(std::vector<std::uint8_t>(15, 0), std::vector<std::uint8_t>(17, 0), with(4, 9), with(5, 1),
                      with(7, 0x80), with(3, 0xB6) /* error-frame bit */,
                      std::vector<std::uint8_t>{0x00, 0x08, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}
                      /* an 11-bit identifier above 0x7FF */));

TEST(can_messages, only_lengths_up_to_8_and_identifiers_in_range_are_sendable) {
    EXPECT_TRUE(sendable(message(0x1FFFFFFF, frame_format_extended, {1})));
    EXPECT_FALSE(sendable(message(0x20000000, frame_format_extended, {1})));
    EXPECT_TRUE(sendable(message(0x7FF, 0, {})));
    EXPECT_FALSE(sendable(message(0x800, 0, {})));
    can_message long_one = message(1, 0, {});
    long_one.data_length = 9;
    EXPECT_FALSE(sendable(long_one));
}

// The link's filter: code 0xB3333338 (0x16666667 << 3), mask 7.
can_init_parameters link_filter() {
    can_init_parameters p;
    p.acceptance_code = 0xB3333338;
    p.acceptance_mask = 0x00000007;
    return p;
}

struct filter_case {
    can_message m;
    bool admitted;
};

class acceptance_filter : public ::testing::TestWithParam<filter_case> {};

TEST_P(acceptance_filter, admits_only_the_ecu_identifier_and_the_kernel_filter_agrees) {
    const can_init_parameters p = link_filter();
    EXPECT_EQ(accepted(p, GetParam().m), GetParam().admitted);
    // What the kernel would admit by the equivalent filters.
    const can_frame f = to_socketcan(GetParam().m);
    bool kernel = false;
    for (const can_filter& k : socketcan_filters(p)) kernel |= (f.can_id & k.can_mask) == (k.can_id & k.can_mask);
    EXPECT_EQ(kernel, GetParam().admitted);
}

INSTANTIATE_TEST_SUITE_P(
    frames, acceptance_filter,
    ::testing::Values(filter_case{message(0x16666667, frame_format_extended, {}), true},
                      filter_case{message(0x16666667, frame_format_extended | frame_format_remote, {}), true},
                      filter_case{message(0x16666666, frame_format_extended, {}), false},
                      filter_case{message(0x16666677, frame_format_extended, {}), false},
                      filter_case{message(0x06666667, frame_format_extended, {}), false},
                      filter_case{message(0x667, 0, {}), false},
                      filter_case{message(0x599, 0, {}), false}));

TEST(acceptance_filter_open, with_every_bit_ignored_admits_every_frame) {
    can_init_parameters p;
    p.acceptance_mask = 0xFFFFFFFF;
    for (const auto& m : {message(1, 0, {}), message(0x1ABCDEF0, frame_format_extended, {}),
                          message(0x7FF, frame_format_remote, {})}) {
        EXPECT_TRUE(accepted(p, m));
        const can_frame f = to_socketcan(m);
        bool kernel = false;
        for (const can_filter& k : socketcan_filters(p)) kernel |= (f.can_id & k.can_mask) == (k.can_id & k.can_mask);
        EXPECT_TRUE(kernel);
    }
}

TEST(socketcan_filters, of_the_link_match_29_bit_frames_of_0x16666667_only) {
    const auto filters = socketcan_filters(link_filter());
    EXPECT_EQ(filters[0].can_id, 0x16666667u | CAN_EFF_FLAG);
    EXPECT_EQ(filters[0].can_mask, CAN_EFF_MASK | CAN_EFF_FLAG);
}

struct socketcan_case {
    can_message m;
    canid_t can_id;
};

class socketcan_frames : public ::testing::TestWithParam<socketcan_case> {};

TEST_P(socketcan_frames, map_both_ways) {
    const can_frame f = to_socketcan(GetParam().m);
    EXPECT_EQ(f.can_id, GetParam().can_id);
    EXPECT_EQ(f.len, GetParam().m.data_length);
    EXPECT_TRUE(std::equal(f.data, f.data + f.len, GetParam().m.data));
    const auto back = from_socketcan(f);
    ASSERT_TRUE(back);
    EXPECT_TRUE(same(*back, GetParam().m));
}

INSTANTIATE_TEST_SUITE_P(
    frames, socketcan_frames,
    ::testing::Values(socketcan_case{message(0x16666666, frame_format_extended, {0x10, 8, 0xCD, 0x4F, 0, 0, 0x10, 0}),
                                     0x16666666u | CAN_EFF_FLAG},
                      socketcan_case{message(0x7FF, 0, {1, 2}), 0x7FFu},
                      socketcan_case{message(0x12345, frame_format_extended | frame_format_remote, {}),
                                     0x12345u | CAN_EFF_FLAG | CAN_RTR_FLAG}));

TEST(socketcan_received, error_frames_and_lengths_over_8_are_no_messages) {
    can_frame error{};
    error.can_id = CAN_ERR_FLAG | 0x4;
    error.len = 8;
    EXPECT_FALSE(from_socketcan(error));
    can_frame too_long{};
    too_long.can_id = 0x100;
    too_long.len = 9;
    EXPECT_FALSE(from_socketcan(too_long));
}

}  // namespace
}  // namespace qx::platform::can
