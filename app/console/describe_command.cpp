#include "app/console/describe_command.h"

#include <charconv>
#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

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
    if (n.kind == dynamic_map::kind_text) return n.text;
    if (n.kind == dynamic_map::kind_number) return n.number;
    nlohmann::ordered_json j = nlohmann::ordered_json::object();
    for (const auto& [index, c] : n.children) j[key_of(n, index)] = to_json(*c);
    return j;
}

void print(const dynamic_map& n, int depth) {
    for (const auto& [index, c] : n.children) {
        std::cout << std::string(std::size_t(depth) * 2, ' ') << key_of(n, index) << ":";
        if (c->kind == dynamic_map::kind_map) {
            std::cout << "\n";
            print(*c, depth + 1);
        } else if (c->kind == dynamic_map::kind_text) {
            std::cout << " " << c->text << "\n";
        } else {
            std::cout << " " << c->number << "\n";
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

int run(const describe_options& o) {
    if (o.wireshark) return write_dissector(o);
    dynamic_map root;
    protocol::build_description(root);
    const dynamic_map* node = &root;
    std::string path;
    for (const auto& k : o.keys) {
        path += (path.empty() ? "" : " ") + k;
        node = step(*node, k);
        if (!node) {
            std::cerr << "flashdesk describe: no entry " << path << "\n";
            return 1;
        }
    }
    if (o.json) std::cout << json_text(to_json(*node)) << "\n";
    else if (node->kind == dynamic_map::kind_text) std::cout << node->text << "\n";
    else if (node->kind == dynamic_map::kind_number) std::cout << node->number << "\n";
    else print(*node, 0);
    return 0;
}

}  // namespace

void add_describe_command(CLI::App& app) {
    auto opts = std::make_shared<describe_options>();
    auto* cmd = app.add_subcommand("describe", "Print the protocol description at a key path");
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
