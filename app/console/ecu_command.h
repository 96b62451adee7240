// `flashdesk ecu info`: connect once and print what the ECU reports about itself.
#pragma once

#include <iosfwd>
#include <string>

#include <CLI/CLI.hpp>

#include "core/connection_manager.h"

namespace qx::console {

struct ecu_info_options {
    std::string root_certificate = "RootCertificate_tcert.der";
};

// One `key: value` line per fact on out; on failure the message on err. The exit status.
int run_ecu_info(connection_manager& manager, const ecu_info_options& options, std::ostream& out, std::ostream& err);

void add_ecu_command(CLI::App& app);

}  // namespace qx::console
