// `flashdesk update` on the console: in this process against the virtual ECU, and the program
// itself for what it refuses at start; and the console's last line of defence.
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <future>
#include <thread>
#include <new>
#include <sstream>
#include <stdexcept>

#include "app/console/command_line.h"
#include "app/console/ecu_record.h"
#include "app/console/update_command.h"
#include "platform/registry/device_registry.h"
#include "tests/update/update_fixture.h"

namespace qx::testing {
namespace {

class update_command : public update_fixture {
protected:
    // Plugs the ECU in and runs the console update until it ends.
    int run(bool once, ecusim::ecu_config cfg = {}, console::record_file* record = nullptr) {
        cfg.mode = ecusim::ecu_mode::boot;
        cfg.serial = *ecusim::parse_serial(serial);
        ecu = std::make_unique<ecusim::virtual_ecu>(cfg);
        console::update_options o;
        o.folder = folder.string();
        o.root_certificate = (folder / "RootCertificate_tcert.der").string();
        o.once = once;
        o.connect_pause = std::chrono::milliseconds(5);
        return console::run_update(o, out, record);
    }
    // The flashdesk program with `args` (and `env` before it), bounded in time: exit status
    // and everything it printed.
    std::pair<int, std::string> flashdesk(const std::string& env, const std::string& args) {
        const std::string command = "env " + env + " timeout 60 " + FLASHDESK_BIN + " " + args + " 2>&1";
        FILE* pipe = ::popen(command.c_str(), "r");
        std::string output;
        char buffer[512];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
        return {WEXITSTATUS(::pclose(pipe)), output};
    }
    std::ostringstream out;
};

TEST_F(update_command, prints_the_serial_number_and_no_emptied_rows) {
    write_group({package(serial, 0)});
    EXPECT_EQ(run(true), 0) << out.str();
    EXPECT_NE(out.str().find("ECU serial number: 01020AFF\n"), std::string::npos) << out.str();
    EXPECT_EQ(out.str().find(": \n"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("progress: Update Success! (100%)\n"), std::string::npos) << out.str();
}

TEST_F(update_command, an_ecu_that_never_answers_ends_the_run_with_exit_1) {
    write_group({package(serial, 0)});
    ecusim::ecu_config cfg;
    cfg.faults = ecusim::fault_plan::parse("code=0:status=1");
    // A record whose last line a crash cut short.
    const std::string path = (folder / "record.jsonl").string();
    std::ofstream(path) << R"({"flashdesk_record":1,"comm)";
    auto record = std::make_unique<console::record_file>(path);
    EXPECT_EQ(run(false, cfg, record.get()), 1);  // also without --once
    EXPECT_NE(out.str().find("No ECU answered after 12 connection attempts.\n"), std::string::npos) << out.str();
    EXPECT_EQ(state().commands, 12u);

    // The ECU that was plugged in is recorded, on a line of its own after the cut one.
    std::ifstream in(path);
    std::ostringstream table, notes;
    EXPECT_EQ(console::show_record(in, "record", "", table, notes), 0);
    EXPECT_EQ(notes.str(), "record: line 1 was cut short (a crash while it was written) and is skipped.\n");
    EXPECT_NE(table.str().find("  update   -       "), std::string::npos) << table.str();
    EXPECT_NE(table.str().find("  none  -         failed  No ECU answered after 12 connection attempts.\n"), std::string::npos)
        << table.str();
}

TEST_F(update_command, bound_to_one_device_it_leaves_other_arrivals_alone) {
    write_group({package(serial, 0)});
    ecusim::ecu_config cfg;
    cfg.mode = ecusim::ecu_mode::boot;
    cfg.serial = *ecusim::parse_serial(serial);
    ecu = std::make_unique<ecusim::virtual_ecu>(cfg);  // another station's ECU
    ecu->device().unplug();
    const std::string class_dir = platform::registry_class_dir(platform::ecu_interface_class);
    ::setenv("TRELINK_DEVICE", (class_dir + "/named").c_str(), 1);
    console::update_options o;
    o.folder = folder.string();
    o.root_certificate = (folder / "RootCertificate_tcert.der").string();
    o.once = true;
    o.connect_pause = std::chrono::milliseconds(5);  // an attempt on its arrival would give up at once
    auto run = std::async(std::launch::async, [&] { return console::run_update(o, out); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ecu->device().plug();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ecusim::usb_device named(cfg, class_dir, "named");
    named.start();
    const int status = run.get();
    ::unsetenv("TRELINK_DEVICE");
    EXPECT_EQ(status, 0) << out.str();
    EXPECT_GT(named.inspect([](ecusim::ecu& e) { return e.state().commands; }), 0u);
    EXPECT_EQ(state().commands, 0u);
    named.stop();
}

TEST_F(update_command, what_cannot_start_is_refused_with_exit_2) {
    const std::string cert = (folder / "RootCertificate_tcert.der").string();
    auto [status, output] = flashdesk("", "update --once --folder '" + (folder / "gone").string() + "'");
    EXPECT_EQ(status, 2) << output;
    EXPECT_NE(output.find("is not a folder."), std::string::npos) << output;
    // Top-level options and their values before the command's word leave it the command.
    for (const char* before : {"--answer-timeout 2 --link usb", "--link=usb --trace update --device update", "--"}) {
        std::tie(status, output) = flashdesk("", std::string(before) + " update --once --folder '" + (folder / "gone").string() + "'");
        const bool command_ran = std::string(before) != "--";
        EXPECT_EQ(status == 2, command_ran) << before << ": " << output;
        EXPECT_EQ(output.find("is not a folder.") != std::string::npos, command_ran) << before << ": " << output;
    }

    // Device notifications cannot be set up in a registry that is a regular file.
    std::tie(status, output) = flashdesk("TRELINK_DEVICE_DIR='" + cert + "'",
                                         "update --once --folder '" + folder.string() + "' --root-cert '" + cert + "'");
    EXPECT_EQ(status, 2) << output;
    EXPECT_NE(output.find("ERROR!: Cannot watch for ECU connections ("), std::string::npos) << output;

    std::tie(status, output) = flashdesk("", "update --once --folder '" + folder.string() + "' --record '" + (folder / "gone" / "r").string() + "'");
    EXPECT_EQ(status, 2) << output;
    EXPECT_NE(output.find("flashdesk: cannot open the record "), std::string::npos) << output;
}

// A record line as written, read back: every field, nulls kept, a Windows-1252 author made UTF-8.
TEST(ecu_record, a_line_reads_back_as_it_was_written) {
    console::ecu_record r;
    r.command = "program";
    r.start = console::ecu_record::clock::from_time_t(1700000000);
    r.end = r.start + std::chrono::seconds(75);
    r.device = "1-2.3";
    r.serial_number = "0A0B0C0D";
    r.target_mode = "boot";
    r.firmware_version = 0x01020304;
    r.images = {{"Firmware", "a.pak", "M\xFCller", "2024-03-01", 7, std::nullopt, std::nullopt},
                {"R8C", "r8c.bin", "", "", std::nullopt, 65536, 0xE3069283}};
    r.result = "failed";
    r.failure = "Firmware: Command Error:  Check USB connection.";
    const std::string line = console::record_line(r);
    ASSERT_EQ(line.find('\n'), line.size() - 1);
    EXPECT_EQ(line.find(R"("start":"2023-11-14T22:13:20Z","end":"2023-11-14T22:14:35Z")"), line.find("\"start\"")) << line;
    const console::ecu_record back = console::parse_record_line(line);
    EXPECT_EQ(back.end - back.start, std::chrono::seconds(75));
    EXPECT_EQ(back.firmware_version, 0x01020304u);
    ASSERT_EQ(back.images.size(), 2u);
    EXPECT_EQ(back.images[0].author, "M\xC3\xBCller");
    EXPECT_EQ(back.images[0].version, 7u);
    EXPECT_EQ(back.images[0].size, std::nullopt);
    EXPECT_EQ(back.images[1].crc32c, 0xE3069283u);
    EXPECT_EQ(back.failure, r.failure);
}

struct show_case {
    std::string file;
    const char* serial;
    int status;
    const char* in_output;  // standard output, then standard error
    const char* in_errors;
};

void PrintTo(const show_case& c, std::ostream* os) { *os << c.file; }

class record_show : public ::testing::TestWithParam<show_case> {};

TEST_P(record_show, prints_the_lines_and_refuses_what_is_not_a_record) {
    const show_case& c = GetParam();
    std::istringstream in(c.file);
    std::ostringstream out, err;
    EXPECT_EQ(console::show_record(in, "R", c.serial, out, err), c.status) << out.str() << err.str();
    EXPECT_NE(out.str().find(c.in_output), std::string::npos) << out.str();
    EXPECT_NE(err.str().find(c.in_errors), std::string::npos) << err.str();
}

#define RECORD_LINE(serial) \
    R"({"flashdesk_record":1,"command":"update","start":"2026-01-01T00:00:00Z","end":"2026-01-01T00:01:00Z","device":"d",)" \
    R"("serial_number":")" serial R"(","target_mode":"boot","firmware_version":null,"images":[],"result":"updated","failure":""})" "\n"

using namespace std::string_literals;
INSTANTIATE_TEST_SUITE_P(
    files, record_show,
    ::testing::Values(
        show_case{RECORD_LINE("0A0B0C0D") RECORD_LINE("1A2B3C4D"), "0a0b0c0d", 0, "update   0A0B0C0D  d       boot  -", ""},
        show_case{RECORD_LINE("0A0B0C0D") "\0\0\0\n" RECORD_LINE("1A2B3C4D") ""s, "", 0, "1A2B3C4D", "R: line 2 was cut short"},
        show_case{RECORD_LINE("0A0B0C0D"), "FFFFFFFF", 1, "", "No ECU with serial number FFFFFFFF in R."},
        // Cut within its first bytes and fenced off by the next writer's line, wherever it stands.
        show_case{"{\n" RECORD_LINE("0A0B0C0D"), "", 0, "0A0B0C0D", "R: line 1 was cut short"},
        show_case{RECORD_LINE("0A0B0C0D") R"({"flashdesk_rec)" "\n" RECORD_LINE("1A2B3C4D"), "1A2B3C4D", 0, "1A2B3C4D",
                  "R: line 2 was cut short"},
        show_case{"{\n  \"command_codes\": []\n}\n", "", 1, "", "R is not an ECU record (line 1 is not a record line)."},
        show_case{R"({"flashdesk_record":1,"command":"update"})" "\n", "", 1, "", "(line 1 is not a record line)"}));

TEST_F(update_command, an_answer_timeout_that_is_no_number_of_seconds_up_to_a_day_is_refused_in_a_line) {
    for (const std::string value : {"nan", "inf", "-inf", "1e300", "86401", "-1", "-1e308", "5s"}) {
        const auto [status, output] = flashdesk("", "--answer-timeout " + value + " devices");
        EXPECT_NE(status, 0) << value << output;
        EXPECT_EQ(output.find("--answer-timeout: not a number of seconds from 0 to 86400 (0: no limit): '" + value + "'\n"), 0u)
            << output;
        EXPECT_LT(output.size(), 160u) << output;
    }
    for (const std::string value : {"0", "0.5", "86400"})
        EXPECT_EQ(flashdesk("", "--answer-timeout " + value + " structs TargetVersionResponse_TS").first, 0) << value;
}

TEST(console_command_line, anything_a_command_throws_ends_in_one_line_and_exit_1) {
    const std::vector<std::function<void()>> throws = {[] { throw std::bad_alloc(); },
                                                       [] { throw std::runtime_error("broken"); }, [] { throw 7; }};
    for (const auto& t : throws) {
        CLI::App app;
        app.add_subcommand("boom")->callback(t);
        std::ostringstream err;
        char name[] = "flashdesk", command[] = "boom";
        char* argv[] = {name, command};
        EXPECT_EQ(console::run_command_line(app, 2, argv, err), 1);
        EXPECT_EQ(err.str().rfind("flashdesk: stopped by an unexpected failure", 0), 0u) << err.str();
    }
    // A command's own exit status passes through.
    CLI::App app;
    app.add_subcommand("two")->callback([] { throw CLI::RuntimeError(2); });
    std::ostringstream err;
    char name[] = "flashdesk", command[] = "two";
    char* argv[] = {name, command};
    EXPECT_EQ(console::run_command_line(app, 2, argv, err), 2);
    EXPECT_EQ(err.str(), "");
}

}  // namespace
}  // namespace qx::testing
