#include "ecusim/ecu_model.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "ecusim/certificates.h"
#include "ecusim/command_codes.h"

namespace ecusim {

namespace {

// Channel numbers start here, so that a host mixing up list positions and numbers is caught.
constexpr std::uint16_t first_channel_number = 0x0100;
constexpr std::uint16_t invalid_channel = 0xFFFF;

const char* const standard_channels[] = {
    "ModChangeState [bool]", "ConfigurationDirty", "ConfigurationRunning [bool]", "LoggingActive [bool]",
    "TimeHigh [us/10]",      "TimeLow [us/10]",    "HostUsbDevicePresent",        "LoggingMode",
};

bool boot_loader_answers(std::uint8_t code) {
    switch (code) {
        case cmd::get_target_version:
        case cmd::eeprom_erase_blocks:
        case cmd::eeprom_blank_check_block:
        case cmd::security_command:
        case cmd::sim_terminate: return true;
        default: return false;
    }
}

}  // namespace

std::optional<std::array<std::uint8_t, 4>> parse_serial(const std::string& text) {
    if (text.size() != 8) return std::nullopt;
    std::array<std::uint8_t, 4> s{};
    for (std::size_t i = 0; i < 8; ++i) {
        const int c = std::toupper(static_cast<unsigned char>(text[i]));
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else return std::nullopt;
        s[i / 2] = std::uint8_t(s[i / 2] << 4 | v);
    }
    return s;
}

ecu::ecu(ecu_config cfg) : cfg_(std::move(cfg)), flash_map_(cfg_.flash_map) {
    if (cfg_.device_certificate.empty()) {
        const auto d = certificates::device();
        cfg_.device_certificate.assign(d.begin(), d.end());
    }
    if (cfg_.trusted_certificates.empty()) {
        for (const auto c : {certificates::root(), certificates::package()})
            cfg_.trusted_certificates.emplace_back(c.begin(), c.end());
    }
    for (const char* name : standard_channels)
        if (std::find(cfg_.absent_channels.begin(), cfg_.absent_channels.end(), name) == cfg_.absent_channels.end())
            channels_.push_back({name, 0.0f});
    st_.mode = cfg_.mode;
    st_.flash = cfg_.memory;
    st_.configuration_running = cfg_.configuration_running;
    st_.r8c.current_block = cfg_.r8c.current_block;
    st_.r8c.ram.assign(cfg_.r8c.buffer_size, 0);
    st_.r8c.weak_cell_misses = cfg_.r8c.weak_cell_misses;
    for (auto& c : channels_) {
        if (c.name == "HostUsbDevicePresent") c.value = cfg_.usb_storage_present ? 1.0f : 0.0f;
        if (c.name == "LoggingMode") c.value = cfg_.raw_logging ? 1.0f : 0.0f;
    }
    for (const auto& c : cfg_.extra_channels) set_channel(c.name, c.value);  // may override the above
}

void ecu::restart(ecu_mode m) {
    st_.mode = m;
    reset_armed_ = false;
    dynamic_blocks_ = 0;
    handles_.clear();
    st_.key_block.reset();
    st_.logging_active = false;
    ++st_.resets;
}

void ecu::set_channel(const std::string& name, float value) {
    for (auto& c : channels_)
        if (c.name == name) {
            c.value = value;
            return;
        }
    channels_.push_back({name, value});
}

std::string ecu::serial_text() const { return hex(cfg_.serial); }

void ecu::set_serial(const std::array<std::uint8_t, 4>& serial) { cfg_.serial = serial; }

float ecu::channel_value(std::size_t index) const {
    const std::string& name = channels_.at(index).name;
    if (name == "ConfigurationRunning [bool]") return st_.configuration_running ? 1.0f : 0.0f;
    if (name == "LoggingActive [bool]") return st_.logging_active ? 1.0f : 0.0f;
    return channels_[index].value;
}

reply ecu::process(std::uint16_t command_type, std::uint16_t response_buffer_size,
                   std::span<const std::uint8_t> request, byte_order o) {
    reply r;
    r.response_type = command_type;
    const auto code = std::uint8_t(command_type & 0xFF);
    ++st_.commands;
    const std::uint64_t code_ordinal = ++st_.commands_by_code[code];
    st_.command_codes.push_back(code);
    r.faults = cfg_.faults.match(st_.commands, code, code_ordinal);
    if (r.faults.unplug || r.faults.mute) return r;
    if (r.faults.header_status) {
        r.status = *r.faults.header_status;
        return r;
    }
    if ((command_type & 0xFF00) != cmd::command_type_base) {
        r.status = status::header_malformed;
        return r;
    }
    try {
        r.data = answer(code, request, o, r);
    } catch (const malformed_request&) {
        r.status = status::header_malformed;
        r.data.clear();
        return r;
    }
    // The log directory, open and read answers carry their status in the second word.
    const std::size_t status_at =
        code == cmd::log_get_directory_entry || code == cmd::log_open_file || code == cmd::log_read_file ? 4 : 0;
    if (r.faults.response_status && r.data.size() >= status_at + 4)
        put32(r.data, status_at, *r.faults.response_status, o);
    if (r.faults.oversize) r.data.resize(std::size_t(response_buffer_size) + 64, 0x5A);
    if (r.faults.garbage) {
        std::uint32_t x = std::uint32_t(st_.commands) * 2654435761u + 1;
        if (r.data.size() < 8) r.data.resize(8);
        for (auto& b : r.data) {
            x = x * 1103515245u + 12345u;
            b = std::uint8_t(x >> 16);
        }
    }
    if (r.faults.truncate && *r.faults.truncate < r.data.size()) r.data.resize(*r.faults.truncate);
    return r;
}

bytes ecu::answer(std::uint8_t code, std::span<const std::uint8_t> request, byte_order o, reply& r) {
    static const std::map<std::uint8_t, handler> handlers = {
        {cmd::get_target_version, &ecu::target_version},
        {cmd::get_system_descriptor, &ecu::system_descriptor},
        {cmd::peripheral_get_board_descriptor, &ecu::board_descriptor},
        {cmd::configuration_find_channel_by_name, &ecu::find_channel},
        {cmd::configuration_find_channel_value_by_name, &ecu::find_channel_value},
        {cmd::read_channel_list, &ecu::read_channels},
        {cmd::configuration_query_state, &ecu::query_state},
        {cmd::configuration_mode_run, &ecu::mode_run},
        {cmd::configuration_mode_stop, &ecu::mode_stop},
        {cmd::eeprom_erase_blocks, &ecu::erase_blocks},
        {cmd::eeprom_blank_check_block, &ecu::blank_check},
        {cmd::security_command, &ecu::security},
        {cmd::sh_to_peripheral_command, &ecu::peripheral},
        {cmd::peripheral_io_control, &ecu::peripheral_io},
        {cmd::peripheral_get_info, &ecu::peripheral_info},
        {cmd::peripheral_execute_in_block, &ecu::peripheral_execute},
        {cmd::log_get_directory_entry, &ecu::log_directory},
        {cmd::log_open_file, &ecu::log_open},
        {cmd::log_read_file, &ecu::log_read},
        {cmd::log_close_file, &ecu::log_close},
        {cmd::log_begin_logging, &ecu::log_begin},
        {cmd::log_stop_logging, &ecu::log_stop},
        {cmd::log_read_raw_lba, &ecu::log_read_raw},
        {cmd::log_format_raw, &ecu::log_format_raw},
        {cmd::sim_terminate, &ecu::sim_terminate},
    };
    const auto h = handlers.find(code);
    if (h == handlers.end() || (st_.mode == ecu_mode::boot && !boot_loader_answers(code))) {
        r.status = status::header_unsupported;
        return {};
    }
    return (this->*h->second)(request, o, r);
}

bytes ecu::target_version(std::span<const std::uint8_t>, byte_order o, reply&) {
    bytes b(8);
    put32(b, 0, cfg_.firmware_version, o);
    put32(b, 4, st_.mode == ecu_mode::boot ? 0 : cfg_.app_transferstructs_version, o);
    return b;
}

bytes ecu::board_descriptor(std::span<const std::uint8_t>, byte_order, reply&) {
    bytes b(18, 0);
    std::copy_n(cfg_.board_model.begin(), std::min<std::size_t>(cfg_.board_model.size(), 8), b.begin());
    std::copy_n(cfg_.board_serial.begin(), std::min<std::size_t>(cfg_.board_serial.size(), 8), b.begin() + 8);
    b[16] = 1;   // ConnectorInfo
    b[17] = 80;  // NumberOfPins
    return b;
}

// SystemDescriptor_TS: board descriptor (18), channels @18, coils @20, injectors @21,
// NV base @24, NV pages @28, NV page size @32, target type @36; 40 bytes.
bytes ecu::system_descriptor(std::span<const std::uint8_t> q, byte_order o, reply& r) {
    bytes b = board_descriptor(q, o, r);
    b.resize(40, 0);
    put16(b, 18, cfg_.max_configuration_channels, o);
    b[20] = 8;
    b[21] = 8;
    put32(b, 24, 0x80100000, o);
    b[28] = 2;
    put32(b, 32, 0x10000, o);
    b[36] = 1;
    return b;
}

// ConfigurationFindChannelByNameRequest_TS: channel_name @0, flags @8, fixed part 12.
bytes ecu::find_channel(std::span<const std::uint8_t> q, byte_order o, reply&) {
    const request_arrays a(q, 12, {0});
    // The name travels with its terminating zero and nothing behind it.
    if (a[0].element_size != 1 || a[0].elements.empty() || a[0].elements.back() != 0)
        throw malformed_request("channel name without its terminating zero");
    const std::string name = array_text(a[0]);
    if (name.size() + 1 != a[0].elements.size()) throw malformed_request("bytes behind the channel name");
    st_.channel_lookups.push_back(name);
    std::uint16_t number = invalid_channel;
    for (std::size_t i = 0; i < channels_.size(); ++i)
        if (channels_[i].name == name) number = std::uint16_t(first_channel_number + i);
    bytes b(2);
    put16(b, 0, number, o);
    return b;
}

// ConfigurationFindChannelValueResponse_TS: channel @0, value @4; 8 bytes.
bytes ecu::find_channel_value(std::span<const std::uint8_t> q, byte_order o, reply& r) {
    const bytes found = find_channel(q, o, r);
    const std::uint16_t number = get16(found, 0, o);
    bytes b(8, 0);
    put16(b, 0, number, o);
    if (number != invalid_channel) put_float(b, 4, channel_value(number - first_channel_number), o);
    return b;
}

// GenericArray_DTS of 16-bit channel numbers in, GenericArray_DTS of floats out; an unknown
// channel reads 0.
bytes ecu::read_channels(std::span<const std::uint8_t> q, byte_order o, reply&) {
    const request_arrays a(q, 8, {0});
    if (a[0].count != 0 && a[0].element_size != 2) throw malformed_request("channel numbers are 16-bit");
    std::vector<float> values;
    for (std::size_t i = 0; i < a[0].count; ++i) {
        const std::uint16_t n = get16(a[0].elements, i * 2, o);
        const std::size_t index = n - std::size_t(first_channel_number);
        values.push_back(n >= first_channel_number && index < channels_.size() ? channel_value(index) : 0.0f);
    }
    response_builder b(8, o);
    b.float_array(0, values);
    return b.finish();
}

bytes ecu::query_state(std::span<const std::uint8_t>, byte_order, reply&) {
    return {std::uint8_t(st_.configuration_running ? 1 : 0)};
}

bytes ecu::mode_run(std::span<const std::uint8_t>, byte_order o, reply&) {
    if (st_.configuration_running) return status_string_response(status::bad_state, "Configuration already running", o);
    st_.configuration_running = true;
    return status_string_response(status::ok, "", o);
}

bytes ecu::mode_stop(std::span<const std::uint8_t>, byte_order o, reply&) {
    if (!st_.configuration_running) return status_string_response(status::bad_state, "Configuration already stopped", o);
    st_.configuration_running = false;
    return status_string_response(status::ok, "", o);
}

// EepromEraseRequest_TS: start_block @0, number_of_blocks @4 (start_block holds a flash
// address). No response. Sectors that the flash map does not know are left alone.
bytes ecu::erase_blocks(std::span<const std::uint8_t> q, byte_order o, reply&) {
    st_.erases.push_back({get32(q, 0, o), get32(q, 4, o)});
    const auto erased = flash_map_.erase(st_.erases.back().start_block, st_.erases.back().number_of_blocks);
    if (!erased) return {};
    for (auto it = st_.flash.begin(); it != st_.flash.end();) {
        bytes& block = it->second;
        const std::uint64_t at = it->first, end = at + block.size();
        if (end <= erased->from || at >= erased->to) {
            ++it;
        } else if (at >= erased->from && end <= erased->to) {
            it = st_.flash.erase(it);
        } else {
            const std::uint64_t from = std::max<std::uint64_t>(at, erased->from), to = std::min<std::uint64_t>(end, erased->to);
            std::fill(block.begin() + std::ptrdiff_t(from - at), block.begin() + std::ptrdiff_t(to - at), std::uint8_t(0xFF));
            ++it;
        }
    }
    return {};
}

bool ecu::is_blank(std::uint32_t address, std::uint32_t length) const {
    const std::uint64_t end = std::uint64_t(address) + length;
    for (const auto& [at, block] : st_.flash) {
        const std::uint64_t block_end = std::uint64_t(at) + block.size();
        if (block_end <= address || at >= end) continue;
        const std::uint64_t from = std::max<std::uint64_t>(at, address), to = std::min(block_end, end);
        for (std::uint64_t p = from; p < to; ++p)
            if (block[std::size_t(p - at)] != 0xFF) return false;
    }
    return true;
}

// EepromBlankCheckRequest_TS: source_address @0, size @4 (0: 8 bytes, 1: 8 KB).
bytes ecu::blank_check(std::span<const std::uint8_t> q, byte_order o, reply&) {
    const std::uint32_t address = get32(q, 0, o);
    if (q.size() < 5 || q[4] > 1) throw malformed_request("blank check size");
    ++st_.blank_checks;
    return status_response(is_blank(address, q[4] == 1 ? 8192 : 8) ? status::ok : status::mismatch, o);
}

bytes ecu::sim_terminate(std::span<const std::uint8_t>, byte_order, reply&) {
    st_.terminated = true;
    return {};
}

}  // namespace ecusim
