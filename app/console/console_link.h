// The link the console's tools connect through: USB, unless `flashdesk --link` names another.
#pragma once

#include <CLI/CLI.hpp>

#include "core/connection_manager.h"

namespace qx::console {

// `--link usb|usb-can` on the top-level command.
void add_link_option(CLI::App& app);
const link_choice& console_link();

}  // namespace qx::console
