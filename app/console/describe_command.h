// `flashdesk describe`: a subtree of the protocol description.
#pragma once

#include <CLI/CLI.hpp>

namespace qx::console {

void add_describe_command(CLI::App& app);

}  // namespace qx::console
