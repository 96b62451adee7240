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
};

// Exit statuses beyond 0 (updated) and 1 (not updated): the run could not start.
inline constexpr int update_cannot_start = 2;

// Runs the ECU Update dialog with the console renderer until it ends (with --once after the
// first ECU, or when no ECU answered its connection attempts) and returns the exit status.
// `--folder` must name a folder (checked by the command).
int run_update(const update_options& o, std::ostream& out);

void add_update_command(CLI::App& app);

}  // namespace qx::console
