// The receive ring: its empty and full rule, the bytes it drops, and its waits.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <numeric>
#include <thread>
#include <vector>

#include "transfer/serial/receive_ring.h"

namespace qx::test {
namespace {

using transfer::serial::receive_ring;
using namespace std::chrono_literals;

std::vector<std::uint8_t> counting(std::size_t n, std::uint8_t from = 0) {
    std::vector<std::uint8_t> v(n);
    std::iota(v.begin(), v.end(), from);
    return v;
}

struct fill_case {
    std::size_t taken_first;  // moves the indices round the ring before filling
    std::size_t appended;
    std::size_t held;
};

class ring_fill : public ::testing::TestWithParam<fill_case> {};

TEST_P(ring_fill, holds_at_most_998_bytes_and_loses_the_rest) {
    const auto [shift, appended, held] = GetParam();
    receive_ring ring;
    std::vector<std::uint8_t> sink(receive_ring::size);
    const auto lead = counting(shift);
    ASSERT_EQ(ring.append(lead.data(), lead.size()), shift);
    ASSERT_EQ(ring.take(sink.data(), shift), shift);
    ASSERT_EQ(ring.waiting(), 0u);

    const auto bytes = counting(appended, 7);
    EXPECT_EQ(ring.append(bytes.data(), bytes.size()), held);
    EXPECT_EQ(ring.waiting(), held);
    EXPECT_EQ(ring.room(), receive_ring::capacity - held);

    std::vector<std::uint8_t> out(appended + 10, 0);
    EXPECT_EQ(ring.take(out.data(), out.size()), held);
    out.resize(held);
    EXPECT_EQ(out, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + std::ptrdiff_t(held)));
    EXPECT_EQ(ring.waiting(), 0u);
}

INSTANTIATE_TEST_SUITE_P(shifts, ring_fill,
                         ::testing::Values(fill_case{0, 1, 1}, fill_case{0, 998, 998}, fill_case{0, 999, 998},
                                           fill_case{0, 1500, 998}, fill_case{500, 998, 998},
                                           fill_case{997, 600, 600}, fill_case{998, 1000, 998},
                                           fill_case{998, 2, 2}));

TEST(receive_ring, bytes_arriving_while_it_holds_998_are_lost) {
    receive_ring ring;
    const auto first = counting(998);
    ASSERT_EQ(ring.append(first.data(), first.size()), 998u);
    const std::uint8_t late[3] = {0xA1, 0xA2, 0xA3};
    EXPECT_EQ(ring.append(late, 3), 0u);
    EXPECT_EQ(ring.waiting(), 998u);

    std::uint8_t one = 0;
    ASSERT_EQ(ring.take(&one, 1), 1u);
    EXPECT_EQ(one, 0);
    EXPECT_EQ(ring.append(late, 3), 1u);  // room for one more only

    std::vector<std::uint8_t> out(998);
    ASSERT_EQ(ring.take(out.data(), out.size()), 998u);
    EXPECT_EQ(out[996], std::uint8_t(997));
    EXPECT_EQ(out[997], 0xA1);
}

TEST(receive_ring, emptying_starts_over_with_nothing_waiting) {
    receive_ring ring;
    const auto bytes = counting(10);
    ring.append(bytes.data(), bytes.size());
    ring.empty();
    EXPECT_EQ(ring.waiting(), 0u);
    std::uint8_t b;
    EXPECT_EQ(ring.take(&b, 1), 0u);
    EXPECT_EQ(ring.append(bytes.data(), bytes.size()), 10u);
    EXPECT_EQ(ring.take(&b, 1), 1u);
    EXPECT_EQ(b, 0);
}

TEST(receive_ring, a_wait_ends_when_enough_bytes_arrive) {
    receive_ring ring;
    std::jthread writer([&ring] {
        const auto bytes = counting(8);
        for (std::size_t i = 0; i < bytes.size(); i += 2) ring.append(&bytes[i], 2);
    });
    EXPECT_TRUE(ring.wait_for_waiting(8, 5s));
    writer.join();
    EXPECT_EQ(ring.waiting(), 8u);
}

TEST(receive_ring, a_wait_for_more_than_it_can_hold_fails_at_once) {
    receive_ring ring;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ring.wait_for_waiting(999, 5s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_FALSE(ring.wait_for_waiting(1, 30ms));
}

TEST(receive_ring, a_wait_for_room_ends_on_stop) {
    receive_ring ring;
    const auto bytes = counting(998);
    ring.append(bytes.data(), bytes.size());
    std::stop_source stop;
    std::jthread stopper([&stop] { stop.request_stop(); });
    EXPECT_FALSE(ring.wait_for_room(stop.get_token()));
    std::uint8_t b;
    ring.take(&b, 1);
    EXPECT_TRUE(ring.wait_for_room(std::stop_token{}));
}

}  // namespace
}  // namespace qx::test
