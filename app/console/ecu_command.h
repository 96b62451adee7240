// `flashdesk ecu info`: connect once and print what the ECU reports about itself.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

#include <CLI/CLI.hpp>

#include "core/connection_manager.h"

namespace qx::console {

struct ecu_info_options {
    std::string root_certificate = "RootCertificate_tcert.der";
};

// What an ECU reports about itself.
struct ecu_facts {
    std::uint32_t target_mode = 0;
    std::uint32_t transferstructs_version = 0;
    std::uint32_t firmware_version = 0;
    std::string board_model;
    std::uint16_t max_configuration_channels = 0;
    std::string serial_number;
};

// Connects, reads the facts and disconnects; a boot loader needs the root certificate to tell
// its serial number. Throws qx::exception, disconnected.
ecu_facts read_ecu_facts(connection_manager& manager, const std::string& root_certificate);
// "0x0001020A".
std::string hex8(std::uint32_t value);
// A target mode as the console writes it: "boot", "app", or "none" when not connected.
const char* mode_name(std::uint32_t mode);

// One `key: value` line per fact on out; on failure the message on err. The exit status.
int run_ecu_info(connection_manager& manager, const ecu_info_options& options, std::ostream& out, std::ostream& err);

void add_ecu_command(CLI::App& app);

}  // namespace qx::console
