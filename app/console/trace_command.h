// `flashdesk trace show FILE`: sums up an exchange trace (TRELINK_TRACE / --trace) per command:
// count, total and slowest time, slowest total first.
#pragma once

#include <iosfwd>

#include <CLI/CLI.hpp>

namespace qx::console {

// The summary of the trace lines in `in`; false (and a message on `err`) at a line that is not
// one of the trace's.
bool summarise_trace(std::istream& in, std::ostream& out, std::ostream& err);

void add_trace_command(CLI::App& app);

}  // namespace qx::console
