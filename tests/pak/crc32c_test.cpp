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
    EXPECT_EQ(qx::crc32c({}), 0u);
}

TEST(crc32c, every_path_agrees_at_every_length_and_alignment) {
    std::mt19937 random(7);
    std::vector<std::uint8_t> data(300);
    for (auto& b : data) b = std::uint8_t(random());
    const bool hardware = qx::crc32c_hardware_available();
    for (std::size_t offset = 0; offset < 8; ++offset)
        for (std::size_t length = 0; length + offset <= 200; ++length) {
            const std::uint32_t start = std::uint32_t(random());
            const std::uint8_t* p = data.data() + offset;
            const std::uint32_t expected = qx::crc32c_update_bytewise(start, p, length);
            ASSERT_EQ(qx::crc32c_update_sliced(start, p, length), expected) << offset << " " << length;
            ASSERT_EQ(qx::crc32c_update(start, p, length), expected) << offset << " " << length;
            if (hardware) {
                ASSERT_EQ(qx::crc32c_update_hardware(start, p, length), expected) << offset << " " << length;
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
