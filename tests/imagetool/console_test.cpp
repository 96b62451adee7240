// flashdesk program / erase / powerseq / r8c / coredump against an in-process virtual ECU.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "app/console/imagetool_command.h"
#include "ecusim/certificates.h"
#include "imagetool/core_dump_file.h"
#include "tests/imagetool/tool_fixture.h"

namespace qx::testing {
namespace {

class console_command : public tool_test {
protected:
    int run(qx::console::imagetool_job job, const std::string& file, bool yes = false, unsigned timeout = 30) {
        qx::console::imagetool_options o;
        const auto root = ecusim::certificates::root();
        o.root_certificate = temp_path("RootCertificate_tcert.der");
        test_support::save_file(o.root_certificate, {root.begin(), root.end()});
        o.file = file;
        o.yes = yes;
        o.timeout = timeout;
        out.str("");
        return qx::console::run_imagetool(*manager, job, o, out);
    }
    std::ostringstream out;
};

TEST_F(console_command, program_prints_the_messages_and_exits_0_on_success_only) {
    start("--mode boot", {}, false);
    EXPECT_EQ(run(qx::console::imagetool_job::program, write_package(1, 2)), 0);
    EXPECT_NE(out.str().find("ECU serial number: 1A2B3C4D\n"), std::string::npos);
    EXPECT_NE(out.str().find("Success!: Firmware loaded succesfully\n"), std::string::npos);
    EXPECT_EQ(state().blocks.size(), 2u);
    manager->disconnect();
    EXPECT_EQ(run(qx::console::imagetool_job::program, write_package(1, 2, "0A0B0C0D")), 1);
    EXPECT_NE(out.str().find("ERROR!: OnBnClickedButtonImagedlSelectfile Error: Serial number mismatch!\n"), std::string::npos);
}

TEST_F(console_command, erase_needs_the_boot_loader) {
    start("--mode boot", {}, false);
    EXPECT_EQ(run(qx::console::imagetool_job::erase_fixed, ""), 0);
    EXPECT_EQ(state().erases.size(), 8u);
    close();
    start("--mode app", {}, false);
    EXPECT_EQ(run(qx::console::imagetool_job::erase_dynamic, ""), 1);
    EXPECT_NE(out.str().find("not in the correct mode"), std::string::npos);
}

TEST_F(console_command, r8c_upgrades_only_when_confirmed) {
    start("--mode app", {}, false);
    const std::string bin = temp_path("r8c.bin");
    test_support::save_file(bin, std::vector<std::uint8_t>(0x8000, 0x11));
    EXPECT_EQ(run(qx::console::imagetool_job::r8c, bin), 1);
    EXPECT_NE(out.str().find("Error!: Firmware Updated Failed!\n"), std::string::npos);
    manager->disconnect();
    EXPECT_EQ(run(qx::console::imagetool_job::r8c, bin, true), 0);
    EXPECT_EQ(state().r8c.programs, 8u);
}

TEST_F(console_command, powerseq_programs_the_package_when_the_ecu_comes_back) {
    start("--mode app --replug-ms 100", {}, false);
    EXPECT_EQ(run(qx::console::imagetool_job::powerseq, write_package(2, 1)), 0);
    EXPECT_NE(out.str().find("Success!: OnBnClickedButtonImagedlPowerseqdlfile Firmware download successful"),
              std::string::npos);
    EXPECT_EQ(state().blocks.size(), 1u);
}

TEST_F(console_command, powerseq_timeout_covers_the_return_but_never_cuts_the_download) {
    // Each erase of the download takes 1.5 s: the download outlasts the 2 s time-out.
    start("--mode app --replug-ms 100 --faults code=4:delay=1500", {}, false);
    EXPECT_EQ(run(qx::console::imagetool_job::powerseq, write_package(2, 2), false, 2), 0) << out.str();
    EXPECT_EQ(out.str().find("did not come back"), std::string::npos);
    EXPECT_EQ(state().blocks.size(), 2u);
}

TEST_F(console_command, coredump_names_the_boot_loaders_ecu_and_refuses_a_folder_before_sending) {
    start("--mode boot", {}, false);
    const std::string dump = temp_path("ecu.qxdump");
    ASSERT_EQ(run(qx::console::imagetool_job::coredump, dump), 0) << out.str();
    std::ifstream in(dump, std::ios::binary);
    const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const auto kept = imagetool::read_core_dump(file);
    EXPECT_EQ(kept.serial_number, (std::array<std::uint8_t, 4>{0x1A, 0x2B, 0x3C, 0x4D}));  // told against the root certificate
    EXPECT_EQ(kept.sections.size(), 5u);
    manager->disconnect();
    const auto commands = state().commands;
    const std::string folder = temp_path("folder.qxdump");
    std::filesystem::create_directory(folder);
    EXPECT_EQ(run(qx::console::imagetool_job::coredump, folder), 1);
    EXPECT_NE(out.str().find("Error: " + folder + " is not a regular file"), std::string::npos) << out.str();
    EXPECT_EQ(state().commands, commands);
}

}  // namespace
}  // namespace qx::testing
