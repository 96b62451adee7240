// What the virtual ECU is (configuration) and what happened to it (state).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ecusim/faults.h"
#include "ecusim/wire.h"

namespace ecusim {

enum class ecu_mode { boot, app };

struct channel {
    std::string name;
    float value = 0.0f;
};

// The peripheral R8C: what GetInfo answers, and its 64 KB flash.
struct r8c_config {
    std::uint32_t buffer_address = 0x0400;
    std::uint32_t buffer_size = 0x0400;
    std::uint32_t current_block = 1;
    std::uint32_t block_size = 0x2000;
    std::uint32_t block_start_addr = 0x4000;
    std::uint32_t build_ptr_addr = 0x4010;
    std::uint32_t version_ptr_addr = 0x4020;
    // A flash cell that stays erased for the first `weak_cell_misses` programs that cover it
    // (a marginal cell: the read-back differs until it takes).
    std::optional<std::uint32_t> weak_cell;
    unsigned weak_cell_misses = 0;
};

// A file on the USB storage device of the file-system logging mode.
struct log_file {
    std::string short_name;  // "README.TXT"; 8 name and 3 extension characters at most
    std::u16string long_name;
    std::uint8_t attributes = 0x20;  // 0x10: a directory
    bytes data;
};

// A file on the raw log disk. Files alternate: log, configuration, log, ...
struct raw_file {
    bytes data;
    std::uint32_t cfgfile_version = 1;
    std::uint32_t cfgfile_num_channels = 0;
    std::uint32_t logfile_version = 1;
    bool open = false;  // still being written: its header counts 1 block
    // Faulty disks: a file index out of order (0: the next one), a group whose block header
    // carries no block mark (-1: none), a file header claiming this many blocks (0: the truth).
    std::uint32_t file_index = 0;
    int bad_mark_group = -1;
    std::uint32_t claimed_blocks = 0;
};

struct ecu_config {
    ecu_mode mode = ecu_mode::app;
    std::uint32_t app_transferstructs_version = 95;  // what the application reports
    std::uint32_t firmware_version = 0x01020304;
    std::array<std::uint8_t, 4> serial{0x1A, 0x2B, 0x3C, 0x4D};
    std::string board_model = "QX-ECU";   // at most 8 characters
    std::string board_serial = "00000001";
    std::uint16_t max_configuration_channels = 1024;
    std::uint16_t flash_device_id = 0x2789;
    std::uint8_t flash_device_id_bytes = 2;  // of the identifier in the answer: 2, 1 (its low byte) or 0
    bool configuration_running = true;
    bool raw_logging = false;  // LoggingMode reads 1 (raw disk) instead of 0 (file system)
    bool usb_storage_present = true;  // HostUsbDevicePresent
    std::vector<channel> extra_channels;  // added, or overriding a standard channel's value
    std::vector<std::string> absent_channels;  // standard channels this ECU does not know
    r8c_config r8c;
    std::vector<log_file> log_files;
    std::vector<raw_file> raw_files;
    std::uint32_t raw_group_blocks = 7;  // data blocks per group on the raw disk
    // DER certificates; empty means the built-in ones.
    bytes device_certificate;
    std::vector<bytes> trusted_certificates;  // root and package certificates it accepts
    unsigned reset_replug_ms = 300;  // absence after the power-sequence reset
    std::map<std::uint32_t, bytes> memory;  // contents at start, by address; the rest reads 0xFF
    // False for a bench device that programs blocks at any address without erasing.
    bool flash_map = true;
    fault_plan faults;
};

struct erase_record {
    std::uint32_t start_block = 0;
    std::uint32_t number_of_blocks = 0;
};

struct security_block {
    std::uint8_t sub_function = 0;  // 7 check, 8 dynamic model, 9 to memory
    std::uint16_t format = 0;
    std::uint32_t buffer_address = 0;
    std::uint32_t flash_address = 0;  // misc0
    bytes data;
};

struct io_control_record {
    std::uint8_t function = 0;
    std::uint8_t io_target = 0;
    std::uint16_t io_data_w = 0;
    std::uint32_t io_data_d = 0;
};

struct r8c_state {
    bytes flash = bytes(0x10000, 0xFF);
    bytes ram;
    std::uint32_t current_block = 1;
    unsigned erases = 0;
    unsigned programs = 0;
    std::vector<std::uint32_t> programmed_addresses;
    unsigned weak_cell_misses = 0;  // misses the weak cell still has
};

struct ecu_state {
    ecu_mode mode = ecu_mode::app;
    bool configuration_running = true;
    bool logging_active = false;
    std::uint64_t commands = 0;
    std::map<std::uint8_t, std::uint64_t> commands_by_code;
    std::vector<std::uint8_t> command_codes;  // every command's code, in arrival order
    std::vector<std::string> channel_lookups;  // names asked for, in order
    std::vector<erase_record> erases;
    unsigned blank_checks = 0;
    std::string accepted_certificate;  // "root", "package" or empty
    unsigned rejected_keys = 0;
    std::optional<bytes> key_block;
    std::optional<bytes> first_block;
    std::vector<security_block> blocks;  // sub-functions 8 and 9 in arrival order
    // Memory by address: the contents given at start and the 2048-byte blocks programmed by
    // sub-functions 8 and 9.
    std::map<std::uint32_t, bytes> flash;
    std::vector<std::uint8_t> dump_sections;  // key0 of sub-function 12
    std::vector<std::uint32_t> dump_reads;    // address of each sub-function 13 piece
    std::vector<io_control_record> io_controls;
    r8c_state r8c;
    unsigned resets = 0;
    unsigned raw_formats = 0;
    unsigned framing_errors = 0;  // front-end: packets that broke the framing rules
    bool terminated = false;
};

}  // namespace ecusim
