// `flashdesk ecu info` against the virtual ECU.
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

#include "app/console/ecu_command.h"
#include "app/console/trace_command.h"
#include "tests/core/ecu_fixture.h"

namespace qx::testing {
namespace {

struct info_result {
    int rc;
    std::string out, err;
};

info_result ecu_info(const std::string& ecu_options, const std::string& root_certificate) {
    ecu_link ecu(link_kind::usb, ecu_options);
    std::ostringstream out, err;
    console::ecu_info_options options;
    options.root_certificate = root_certificate;
    const int rc = console::run_ecu_info(*ecu.manager, options, out, err);
    EXPECT_EQ(ecu.manager->is_connected(), 0u);  // connects once and leaves the link closed
    return {rc, out.str(), err.str()};
}

const std::string root_file = std::string(FLASHDESK_SOURCE_DIR) + "/ecusim/certs/root_certificate.der";

TEST(ecu_info, boot_loader_tells_its_serial_through_the_root_certificate) {
    const auto r = ecu_info("--mode boot --serial 01020AFF", root_file);
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out,
              "target_mode: 1\ntransferstructs_version: 0\nfirmware_version: 0x01020304\nboard_model: \n"
              "max_configuration_channels: 0\nserial_number: 01020AFF\n");
}

TEST(ecu_info, application_prints_its_facts) {
    const auto r = ecu_info("--serial 0a0b0c0d --firmware 00050001 --board-model QX7 --max-channels 2048", "");
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out,
              "target_mode: 0\ntransferstructs_version: 95\nfirmware_version: 0x00050001\nboard_model: QX7\n"
              "max_configuration_channels: 2048\nserial_number: 0A0B0C0D\n");
}

TEST(ecu_info, failures_print_the_message_and_exit_1) {
    auto r = ecu_info("--version 94", root_file);
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.err, "Target version not supported by this software version\n");
    EXPECT_EQ(r.out, "");
    r = ecu_info("--mode boot", "/nonexistent/RootCertificate_tcert.der");
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.err, "Cannot read root certificate /nonexistent/RootCertificate_tcert.der\n");
}

// TRELINK_TRACE: a line per exchange, and `trace show` sums them per command.
TEST(ecu_info, a_trace_holds_every_exchange_and_sums_up_per_command) {
    const std::string file = (std::filesystem::temp_directory_path() / ("trace-" + std::to_string(::getpid()))).string();
    std::filesystem::remove(file);
    ::setenv("TRELINK_TRACE", file.c_str(), 1);
    const auto r = ecu_info("--serial 0a0b0c0d", "");
    ::unsetenv("TRELINK_TRACE");
    ASSERT_EQ(r.rc, 0) << r.err;
    std::ifstream in(file);
    std::vector<std::string> names;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string when, name, status, response_type;
        unsigned request = 0, response = 0, strays = 9;
        long long us = -1;
        fields >> when >> name >> request >> response >> status >> us >> response_type >> strays;
        ASSERT_TRUE(fields && when.ends_with("Z") && us >= 0) << line;
        names.push_back(name);
        if (name == "GET_TARGET_VERSION") {
            EXPECT_EQ(request, 0u);
            EXPECT_EQ(response, 8u);
            EXPECT_EQ(status, "00000000");
            EXPECT_EQ(response_type, "cd00") << "as the ECU sent it";
            EXPECT_EQ(strays, 0u);
        }
    }
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names.front(), "GET_TARGET_VERSION");

    std::ifstream again(file);
    std::ostringstream out, err;
    ASSERT_TRUE(console::summarise_trace(again, out, err)) << err.str();
    EXPECT_NE(out.str().find("GET_TARGET_VERSION"), std::string::npos) << out.str();
    std::istringstream damaged("2026-01-01T00:00:00.000Z\tGET_TARGET_VERSION\tx\n");
    EXPECT_FALSE(console::summarise_trace(damaged, out, err));
    EXPECT_NE(err.str().find("line 1"), std::string::npos);
    // A last line without its newline was cut short while written: skipped with a note.
    std::ostringstream whole;
    whole << std::ifstream(file).rdbuf();
    std::istringstream cut(whole.str() + "2026-01-01T00:00:00.000Z\tGET_TARGET_VERSION\t0\t8\t0000");
    std::ostringstream summary, notes;
    EXPECT_TRUE(console::summarise_trace(cut, summary, notes)) << notes.str();
    EXPECT_EQ(notes.str(), "line " + std::to_string(names.size() + 1) +
                               " was cut short (the trace was still being written, or a crash) and is skipped.\n");
    EXPECT_NE(summary.str().find("GET_TARGET_VERSION"), std::string::npos) << summary.str();
    std::filesystem::remove(file);
}

}  // namespace
}  // namespace qx::testing
