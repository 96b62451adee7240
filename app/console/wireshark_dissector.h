// `flashdesk describe --wireshark`: a Lua dissector for Wireshark generated from the structure
// catalogue and the command table: every command by name, every field of every structure by
// its catalogue name (as `flashdesk describe` and `flashdesk capture show --fields` name it)
// and type, arrays where the library lays them out.
#pragma once

#include <string>
#include <string_view>

namespace qx::console {

std::string wireshark_dissector();

// The field's name in Wireshark: "trelink.<structure>.<leaf>", an index "[2]" as ".2".
std::string wireshark_field(std::string_view structure, std::string_view leaf);

// The engine the tables are written in front of (wireshark_dissector.lua, built in).
extern const char* const wireshark_dissector_engine;

}  // namespace qx::console
