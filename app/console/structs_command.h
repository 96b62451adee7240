// `flashdesk structs`: the layout of structures as the catalogue computes it.
#pragma once

#include <CLI/CLI.hpp>

namespace qx::console {

void add_structs_command(CLI::App& app);

}  // namespace qx::console
