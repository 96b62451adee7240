#include "app/console/ecu_command.h"

#include "app/console/command_line.h"
#include "app/console/console_link.h"
#include "app/console/job_output.h"
#include "app/console/visible_text.h"
#include "core/certificate_reader.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <vector>

namespace qx::console {

namespace {

// The root certificate a boot loader needs to tell its serial number.
std::vector<std::uint8_t> root_certificate_bytes(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    if (read_certificate_file(path, bytes) != certificate_file::read) throw qx::exception("Cannot read root certificate " + path);
    return bytes;
}

}  // namespace

std::string hex8(std::uint32_t value) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

const char* mode_name(std::uint32_t mode) {
    return mode == connection_manager::mode_boot_loader ? "boot" : mode == connection_manager::mode_application ? "app" : "none";
}

ecu_facts read_ecu_facts(connection_manager& manager, const std::string& root_certificate) {
    try {
        manager.connect();
        std::vector<std::uint8_t> certificate;
        if (manager.target_mode != connection_manager::mode_application)
            certificate = root_certificate_bytes(root_certificate);
        ecu_facts facts{manager.target_mode, manager.transferstructs_version, manager.firmware_version,
                        manager.board_model, manager.max_configuration_channels, {}};
        facts.serial_number = manager.read_ecu_serial_number(certificate);
        manager.disconnect();
        return facts;
    } catch (const qx::exception&) {
        manager.disconnect();
        throw;
    }
}

int run_ecu_info(connection_manager& manager, const ecu_info_options& options, std::ostream& out, std::ostream& err) {
    try {
        const ecu_facts facts = read_ecu_facts(manager, options.root_certificate);
        out << "target_mode: " << facts.target_mode << '\n'
            << "transferstructs_version: " << facts.transferstructs_version << '\n'
            << "firmware_version: " << hex8(facts.firmware_version) << '\n'
            << "board_model: " << visible(facts.board_model) << '\n'
            << "max_configuration_channels: " << facts.max_configuration_channels << '\n'
            << "serial_number: " << visible(facts.serial_number) << '\n';
        return 0;
    } catch (const qx::exception& e) {
        err << visible_lines(e.message) << '\n';
        return 1;
    }
}

void add_ecu_command(CLI::App& app) {
    CLI::App* ecu = app.add_subcommand("ecu", "talk to the connected ECU");
    if (!chosen(*ecu)) return;
    ecu->require_subcommand(1);
    auto options = std::make_shared<ecu_info_options>();
    CLI::App* info = ecu->add_subcommand("info", "connect once and print what the ECU reports");
    info->add_option("--root-cert", options->root_certificate, "root certificate (DER) for a boot loader")
        ->capture_default_str();
    info->callback([options] {
        if (const int refused = refuse_several_ecus(false)) throw CLI::RuntimeError(refused);
        auto manager = std::make_unique<connection_manager>(console_link());
        const int rc = run_ecu_info(*manager, *options, std::cout, std::cerr);
        if (rc != 0) throw CLI::RuntimeError(rc);
    });
}

}  // namespace qx::console
