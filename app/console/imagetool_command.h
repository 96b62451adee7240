// The Firmware and ID tool on the console: `flashdesk program FILE.pak`, `flashdesk erase
// dynamic|fixed`, `flashdesk powerseq FILE.pak`, `flashdesk r8c FILE.bin [--yes]` and
// `flashdesk coredump OUT.qxdump` (with `coredump show FILE`). Each runs the dialog's own logic
// with the console renderer: messages as `CAPTION: TEXT` lines, the progress as a bar on a
// terminal.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "core/connection_manager.h"

namespace qx::console {

enum class imagetool_job { program, erase_dynamic, erase_fixed, powerseq, r8c, coredump };

struct imagetool_options {
    std::string root_certificate = "RootCertificate_tcert.der";
    std::string file;      // the package, the R8C image or the core dump file to write
    bool yes = false;      // answer the upgrade's confirmation with OK
    unsigned timeout = 120;  // powerseq: seconds to wait for the ECU to come back
    bool json = false;       // JSON lines ending in a result object (job_output.h)
    std::string record;      // --record FILE (program, powerseq, r8c)
};

class record_file;

// Connects, runs the job and returns the exit status: 0 when the job's success message was
// shown (for the core dump: when its file was written), else 1. With a record, an ECU that
// answered gets its line (and 1 when it could not be written).
int run_imagetool(connection_manager& manager, imagetool_job job, const imagetool_options& options, std::ostream& out,
                  record_file* record = nullptr);

void add_imagetool_commands(CLI::App& app);

}  // namespace qx::console
