#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "pak/crc32c.h"
#include "tests/support/pak_writer.h"

namespace {

TEST(crc32c, check_value_of_123456789) {
    const std::string text = "123456789";
    const std::vector<std::uint8_t> b(text.begin(), text.end());
    EXPECT_EQ(qx::crc32c(b), 0xE3069283u);
    EXPECT_EQ(~qx::crc32c_update_bytewise(0xFFFFFFFF, b.data(), b.size()), 0xE3069283u);
    EXPECT_EQ(~qx::crc32c_update_sliced(0xFFFFFFFF, b.data(), b.size()), 0xE3069283u);
    if (qx::crc32c_hardware_available()) {
        EXPECT_EQ(~qx::crc32c_update_hardware(0xFFFFFFFF, b.data(), b.size()), 0xE3069283u);
        EXPECT_EQ(~qx::crc32c_update_hardware_one_stream(0xFFFFFFFF, b.data(), b.size()), 0xE3069283u);
    }
    EXPECT_EQ(qx::crc32c({}), 0u);
}

// Every short length (the tails), the edges of the folding (256 and 512 bytes) and three-stream
// blocks (768 and 12288 bytes) and random lengths up to 64 KiB, each from every start
// alignment, against the byte-wise routine.
TEST(crc32c, every_path_agrees_at_every_length_and_alignment) {
    constexpr std::size_t max_length = 64 * 1024;
    std::mt19937 random(7);
    std::vector<std::uint8_t> data(max_length + 16);
    for (auto& b : data) b = std::uint8_t(random());
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 200; ++n) lengths.push_back(n);
    for (std::size_t edge : {255u, 256u, 511u, 512u, 513u, 767u, 768u, 769u, 1536u, 12287u, 12288u, 12289u, 13056u,
                             24576u, 65536u})
        lengths.push_back(edge);
    std::uniform_int_distribution<std::size_t> any_length(0, max_length);
    for (int i = 0; i < 24; ++i) lengths.push_back(any_length(random));
    const bool hardware = qx::crc32c_hardware_available(), folding = qx::crc32c_folding_available();
    for (std::size_t offset = 0; offset < 16; ++offset)
        for (std::size_t length : lengths) {
            const std::uint32_t start = std::uint32_t(random());
            const std::uint8_t* p = data.data() + offset;
            const std::uint32_t expected = qx::crc32c_update_bytewise(start, p, length);
            ASSERT_EQ(qx::crc32c_update_sliced(start, p, length), expected) << offset << " " << length;
            ASSERT_EQ(qx::crc32c_update(start, p, length), expected) << offset << " " << length;
            if (hardware) {
                ASSERT_EQ(qx::crc32c_update_hardware(start, p, length), expected) << offset << " " << length;
                ASSERT_EQ(qx::crc32c_update_hardware_one_stream(start, p, length), expected) << offset << " " << length;
            }
            if (folding) {
                ASSERT_EQ(qx::crc32c_update_folded(start, p, length), expected) << offset << " " << length;
            }
        }
    EXPECT_EQ(qx::crc32c(data), qx::test_support::reference_crc32c(data));
}

TEST(crc32c, continues_from_a_value_in_final_form) {
    const std::vector<std::uint8_t> whole = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
    const std::span<const std::uint8_t> all(whole);
    for (std::size_t cut = 0; cut <= whole.size(); ++cut)
        EXPECT_EQ(qx::crc32c(all.subspan(cut), qx::crc32c(all.first(cut))), qx::crc32c(all)) << cut;
}

}  // namespace
