#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <typeindex>
#include <vector>

#include "core/exception.h"

namespace {

using cm = qx::connection_manager_exceptions;

template <class E>
std::function<void()> thrower() {
    return [] { throw E("text", 0x1234); };
}

// Which handlers catch an exception of each class.
struct catch_case {
    const char* name;
    std::function<void()> raise;
    bool command_error;
    bool communication_error;
    bool version_mismatch;
    bool security_error;
    bool argument;
    bool manager;
};

class exception_tree : public ::testing::TestWithParam<catch_case> {};

template <class Handler>
bool caught_by(const std::function<void()>& raise) {
    try {
        raise();
    } catch (const Handler&) {
        return true;
    } catch (...) {
    }
    return false;
}

TEST_P(exception_tree, is_caught_by_the_handlers_of_its_ancestors_only) {
    const auto& c = GetParam();
    EXPECT_EQ(caught_by<cm::exception_command_error>(c.raise), c.command_error);
    EXPECT_EQ(caught_by<cm::exception_communication_error>(c.raise), c.communication_error);
    EXPECT_EQ(caught_by<cm::exception_target_version_mismatch>(c.raise), c.version_mismatch);
    EXPECT_EQ(caught_by<cm::exception_security_error>(c.raise), c.security_error);
    EXPECT_EQ(caught_by<cm::exception_argument>(c.raise), c.argument);
    EXPECT_EQ(caught_by<cm::exception>(c.raise), c.manager);
    EXPECT_TRUE(caught_by<qx::exception>(c.raise));
    EXPECT_TRUE(caught_by<std::exception>(c.raise));
}

INSTANTIATE_TEST_SUITE_P(
    classes, exception_tree,
    ::testing::Values(
        catch_case{"found", thrower<cm::exception_found>(), true, true, false, false, false, true},
        catch_case{"not_found", thrower<cm::exception_not_found>(), true, true, false, false, false, true},
        catch_case{"bad_state", thrower<cm::exception_bad_state>(), true, true, false, false, false, true},
        catch_case{"mismatch", thrower<cm::exception_mismatch>(), true, true, false, false, false, true},
        catch_case{"security_null", thrower<cm::exception_security_null>(), true, true, false, true, false, true},
        catch_case{"security_file_not_found", thrower<cm::exception_security_file_not_found>(), true, true, false,
                   true, false, true},
        catch_case{"communication_error", thrower<cm::exception_communication_error>(), false, true, false, false,
                   false, true},
        catch_case{"version_newer", thrower<cm::exception_target_version_newer>(), false, false, true, false, false,
                   true},
        catch_case{"version_older", thrower<cm::exception_target_version_older>(), false, false, true, false, false,
                   true},
        catch_case{"not_connected", thrower<cm::exception_not_connected>(), false, false, false, false, false, true},
        catch_case{"invalid_pin", thrower<cm::exception_invalid_pin>(), false, false, false, false, true, true},
        catch_case{"invalid_buffer", thrower<cm::exception_invalid_buffer>(), false, false, false, false, true, true},
        catch_case{"invalid_channel", thrower<cm::exception_invalid_channel>(), false, false, false, false, false,
                   true},
        catch_case{"vector_full", thrower<qx::exception_vector_full>(), false, false, false, false, false, false},
        catch_case{"pak_file_invalid", thrower<qx::pak_file_exceptions::exception_invalid>(), false, false, false,
                   false, false, false},
        catch_case{"pak_group_invalid", thrower<qx::pak_group_file_exceptions::exception_invalid>(), false, false,
                   false, false, false, false}),
    [](const ::testing::TestParamInfo<catch_case>& p) { return std::string(p.param.name); });

TEST(exception_family, package_families_are_separate_from_each_other) {
    EXPECT_TRUE(caught_by<qx::pak_file_exceptions::exception>(thrower<qx::pak_file_exceptions::exception_out_of_memory>()));
    EXPECT_FALSE(caught_by<qx::pak_group_file_exceptions::exception>(thrower<qx::pak_file_exceptions::exception_invalid>()));
    EXPECT_FALSE(caught_by<qx::pak_file_exceptions::exception>(thrower<qx::pak_group_file_exceptions::exception_invalid>()));
}

TEST(exception_family, constructors_set_message_and_code) {
    const qx::exception empty;
    EXPECT_EQ(empty.code, 0u);
    EXPECT_STREQ(empty.what(), "");

    const cm::exception_not_connected message_only("Not connected");
    EXPECT_EQ(message_only.code, 0u);
    EXPECT_EQ(message_only.message, "Not connected");

    const cm::exception_found both("Target returned error code (0x80000006)", 0x80000006);
    EXPECT_EQ(both.code, 0x80000006u);
    const cm::exception_found copy(both);
    EXPECT_EQ(copy.code, 0x80000006u);
    EXPECT_EQ(copy.message, both.message);
}

TEST(exception_family, what_through_a_base_reference_is_the_message) {
    try {
        throw cm::exception_security_key("Security key rejected", 0x71000006);
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Security key rejected");
    }
}

TEST(exception_family, invalid_channel_keeps_the_name_and_an_empty_message) {
    try {
        throw cm::exception_invalid_channel::for_channel("engine_speed");
    } catch (const cm::exception& e) {
        const auto& channel = dynamic_cast<const cm::exception_invalid_channel&>(e);
        EXPECT_EQ(channel.channel_name, "engine_speed");
        EXPECT_TRUE(channel.detail.empty());
        EXPECT_TRUE(channel.message.empty());
        EXPECT_EQ(channel.code, 0u);
        const cm::exception_invalid_channel copy(channel);
        EXPECT_EQ(copy.channel_name, "engine_speed");
    }
}

}  // namespace
