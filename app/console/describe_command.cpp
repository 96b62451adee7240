#include "app/console/describe_command.h"

#include <charconv>
#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/console/command_line.h"
#include "app/console/json_output.h"
#include "app/console/wireshark_dissector.h"
#include "protocol/catalogue_rules.h"
#include "protocol/description.h"

namespace qx::console {

namespace {

struct describe_options {
    std::vector<std::string> keys;
    bool json = false;
    bool wireshark = false;
    std::string out;
};

// A named child first; a key that is a number also finds a numbered child.
const dynamic_map* step(const dynamic_map& node, const std::string& k) {
    if (const dynamic_map* named = node.find(k)) return named;
    if (auto n = protocol::catalogue::parse_number(k); n && k.find_first_not_of("0123456789") == std::string::npos)
        return node.find(*n);
    return nullptr;
}

std::string key_of(const dynamic_map& parent, std::uint32_t index) {
    std::string_view name = parent.name_of(index);
    return name.empty() ? std::to_string(index) : std::string(name);
}

nlohmann::ordered_json to_json(const dynamic_map& n) {
    if (n.kind == dynamic_map::kind_text) return std::string(n.text);
    if (n.kind == dynamic_map::kind_number) return n.number;
    nlohmann::ordered_json j = nlohmann::ordered_json::object();
    for (const auto& [index, c] : n.children) j[key_of(n, index)] = to_json(*c);
    return j;
}

// The subtree as indented lines, gathered into `out` (the whole description is 300 KB: one write).
void print(const dynamic_map& n, std::size_t depth, std::string& out) {
    for (const auto& [index, c] : n.children) {
        out.append(depth * 2, ' ');
        if (const std::string_view name = n.name_of(index); !name.empty()) {
            out += name;
        } else {
            char digits[16];
            out.append(digits, std::to_chars(digits, digits + sizeof digits, index).ptr);
        }
        out += ':';
        if (c->kind == dynamic_map::kind_map) {
            out += '\n';
            print(*c, depth + 1, out);
        } else if (c->kind == dynamic_map::kind_text) {
            (out += ' ') += c->text;
            out += '\n';
        } else {
            char digits[16];
            out += ' ';
            out.append(digits, std::to_chars(digits, digits + sizeof digits, c->number).ptr);
            out += '\n';
        }
    }
}

int write_dissector(const describe_options& o) {
    const std::string lua = wireshark_dissector();
    if (o.out.empty()) {
        std::cout << lua;
        return 0;
    }
    std::ofstream file(o.out, std::ios::binary | std::ios::trunc);
    file << lua;
    if (file.flush()) return 0;
    std::cerr << "flashdesk describe: cannot write " << o.out << "\n";
    return 1;
}

// The node at the key path, or null; `missing` then holds the path up to the first key that
// found nothing.
const dynamic_map* at(const dynamic_map& root, const std::vector<std::string>& keys, std::string& missing) {
    const dynamic_map* node = &root;
    missing.clear();
    for (const auto& k : keys) {
        missing += (missing.empty() ? "" : " ") + k;
        node = step(*node, k);
        if (!node) return nullptr;
    }
    return node;
}

int run(const describe_options& o) {
    if (o.wireshark) return write_dissector(o);
    // Only the entries under the key path are built; a key that names a numbered child of a
    // named node (commands 3) is no name of the path, and then the whole description is built.
    // The tree lives as long as the process: taking it apart again would only delay the exit.
    const std::vector<std::string_view> prefix(o.keys.begin(), o.keys.end());
    static dynamic_map* const kept = new dynamic_map;
    dynamic_map& root = *kept;
    protocol::build_description(root, prefix);
    std::string missing;
    const dynamic_map* node = at(root, o.keys, missing);
    if (!node && !o.keys.empty()) {
        root.clear();
        protocol::build_description(root);
        node = at(root, o.keys, missing);
    }
    if (!node) {
        std::cerr << "flashdesk describe: no entry " << missing << "\n";
        return 1;
    }
    if (o.json) std::cout << json_text(to_json(*node)) << "\n";
    else if (node->kind == dynamic_map::kind_text) std::cout << node->text << "\n";
    else if (node->kind == dynamic_map::kind_number) std::cout << node->number << "\n";
    else {
        std::string text;
        print(*node, 0, text);
        std::cout.write(text.data(), std::streamsize(text.size()));
    }
    return 0;
}

}  // namespace

void add_describe_command(CLI::App& app) {
    auto opts = std::make_shared<describe_options>();
    auto* cmd = app.add_subcommand("describe", "Print the protocol description at a key path");
    if (!chosen(*cmd)) return;
    cmd->add_option("KEY", opts->keys, "Key path, e.g. structs ReadDataRequest_TS fields");
    auto* json = cmd->add_flag("--json", opts->json, "Print JSON");
    auto* wireshark = cmd->add_flag("--wireshark", opts->wireshark,
                                    "Write a Lua dissector for Wireshark made from the catalogue (to standard output, or --out FILE)");
    wireshark->excludes(json);
    cmd->add_option("--out", opts->out, "With --wireshark: the file to write")->needs(wireshark);
    cmd->callback([opts] {
        if (int rc = run(*opts)) throw CLI::RuntimeError(rc);
    });
}

}  // namespace qx::console
