// `flashdesk update`: the ECU Update tool on the console.
#pragma once

#include <chrono>
#include <iosfwd>
#include <string>

#include <CLI/CLI.hpp>

namespace qx::console {

struct update_options {
    std::string folder;
    std::string root_certificate = "RootCertificate_tcert.der";
    bool once = false;
    bool json = false;  // JSON lines ending in a result object (job_output.h)
    std::chrono::milliseconds connect_pause{1000};  // between the connection attempts
    std::string record;  // --record FILE
};

class record_file;

// Exit statuses beyond 0 (updated) and 1 (not updated): the run could not start.
inline constexpr int update_cannot_start = 2;

// Runs the ECU Update dialog with the console renderer until it ends (with --once after the
// first ECU, or when no ECU answered its connection attempts) and returns the exit status.
// `--folder` must name a folder (checked by the command). With a record, one line per ECU goes
// to it; a line that could not be written makes the exit status 1.
int run_update(const update_options& o, std::ostream& out, record_file* record = nullptr);

void add_update_command(CLI::App& app);

}  // namespace qx::console
