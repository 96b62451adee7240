// The console's last line of defence: whatever a command throws ends in one failure line and
// exit status 1, never in an abort.
#pragma once

#include <iosfwd>
#include <string>

#include <CLI/CLI.hpp>

namespace qx::console {

// The command a command line asks for: its first word that is neither a top-level option nor
// such an option's value. Only that command is given its options and subcommands; the others
// are added by name and description alone, which is all that help texts and errors about
// them need. Call once the top-level options are added, before the commands.
void choose_command(const CLI::App& app, int argc, const char* const* argv);
// Whether `command` (a command of the top level) is the one asked for: it then needs the rest.
bool chosen(const CLI::App& command);

// Lets every command take the top-level options before or after its own words. Call once
// every command has been added.
void share_top_options(CLI::App& app);

// Parses the command line into `app` and runs the chosen command; returns the exit status.
int run_command_line(CLI::App& app, int argc, char** argv, std::ostream& err);

}  // namespace qx::console
