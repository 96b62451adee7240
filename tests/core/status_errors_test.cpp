#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <typeindex>
#include <typeinfo>
#include <vector>

#include "core/status_errors.h"

namespace {

using cm = qx::connection_manager_exceptions;

// The class thrown for a status, or void when nothing is thrown.
template <class Raise>
std::type_index thrown_class(Raise raise, std::uint32_t status, std::uint32_t* code = nullptr,
                             std::string* message = nullptr) {
    try {
        raise(status, "failed");
    } catch (const qx::exception& e) {
        if (code) *code = e.code;
        if (message) *message = e.message;
        return typeid(e);
    }
    return typeid(void);
}

struct status_case {
    std::uint32_t status;
    std::type_index expected;
};

class plain_status : public ::testing::TestWithParam<status_case> {};

TEST_P(plain_status, maps_to_its_class_with_the_status_as_code) {
    std::uint32_t code = 0;
    std::string message;
    EXPECT_EQ(thrown_class(qx::raise_command_status, GetParam().status, &code, &message), GetParam().expected);
    if (GetParam().status != 0) {
        EXPECT_EQ(code, GetParam().status);
        EXPECT_EQ(message, "failed");
    }
}

INSTANTIATE_TEST_SUITE_P(
    mapping, plain_status,
    ::testing::Values(status_case{0, typeid(void)}, status_case{0x50000002, typeid(cm::exception_bad_state)},
                      status_case{0x80000005, typeid(cm::exception_not_found)},
                      status_case{0x80000006, typeid(cm::exception_found)},
                      status_case{0x80000007, typeid(cm::exception_mismatch)},
                      status_case{0x80000008, typeid(cm::exception_command_error)},
                      status_case{0x71000006, typeid(cm::exception_command_error)},
                      status_case{1, typeid(cm::exception_command_error)}));

class security_status : public ::testing::TestWithParam<status_case> {};

TEST_P(security_status, maps_to_its_class_with_the_status_as_code) {
    std::uint32_t code = 0;
    EXPECT_EQ(thrown_class(qx::raise_security_status, GetParam().status, &code), GetParam().expected)
        << std::hex << GetParam().status;
    if (GetParam().status != 0) {
        EXPECT_EQ(code, GetParam().status);
    }
}

std::vector<status_case> security_table() {
    std::vector<status_case> cases = {{0, typeid(void)},
                                      {0x71000000, typeid(cm::exception_command_error)},
                                      {0x7100001B, typeid(cm::exception_command_error)},
                                      {0x80000005, typeid(cm::exception_command_error)}};
    auto add = [&](std::initializer_list<std::uint32_t> statuses, std::type_index cls) {
        for (auto s : statuses) cases.push_back({s, cls});
    };
    add({0x71000001, 0x71000007, 0x7100000C, 0x71000010, 0x71000014, 0x71000016, 0x71000018, 0x71000019, 0x7100001A},
        typeid(cm::exception_security_error));
    add({0x71000002, 0x7100000A, 0x7100000B, 0x71000011}, typeid(cm::exception_security_null));
    add({0x71000003, 0x71000004, 0x71000005, 0x7100000D, 0x7100000E, 0x71000013}, typeid(cm::exception_security_size));
    add({0x71000006, 0x71000012, 0x71000015}, typeid(cm::exception_security_key));
    add({0x71000008, 0x71000017}, typeid(cm::exception_security_memory));
    add({0x71000009}, typeid(cm::exception_security_fatal));
    add({0x7100000F}, typeid(cm::exception_security_file_not_found));
    return cases;
}

INSTANTIATE_TEST_SUITE_P(mapping, security_status, ::testing::ValuesIn(security_table()));

TEST(security_status_range, every_status_of_the_range_is_a_security_error) {
    for (std::uint32_t s = 0x71000001; s <= 0x7100001A; ++s)
        EXPECT_THROW(qx::raise_security_status(s, "x"), cm::exception_security_error) << std::hex << s;
}

// A laid-out GenericStatusStringResponse_DTS: status, str descriptor (element size at 4, count
// at 5 and 6, slot at 8), trailing descriptor (element size at 12, count at 13 and 14, slot at
// 16), fixed part of 20 bytes, then the elements with their alignment gaps.
class status_response {
public:
    explicit status_response(std::uint32_t status) : block_(20, 0) { std::memcpy(block_.data(), &status, 4); }

