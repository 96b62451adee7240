// `flashdesk logs ...`: the USB file tool without a window. The dialog runs as in the program,
// its message boxes are printed as `CAPTION: TEXT` lines on the error stream (with `--json`,
// every step prints JSON lines on standard output instead).
//   logs list                 one line per log file: index, 8.3 name, name, size (tab-separated)
//   logs get INDEX OUTFILE    copy listed file INDEX to OUTFILE (a progress bar on a terminal)
//   logs format               erase the raw log disk
//   logs diagnose OUTFILE     walk the raw log disk with diagnostics, their text to OUTFILE
#pragma once

#include <iosfwd>
#include <string>

#include <CLI/CLI.hpp>

#include "core/connection_manager.h"

namespace qx::console {

// Each connects `manager`, runs the step and returns the exit status: 0 on success, 1 when
// the connection failed, the ECU does not run its application or the dialog showed an error.
// json: everything as JSON lines on `out`, ending in a result object (job_output.h).
int run_logs_list(connection_manager& manager, std::ostream& out, std::ostream& err, bool json = false);
int run_logs_get(connection_manager& manager, int index, const std::string& outfile, std::ostream& out,
                 std::ostream& err, bool json = false);
int run_logs_format(connection_manager& manager, std::ostream& out, std::ostream& err, bool json = false);
int run_logs_diagnose(connection_manager& manager, const std::string& outfile, std::ostream& out, std::ostream& err,
                      bool json = false);

void add_logs_command(CLI::App& app);

}  // namespace qx::console
