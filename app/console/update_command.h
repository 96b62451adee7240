// `flashdesk update`: the ECU Update tool on the console.
#pragma once

#include <CLI/CLI.hpp>

namespace qx::console {

void add_update_command(CLI::App& app);

}  // namespace qx::console
