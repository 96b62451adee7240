// The console's last line of defence: whatever a command throws ends in one failure line and
// exit status 1, never in an abort.
#pragma once

#include <iosfwd>

#include <CLI/CLI.hpp>

namespace qx::console {

// Lets every command take the top-level options before or after its own words. Call once
// every command has been added.
void share_top_options(CLI::App& app);

// Parses the command line into `app` and runs the chosen command; returns the exit status.
int run_command_line(CLI::App& app, int argc, char** argv, std::ostream& err);

}  // namespace qx::console
