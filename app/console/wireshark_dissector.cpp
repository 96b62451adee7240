#include "app/console/wireshark_dissector.h"

#include <sstream>

#include "flashdesk_version.h"
#include "protocol/catalogue_rules.h"
#include "protocol/commands.h"
#include "protocol/layout.h"

namespace qx::console {

namespace {

using protocol::leaf_placement;

// A Lua string literal.
std::string quoted(std::string_view text) {
    std::string q = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') q += '\\';
        q += c;
    }
    return q + '"';
}

std::string proto_field(std::string_view kind, std::string_view structure, std::string_view name,
                        std::string_view type) {
    std::ostringstream f;
    f << "field(ProtoField." << kind << '(' << quoted(wireshark_field(structure, name)) << ", " << quoted(name);
    if (kind == "bytes") f << ", base.NONE, " << quoted(type);
    else if (kind == "float") f << ", nil, " << quoted(type);
    else f << ", base.DEC, nil, nil, " << quoted(type);
    f << "))";
    return f.str();
}

std::string_view number_kind(std::string_view type) {
    if (type == "WORD") return "uint16";
    if (type == "DWORD") return "uint32";
    if (type == "float") return "float";
    return "uint8";
}

void write_structure(std::ostream& out, const protocol::structure_layout& l) {
    out << "STRUCTS[" << quoted(l.name) << "] = { fixed = " << l.fixed_size << ", arrays = {";
    for (std::size_t i = 0; i < l.arrays.size(); ++i) out << (i ? ", " : " ") << l.arrays[i].element_size_at;
    out << (l.arrays.empty() ? "" : " ") << "}, leaves = {\n";
    for (const leaf_placement& leaf : protocol::leaves_of(l)) {
        out << "  { ";
        switch (leaf.kind) {
            case leaf_placement::scalar:
                out << "SC, " << leaf.offset << ", " << leaf.size << ", "
                    << proto_field(number_kind(leaf.type), l.name, leaf.name, leaf.type);
                break;
            case leaf_placement::byte_run:
                out << "RUN, " << leaf.offset << ", " << leaf.size << ", " << proto_field("bytes", l.name, leaf.name, leaf.type);
                break;
            case leaf_placement::counted_array:
                out << "ARR, " << leaf.offset << ", " << leaf.size + 1 << ",\n    "
                    << proto_field("uint8", l.name, leaf.name + ".element_size", "BYTE") << ",\n    "
                    << proto_field("uint16", l.name, leaf.name + ".count", "WORD") << ",\n    "
                    << proto_field("bytes", l.name, leaf.name, leaf.type);
                break;
        }
        out << " },\n";
    }
    out << "} }\n";
}

std::string structure_text(const protocol::structure_ref& ref) {
    switch (ref.kind) {
        case protocol::structure_ref::none: return "false";
        case protocol::structure_ref::cfgitem: return quoted("cfgitem");
        case protocol::structure_ref::structure: return quoted(ref.name);
    }
    return "false";
}

}  // namespace

std::string wireshark_field(std::string_view structure, std::string_view leaf) {
    std::string name = "trelink." + std::string(structure) + ".";
    for (const char c : leaf) {
        if (c == '[') name += '.';
        else if (c != ']') name += c;
    }
    return name;
}

std::string wireshark_dissector() {
    std::ostringstream out;
    out << "-- Trelink: the ECU protocol for Wireshark, written by `flashdesk describe --wireshark` (Flashdesk "
        << FLASHDESK_VERSION << ")\n"
           "-- from the structure catalogue and the command table. Make it again rather than edit it.\n"
           "local trelink = Proto(\"trelink\", \"Trelink ECU protocol\")\n"
           "local F = {}\n"
           "local function field(f) F[#F + 1] = f; return f end\n"
           "local SC, RUN, ARR = 1, 2, 3\n"
           "local STRUCTS, ITEMS, COMMANDS, COMMAND_TYPES = {}, {}, {}, {}\n\n";
    for (const protocol::structure_layout& l : protocol::all_layouts()) write_structure(out, l);
    out << '\n';
    for (const auto& t : protocol::catalogue::item_types)
        out << "ITEMS[" << unsigned(t.number) << "] = " << quoted(t.structure) << '\n';
    out << '\n';
    for (const auto& c : protocol::commands) {
        out << "COMMANDS[" << unsigned(c.code) << "] = { " << quoted(c.name) << ", " << structure_text(c.request) << ", "
            << structure_text(c.response) << " }\n";
        out << "COMMAND_TYPES[0x" << std::hex << protocol::command_type(c.code) << std::dec << "] = " << quoted(c.name)
            << '\n';
    }
    out << '\n' << wireshark_dissector_engine;
    return out.str();
}

}  // namespace qx::console
