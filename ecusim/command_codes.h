// The command codes the virtual ECU answers (the position in the ECU's command list).
#pragma once

#include <cstdint>

namespace ecusim::cmd {

inline constexpr std::uint16_t command_type_base = 0xCD00;
inline constexpr std::uint8_t get_target_version = 0;
inline constexpr std::uint8_t read_data_block = 1;
inline constexpr std::uint8_t eeprom_erase_blocks = 4;
inline constexpr std::uint8_t eeprom_blank_check_block = 5;
inline constexpr std::uint8_t security_command = 6;
inline constexpr std::uint8_t larger_than_default = 7;
inline constexpr std::uint8_t peripheral_execute_in_block = 8;
inline constexpr std::uint8_t peripheral_get_info = 9;
inline constexpr std::uint8_t peripheral_io_control = 10;
inline constexpr std::uint8_t sh_to_peripheral_command = 11;
inline constexpr std::uint8_t configuration_mode_run = 16;
inline constexpr std::uint8_t configuration_mode_stop = 17;
inline constexpr std::uint8_t read_channel_list = 23;
inline constexpr std::uint8_t log_get_directory_entry = 36;
inline constexpr std::uint8_t log_open_file = 37;
inline constexpr std::uint8_t log_close_file = 38;
inline constexpr std::uint8_t log_read_file = 39;
inline constexpr std::uint8_t log_begin_logging = 40;
inline constexpr std::uint8_t log_stop_logging = 41;
inline constexpr std::uint8_t log_read_raw_lba = 44;
inline constexpr std::uint8_t log_format_raw = 46;
inline constexpr std::uint8_t sim_terminate = 47;
inline constexpr std::uint8_t configuration_query_state = 56;
inline constexpr std::uint8_t configuration_find_channel_by_name = 57;
inline constexpr std::uint8_t configuration_find_channel_value_by_name = 58;
inline constexpr std::uint8_t peripheral_get_board_descriptor = 69;
inline constexpr std::uint8_t get_system_descriptor = 75;

// Peripheral operations carried by SH_TO_PERIPHERAL_COMMAND (same numbers as the commands).
namespace r8c {
inline constexpr std::uint8_t read_data_block = 1;
inline constexpr std::uint8_t write_data_block = 2;
inline constexpr std::uint8_t program_block = 3;
inline constexpr std::uint8_t erase_block = 4;
inline constexpr std::uint8_t execute_in_block = 8;
inline constexpr std::uint8_t get_info = 9;
inline constexpr std::uint8_t io_control = 10;
}  // namespace r8c

}  // namespace ecusim::cmd

namespace ecusim::status {
inline constexpr std::uint32_t ok = 0;
inline constexpr std::uint32_t bad_state = 0x50000002;
inline constexpr std::uint32_t not_found = 0x80000005;
inline constexpr std::uint32_t already_present = 0x80000006;
inline constexpr std::uint32_t mismatch = 0x80000007;
inline constexpr std::uint32_t security_error = 0x71000001;
inline constexpr std::uint32_t security_null = 0x71000002;
inline constexpr std::uint32_t security_size = 0x71000003;
inline constexpr std::uint32_t security_key = 0x71000006;
// Header status of a command the ECU does not answer in its present mode, or cannot parse.
inline constexpr std::uint16_t header_unsupported = 0x0001;
inline constexpr std::uint16_t header_malformed = 0x0002;
}  // namespace ecusim::status
