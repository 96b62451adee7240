// Fault plans: the rule grammar and which rules a command matches.
#include "ecusim/faults.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using ecusim::fault_plan;

TEST(fault_plan, parses_the_documented_example) {
    const auto plan = fault_plan::parse("n=3:unplug:replug=200;code=6#2:rstatus=0x71000006");
    const auto third = plan.match(3, 0, 1);
    EXPECT_TRUE(third.unplug);
    EXPECT_EQ(third.replug_ms, 200u);
    EXPECT_FALSE(third.response_status);

    const auto second_security = plan.match(9, 6, 2);
    EXPECT_EQ(second_security.response_status, 0x71000006u);
    EXPECT_FALSE(second_security.unplug);

    EXPECT_FALSE(plan.match(9, 6, 1).any());
    EXPECT_FALSE(plan.match(4, 6, 3).any());
}

TEST(fault_plan, code_rule_matches_every_command_of_that_code_in_decimal_or_hex) {
    for (const char* spec : {"code=75:status=5", "code=0x4B:status=5"}) {
        const auto plan = fault_plan::parse(spec);
        for (std::uint64_t k = 1; k <= 3; ++k) EXPECT_EQ(plan.match(10 + k, 75, k).header_status, 5) << spec;
        EXPECT_FALSE(plan.match(20, 74, 1).header_status) << spec;
    }
}

TEST(fault_plan, ordinal_rule_counts_all_commands_whatever_their_code) {
    const auto plan = fault_plan::parse("n=2:short");
    EXPECT_TRUE(plan.match(2, 57, 1).short_header);
    EXPECT_FALSE(plan.match(1, 57, 1).short_header);
    EXPECT_FALSE(plan.match(3, 57, 2).short_header);
}

TEST(fault_plan, parses_every_action) {
    const auto a = fault_plan::parse("n=1:status=0xFFFF:rstatus=4294967295:unplug:unplug_after:replug=0:short:oversize:"
                                     "garbage:delay=15:mute:eof:reread")
                       .match(1, 0, 1);
    EXPECT_EQ(a.header_status, 0xFFFF);
    EXPECT_EQ(a.response_status, 0xFFFFFFFFu);
    EXPECT_TRUE(a.unplug && a.unplug_after && a.short_header && a.oversize && a.garbage && a.mute && a.end_of_file &&
                a.reread);
    EXPECT_EQ(a.replug_ms, 0u);
    EXPECT_EQ(a.delay_ms, 15u);
}

TEST(fault_plan, merges_the_actions_of_all_matching_rules) {
    const auto plan = fault_plan::parse("code=6:delay=10:status=1;n=5:delay=20:garbage;code=6#3:status=7;code=5:mute");
    const auto a = plan.match(5, 6, 3);
    EXPECT_EQ(a.delay_ms, 30u);
    EXPECT_TRUE(a.garbage);
    EXPECT_EQ(a.header_status, 7);  // the later rule's status wins
    EXPECT_FALSE(a.mute);
    EXPECT_EQ(plan.match(6, 6, 4).header_status, 1);
}

TEST(fault_plan, empty_plan_text_and_empty_rules_give_no_faults) {
    EXPECT_TRUE(fault_plan::parse("").empty());
    EXPECT_TRUE(fault_plan::parse(";;").empty());
    EXPECT_FALSE(fault_plan::parse("n=1:mute;").empty());
    EXPECT_FALSE(fault_plan{}.match(1, 0, 1).any());
}

TEST(fault_plan, appended_plans_match_together) {
    auto plan = fault_plan::parse("n=1:short");
    plan.append(fault_plan::parse("code=0:oversize"));
    const auto a = plan.match(1, 0, 1);
    EXPECT_TRUE(a.short_header);
    EXPECT_TRUE(a.oversize);
}

class fault_plan_bad_rule : public testing::TestWithParam<const char*> {};

TEST_P(fault_plan_bad_rule, is_rejected_with_invalid_argument) {
    EXPECT_THROW(fault_plan::parse(GetParam()), std::invalid_argument);
}

INSTANTIATE_TEST_SUITE_P(faults, fault_plan_bad_rule,
                         testing::Values("n=3",               // no action
                                         "n=0:unplug",        // commands count from 1
                                         "code=6#0:unplug",   // code ordinals too
                                         "code=6#:unplug",    // no ordinal
                                         "x=1:unplug",        // unknown selector
                                         "n=abc:unplug",      // not a number
                                         "n=0x:unplug",       // hex prefix without digits
                                         "code=256:unplug",   // codes are 8-bit
                                         "code=6:status=0x10000",  // header status is 16-bit
                                         "code=6:rstatus=0x100000000",
                                         "code=6:status",     // no value
                                         "n=1:delay=",        // empty value
                                         "n=1:replug=3600001",
                                         "n=1:frobnicate",    // unknown action
                                         "n=1:unplug;code=6"  // a bad rule after a good one
                                         ));

}  // namespace
