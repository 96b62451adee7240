// The virtual ECU: takes one command (header fields and request bytes in the link's byte
// order) and produces one response (header fields and response bytes in that order).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>

#include "ecusim/ecu_config.h"
#include "ecusim/flash_map.h"
#include "ecusim/wire.h"

namespace ecusim {

struct reply {
    std::uint16_t response_type = 0;
    std::uint16_t status = 0;  // response header status
    bytes data;
    fault_actions faults;  // what the front-end must do besides answering
    bool reset = false;    // the ECU restarts after this answer: unplug, come back in boot mode
};

class ecu {
public:
    explicit ecu(ecu_config cfg);

    // One exchange. Never throws for what the host sent: a request that does not hold what it
    // promises gets header status header_malformed.
    reply process(std::uint16_t command_type, std::uint16_t response_buffer_size,
                  std::span<const std::uint8_t> request, byte_order o);

    const ecu_config& config() const { return cfg_; }
    const ecu_state& state() const { return st_; }
    ecu_state& state() { return st_; }

    // The power-sequence reset: forget the session and come back in the boot loader.
    void restart(ecu_mode m);
    void set_channel(const std::string& name, float value);
    std::string serial_text() const;
    // Another ECU behind the same device: it reports this serial from now on.
    void set_serial(const std::array<std::uint8_t, 4>& serial);
    // Everything programmed, erased and received, as JSON text.
    std::string state_json() const;
    void record_framing_error() { ++st_.framing_errors; }
    void set_faults(fault_plan plan) { cfg_.faults = std::move(plan); }

private:
    using handler = bytes (ecu::*)(std::span<const std::uint8_t>, byte_order, reply&);
    bytes answer(std::uint8_t code, std::span<const std::uint8_t> request, byte_order o, reply& r);

    bytes target_version(std::span<const std::uint8_t>, byte_order, reply&);
    bytes system_descriptor(std::span<const std::uint8_t>, byte_order, reply&);
    bytes board_descriptor(std::span<const std::uint8_t>, byte_order, reply&);
    bytes find_channel(std::span<const std::uint8_t>, byte_order, reply&);
    bytes find_channel_value(std::span<const std::uint8_t>, byte_order, reply&);
    bytes read_channels(std::span<const std::uint8_t>, byte_order, reply&);
    bytes query_state(std::span<const std::uint8_t>, byte_order, reply&);
    bytes mode_run(std::span<const std::uint8_t>, byte_order, reply&);
    bytes mode_stop(std::span<const std::uint8_t>, byte_order, reply&);
    bytes erase_blocks(std::span<const std::uint8_t>, byte_order, reply&);
    bytes blank_check(std::span<const std::uint8_t>, byte_order, reply&);
    bytes security(std::span<const std::uint8_t>, byte_order, reply&);
    bytes peripheral(std::span<const std::uint8_t>, byte_order, reply&);
    bytes peripheral_io(std::span<const std::uint8_t>, byte_order, reply&);
    bytes peripheral_info(std::span<const std::uint8_t>, byte_order, reply&);
    bytes peripheral_execute(std::span<const std::uint8_t>, byte_order, reply&);
    bytes log_directory(std::span<const std::uint8_t>, byte_order, reply&);
    bytes log_open(std::span<const std::uint8_t>, byte_order, reply&);
    bytes log_read(std::span<const std::uint8_t>, byte_order, reply&);
    bytes log_close(std::span<const std::uint8_t>, byte_order, reply&);
    bytes log_begin(std::span<const std::uint8_t>, byte_order, reply&);
    bytes log_stop(std::span<const std::uint8_t>, byte_order, reply&);
    bytes log_read_raw(std::span<const std::uint8_t>, byte_order, reply&);
    bytes log_format_raw(std::span<const std::uint8_t>, byte_order, reply&);
    bytes sim_terminate(std::span<const std::uint8_t>, byte_order, reply&);

    // The R8C's own packet handling; the packet is little-endian whatever the link.
    bytes r8c_packet(std::uint8_t operation, std::span<const std::uint8_t> packet, reply& r);
    bytes io_control(std::span<const std::uint8_t> packet, byte_order packet_order, reply& r);
    bool is_blank(std::uint32_t address, std::uint32_t length) const;
    float channel_value(std::size_t index) const;
    const bytes& raw_disk(byte_order o);

    ecu_config cfg_;
    ecu_state st_;
    std::vector<channel> channels_;
    bool reset_armed_ = false;
    std::uint32_t dynamic_blocks_ = 0;  // sub-function 8 blocks since the last key block
    flash_map flash_map_;
    struct open_file {
        std::size_t file = 0;
        std::size_t position = 0;
    };
    std::map<std::uint32_t, open_file> handles_;
    std::uint32_t next_handle_ = 1;
    std::map<byte_order, bytes> raw_disk_cache_;
};

// Parses an ECU serial of 8 hexadecimal digits (either case); nullopt when it is not one.
std::optional<std::array<std::uint8_t, 4>> parse_serial(const std::string& text);

}  // namespace ecusim
