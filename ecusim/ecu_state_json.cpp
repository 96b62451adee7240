// The ECU's state as JSON: what was programmed, erased and received, for tests and the demo.
#include <nlohmann/json.hpp>

#include "ecusim/ecu_model.h"

namespace ecusim {


std::string ecu::state_json() const {
    using nlohmann::json;
    json j;
    j["mode"] = st_.mode == ecu_mode::boot ? "boot" : "app";
    j["serial"] = serial_text();
    j["commands"] = st_.commands;
    json by_code = json::object();
    for (const auto& [code, n] : st_.commands_by_code) by_code[std::to_string(code)] = n;
    j["commands_by_code"] = by_code;
    j["command_codes"] = st_.command_codes;
    j["configuration_running"] = st_.configuration_running;
    j["logging_active"] = st_.logging_active;
    j["erases"] = json::array();
    for (const auto& e : st_.erases)
        j["erases"].push_back({{"start_block", hex32(e.start_block)}, {"number_of_blocks", e.number_of_blocks}});
    j["blank_checks"] = st_.blank_checks;
    json sec;
    sec["accepted_certificate"] = st_.accepted_certificate;
    sec["rejected_keys"] = st_.rejected_keys;
    sec["key_block"] = st_.key_block ? json(hex(*st_.key_block)) : json(nullptr);
    sec["first_block_crc32"] = st_.first_block ? json(hex32(crc32_ieee(*st_.first_block))) : json(nullptr);
    sec["blocks"] = json::array();
    for (const auto& b : st_.blocks)
        sec["blocks"].push_back({{"sub_function", b.sub_function},
                                 {"format", b.format},
                                 {"buffer_address", hex32(b.buffer_address)},
                                 {"flash_address", hex32(b.flash_address)},
                                 {"size", b.data.size()},
                                 {"crc32", hex32(crc32_ieee(b.data))}});
    sec["dump_sections"] = hex(st_.dump_sections);
    j["security"] = sec;
    j["flash"] = json::array();
    for (const auto& [at, b] : st_.flash)
        j["flash"].push_back({{"address", hex32(at)}, {"size", b.size()}, {"crc32", hex32(crc32_ieee(b))}});
    j["io_controls"] = json::array();
    for (const auto& c : st_.io_controls)
        j["io_controls"].push_back({{"function", c.function},
                                    {"io_target", c.io_target},
                                    {"io_data_w", c.io_data_w},
                                    {"io_data_d", c.io_data_d}});
    json r8c;
    r8c["current_block"] = st_.r8c.current_block;
    r8c["erases"] = st_.r8c.erases;
    r8c["programs"] = st_.r8c.programs;
    r8c["programmed_addresses"] = json::array();
    for (const auto a : st_.r8c.programmed_addresses) r8c["programmed_addresses"].push_back(hex32(a));
    r8c["flash_crc32"] = hex32(crc32_ieee(st_.r8c.flash));
    j["r8c"] = r8c;
    j["resets"] = st_.resets;
    j["raw_formats"] = st_.raw_formats;
    j["framing_errors"] = st_.framing_errors;
    j["terminated"] = st_.terminated;
    return j.dump(2);
}

}  // namespace ecusim
