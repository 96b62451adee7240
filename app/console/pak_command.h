// `flashdesk pak info FILE [--json]`: what a package or a package-group file holds.
#pragma once

#include <iosfwd>
#include <string>

#include <CLI/CLI.hpp>

namespace qx::console {

void add_pak_command(CLI::App& app);

// Prints the fields of the package or group at `path` to `out` and returns 0; when the file
// is not valid, prints the reader's message to `err` and returns 1. A group that dropped some
// of its declared entries is printed, said so on `err`, and returns 1.
int pak_info(const std::string& path, bool json, std::ostream& out, std::ostream& err);

}  // namespace qx::console
