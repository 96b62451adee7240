// `flashdesk logs`: the console front-end of the USB file tool against the virtual ECU.
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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

TEST(logs_command, every_step_needs_the_application_and_sends_no_log_command_to_a_boot_loader) {
    ecusim::virtual_ecu ecu(ecusim::config_from_text("--mode boot"));
    scratch s;
    const std::function<int(connection_manager&, std::ostream&, std::ostream&)> steps[] = {
        [](connection_manager& m, std::ostream& o, std::ostream& e) { return console::run_logs_list(m, o, e); },
        [](connection_manager& m, std::ostream& o, std::ostream& e) { return console::run_logs_format(m, o, e); },
        [&](connection_manager& m, std::ostream& o, std::ostream& e) { return console::run_logs_get(m, 0, s.path("x"), o, e); },
        [&](connection_manager& m, std::ostream& o, std::ostream& e) { return console::run_logs_diagnose(m, s.path("d"), o, e); }};
    for (const auto& step : steps) {
        connection_manager manager;
        std::ostringstream out, err;
        EXPECT_EQ(step(manager, out, err), 1);
        EXPECT_EQ(err.str(), "Error: The hardware is not in the correct mode.  The ECU needs to be strapped in full running "
                             "mode.\n");
    }
    const auto state = ecu.device().inspect([](ecusim::ecu& e) { return e.state(); });
    EXPECT_EQ(state.commands_by_code.count(40), 0u);  // LOG_BEGIN_LOGGING
    EXPECT_FALSE(std::filesystem::exists(s.path("x")));
}

TEST(logs_command, get_refuses_a_link_before_connecting) {
    scratch s;
    ecusim::virtual_ecu ecu(ecusim::config_from_text("--log-file " + s.file("trip.log", pattern(100))));
    const std::string linked = s.file("linked", pattern(10, 3));
    std::filesystem::create_symlink(linked, s.path("out"));
    connection_manager manager;
    std::ostringstream out, err;
    EXPECT_EQ(console::run_logs_get(manager, 0, s.path("out"), out, err), 1);
    EXPECT_EQ(err.str(), "Error: " + s.path("out") + " is not a regular file\n");
    EXPECT_EQ(ecu.device().inspect([](ecusim::ecu& e) { return e.state(); }).commands, 0u);
    EXPECT_EQ(read_bytes(linked), pattern(10, 3));
}

// `flashdesk logs get` as a process, its standard output a terminal or a pipe: its output and
// exit status.
std::pair<std::string, int> flashdesk_logs_get(const std::string& outfile, bool terminal) {
    int reader = -1, writer = -1;
    if (terminal) {
        EXPECT_EQ(::openpty(&reader, &writer, nullptr, nullptr, nullptr), 0);
    } else {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        reader = fds[0];
        writer = fds[1];
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writer, STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, reader);
    std::vector<std::string> args{FLASHDESK_BIN, "logs", "get", "0", outfile};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, FLASHDESK_BIN, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(writer);
    std::string text;
    char buffer[4096];
    for (ssize_t n; spawned == 0 && (n = ::read(reader, buffer, sizeof buffer)) > 0;) text.append(buffer, std::size_t(n));
    ::close(reader);
    int status = -1;
    if (spawned == 0) ::waitpid(pid, &status, 0);
    return {text, spawned == 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST(logs_command, get_draws_its_progress_on_a_terminal_only) {
    scratch s;
    ecusim::virtual_ecu ecu(ecusim::config_from_text("--log-file " + s.file("trip.log", pattern(20000))));
    const auto [on_terminal, rc] = flashdesk_logs_get(s.path("a.log"), true);
    EXPECT_EQ(rc, 0) << on_terminal;
    EXPECT_THAT(on_terminal, ::testing::HasSubstr("\r\033[K[" + std::string(40, '#') + "] 100%"));
    EXPECT_THAT(on_terminal, ::testing::HasSubstr("\r\033[K"));
    EXPECT_EQ(read_bytes(s.path("a.log")), pattern(20000));
    const auto [piped, piped_rc] = flashdesk_logs_get(s.path("b.log"), false);
    EXPECT_EQ(piped_rc, 0);
    EXPECT_EQ(piped, "trip.log -> " + s.path("b.log") + "\n");
}

}  // namespace
}  // namespace qx::testing
