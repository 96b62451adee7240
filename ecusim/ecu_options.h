// The command-line options that describe a virtual ECU, shared by `ecusim usb` and by the
// simulator library (which reads the same options from the data block it is started with).
#pragma once

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "ecusim/ecu_config.h"

namespace ecusim {

struct ecu_options {
    std::string mode = "app";
    std::string serial = "1A2B3C4D";
    std::uint32_t version = 95;
    std::string flash_id = "2789";
    unsigned flash_id_bytes = 2;
    std::string firmware = "01020304";
    std::string board_model = "QX-ECU";
    std::uint16_t max_channels = 1024;
    std::string faults;
    std::vector<std::string> channels;   // NAME=VALUE
    std::vector<std::string> absent_channels;
    std::vector<std::string> log_files;  // files of the USB storage device
    std::vector<std::string> raw_files;  // files of the raw log disk, with their faults
    std::vector<std::string> log_dirs;   // directory entries of the USB storage device
    std::vector<std::string> memory;     // HEXADDRESS=FILE: memory contents at start
    std::uint32_t raw_group_blocks = 7;
    bool raw_logging = false;
    bool no_usb_storage = false;
    bool stopped = false;
    bool any_address = false;
    unsigned replug_ms = 300;
    std::string r8c_block_size = "2000";  // bytes of the R8C's upgrade block (hexadecimal)
};

void add_ecu_options(CLI::App& app, ecu_options& o);

// Throws std::invalid_argument naming the option that does not hold a valid value, and
// std::runtime_error for a file that cannot be read.
ecu_config make_config(const ecu_options& o);

// The same from an option text ("--mode boot --serial 0A0B0C0D"), split at blanks; a text in
// double quotes is one word.
ecu_config config_from_text(const std::string& text);

}  // namespace ecusim
