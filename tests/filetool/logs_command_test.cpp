// `flashdesk logs`: the console front-end of the USB file tool against the virtual ECU.
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/console/logs_command.h"
#include "tests/filetool/log_fixture.h"

namespace qx::testing {
namespace {

TEST(logs_command, list_prints_one_line_per_entry_and_get_copies_the_file) {
    scratch s;
    const bytes data = pattern(4000);
    ecusim::virtual_ecu ecu(ecusim::config_from_text("--log-file " + s.file("trip.log", data) + " --log-dir LOGS"));
    connection_manager manager;
    std::ostringstream out, err;
    EXPECT_EQ(console::run_logs_list(manager, out, err), 0);
    EXPECT_EQ(out.str(), "0\tTRIP.LOG\ttrip.log\t4000\n1\tLOGS.\tDirectoryLOGS\t0\n");

    std::ostringstream got;
    EXPECT_EQ(console::run_logs_get(manager, 0, s.path("copy.log"), got, err), 0);
    EXPECT_EQ(read_bytes(s.path("copy.log")), data);

    EXPECT_EQ(console::run_logs_get(manager, 1, s.path("dir.log"), got, err), 1);
    EXPECT_EQ(console::run_logs_get(manager, 2, s.path("none.log"), got, err), 1);
    EXPECT_THAT(err.str(), ::testing::HasSubstr("ERROR!: LogTestDlg::OnBnClickedButtonLogtestOpenfile Cannot open a "
                                                "directory entry\n"));
    EXPECT_THAT(err.str(), ::testing::HasSubstr("No log file 2 (2 listed)\n"));
}

TEST(logs_command, diagnose_writes_the_header_text_and_format_reports_a_failure) {
    scratch s;
    ecusim::virtual_ecu ecu(ecusim::config_from_text("--raw-logging --raw-file " + s.file("a", pattern(100)) +
                                                     " --faults code=46:status=0x8001"));
    connection_manager manager;
    std::ostringstream out, err;
    EXPECT_EQ(console::run_logs_diagnose(manager, s.path("d.txt"), out, err), 0);
    EXPECT_EQ(out.str(), "0\tECU_0000.log\tECU RawFileIndex 0000.qxlog\t1536\n");
    EXPECT_THAT(read_text(s.path("d.txt")), ::testing::StartsWith("DiskHeader @ lba=00000000 "));
    EXPECT_EQ(console::run_logs_format(manager, out, err), 1);
}

}  // namespace
}  // namespace qx::testing
