// `flashdesk ecu info` against the virtual ECU.
#include <sstream>

#include <gtest/gtest.h>

#include "app/console/ecu_command.h"
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

}  // namespace
}  // namespace qx::testing