    status_response& str(const std::string& text) { return array(4, 8, 1, text.size(), text.data()); }
    status_response& words(const std::vector<std::uint16_t>& values) {
        return array(12, 16, 2, values.size(), values.data());
    }
    status_response& second_text(const std::string& text) { return array(12, 16, 1, text.size(), text.data()); }
    status_response& dwords(const std::vector<std::uint32_t>& values) {
        return array(12, 16, 4, values.size(), values.data());
    }
    std::vector<std::uint8_t>& bytes() { return block_; }

private:
    status_response& array(std::size_t at, std::size_t slot, std::uint8_t element_size, std::size_t count,
                           const void* elements) {
        block_[at] = element_size;
        block_[at + 1] = std::uint8_t(count >> 8);
        block_[at + 2] = std::uint8_t(count);
        if (count == 0) return *this;
        const std::size_t variable = block_.size() - 20;
        block_.resize(block_.size() + (element_size - variable % element_size) % element_size);
        const auto offset = std::uint32_t(block_.size());
        std::memcpy(block_.data() + slot, &offset, 4);
        const auto* p = static_cast<const std::uint8_t*>(elements);
        block_.insert(block_.end(), p, p + count * element_size);
        return *this;
    }
    std::vector<std::uint8_t> block_;
};

TEST(status_message, empty_text_gives_the_error_code_in_eight_hex_digits) {
    status_response r(0x50000002);
    EXPECT_EQ(qx::compose_status_message(r.bytes()), "Target returned error code (0x50000002)");
    status_response small(0xAB);
    EXPECT_EQ(qx::compose_status_message(small.bytes()), "Target returned error code (0x000000AB)");
}

TEST(status_message, sixteen_bit_values_follow_last_to_first) {
    status_response two(0x80000005);
    two.str("Channel missing").words({1, 2});
    EXPECT_EQ(qx::compose_status_message(two.bytes()), "Channel missing\n0002, 0001");

    status_response three(0x80000005);
    three.str("abc").words({0x0001, 0x0002, 0x00AB});  // the odd text length leaves a gap
    EXPECT_EQ(qx::compose_status_message(three.bytes()), "abc\n00AB, 0002, 0001");

    status_response none(0x80000005);
    none.str("abc").words({});
    EXPECT_EQ(qx::compose_status_message(none.bytes()), "abc\n");
}

TEST(status_message, a_second_text_follows_a_line_break_and_other_arrays_add_nothing) {
    status_response text(1);
    text.str("first").second_text(std::string("second\0tail", 11));
    EXPECT_EQ(qx::compose_status_message(text.bytes()), "first\nsecond");

    status_response dwords(1);
    dwords.str(std::string("only\0", 5)).dwords({7, 8, 9});
    EXPECT_EQ(qx::compose_status_message(dwords.bytes()), "only");
}

TEST(status_message, arrays_outside_the_response_are_a_communication_error) {
    status_response r(1);
    r.str("message").words({1, 2});
    auto cut = r.bytes();
    cut.pop_back();
    EXPECT_THROW(qx::compose_status_message(cut), cm::exception_communication_error);

    auto wild = r.bytes();
    const std::uint32_t far = 0xFFFFFFF0;
    std::memcpy(wild.data() + 8, &far, 4);
    try {
        qx::compose_status_message(wild);
        FAIL() << "no exception";
    } catch (const cm::exception_communication_error& e) {
        EXPECT_EQ(e.message, "SendCommand failed");
        EXPECT_EQ(typeid(e), typeid(cm::exception_communication_error));
    }

    const std::vector<std::uint8_t> short_block(12, 0);
    EXPECT_THROW(qx::compose_status_message(short_block), cm::exception_communication_error);
}

TEST(status_response_check, raises_the_mapped_class_with_the_composed_message) {
    status_response ok(0);
    EXPECT_NO_THROW(qx::check_status_response(ok.bytes()));

    status_response found(0x80000006);
    found.str("exists");
    try {
        qx::check_status_response(found.bytes());
        FAIL() << "no exception";
    } catch (const cm::exception_communication_error& e) {
        EXPECT_EQ(typeid(e), typeid(cm::exception_found));
        EXPECT_EQ(e.message, "exists");
        EXPECT_EQ(e.code, 0x80000006u);
    }

    status_response security(0x7100001B);
    EXPECT_THROW(
        {
            try {
                qx::check_security_status_response(security.bytes());
            } catch (const cm::exception_security_error&) {
                FAIL() << "a status past the security range is no security error";
            }
        },
        cm::exception_command_error);

    status_response key(0x71000012);
    EXPECT_THROW(qx::check_security_status_response(key.bytes()), cm::exception_security_key);
}

}  // namespace
