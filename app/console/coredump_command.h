// The core dump files of `flashdesk coredump`: writing the one the dialog read, and
// `flashdesk coredump show FILE`.
#pragma once

#include <iosfwd>
#include <string>

#include "filetool/pc_file.h"
#include "imagetool/core_dump_file.h"

namespace qx::console {

// Writes `dump` into `file` (made before the first exchange, beside `path`) and keeps it under
// `path`; prints "Core dump saved: ..." or an "Error: ..." line. True when the file was kept.
bool save_core_dump(filetool::pc_file& file, const std::string& path, const imagetool::core_dump& dump,
                    std::ostream& out);

// Lists the dump's ECU, time and sections (address, size, blank share, CRC-32C); 0 when the file
// is a whole core dump, else 1 with the reason on `err`.
int run_coredump_show(const std::string& path, std::ostream& out, std::ostream& err);

}  // namespace qx::console
