// The console's answer time-out: `--answer-timeout SECONDS` on every command (default 60,
// 0 = no limit), handed to the library through its environment before any command runs; a
// command that failed because the ECU did not answer in time says so and exits 1.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

namespace qx::console {

// On the top-level command: share_top_options lets it follow any command.
void add_answer_timeout_option(CLI::App& app);

// The exit status for a parse or command failure: CLI11's, or 1 with the time-out's text when
// an exchange ran out of time.
int exit_status(CLI::App& app, const CLI::ParseError& failure);

// "No answer from the ECU within N s."
std::string answer_timeout_text();
// The same once an exchange ran out of time, else empty.
std::string missed_answer_text();

}  // namespace qx::console
