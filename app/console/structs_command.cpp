#include "app/console/structs_command.h"

#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/console/command_line.h"
#include "app/console/json_output.h"
#include "protocol/layout.h"

namespace qx::console {

namespace {

struct structs_options {
    std::vector<std::string> names;
    bool json = false;
    std::optional<int> cfgitem;
};

nlohmann::ordered_json to_json(const protocol::structure_layout& l) {
    nlohmann::ordered_json j;
    j["name"] = l.name;
    j["size"] = l.fixed_size;
    j["dts"] = l.dts;
    j["fields"] = nlohmann::ordered_json::array();
    for (const auto& f : l.fields)
        j["fields"].push_back({{"name", f.name}, {"type", f.type}, {"offset", f.offset}, {"size", f.size}});
    j["arrays"] = nlohmann::ordered_json::array();
    for (const auto& a : l.arrays)
        j["arrays"].push_back({{"field", a.field}, {"element_size_at", a.element_size_at}});
    return j;
}

void print_text(const protocol::structure_layout& l) {
    std::printf("%s  size %u%s\n", l.name.c_str(), l.fixed_size, l.dts ? "  dts" : "");
    for (const auto& f : l.fields)
        std::printf("  %-36s %-52s offset %4u  size %4u\n", f.name.c_str(), f.type.c_str(), f.offset, f.size);
    for (const auto& a : l.arrays)
        std::printf("  array %-30s element size at %u\n", a.field.c_str(), a.element_size_at);
}

int run(const structs_options& o) {
    std::vector<const protocol::structure_layout*> chosen;
    if (o.cfgitem) chosen.push_back(&protocol::cfgitem_layout(std::uint8_t(*o.cfgitem)));
    for (const auto& n : o.names) {
        const auto* l = protocol::find_layout(n);
        if (!l) {
            std::cerr << "flashdesk structs: no structure named " << n << "\n";
            return 1;
        }
        chosen.push_back(l);
    }
    if (chosen.empty())
        for (const auto& l : protocol::all_layouts()) chosen.push_back(&l);

    if (o.json) {
        auto out = nlohmann::ordered_json::array();
        for (const auto* l : chosen) out.push_back(to_json(*l));
        std::cout << json_text(out) << "\n";
    } else {
        for (const auto* l : chosen) print_text(*l);
    }
    return 0;
}

}  // namespace

void add_structs_command(CLI::App& app) {
    auto opts = std::make_shared<structs_options>();
    auto* cmd = app.add_subcommand("structs", "Print the layout of transfer structures");
    if (!chosen(*cmd)) return;
    cmd->add_option("NAME", opts->names, "Structures to print (all when none is named)");
    cmd->add_flag("--json", opts->json, "Print JSON");
    cmd->add_option("--cfgitem", opts->cfgitem, "Print the configuration item structure of this type number")
        ->check(CLI::Range(0, 255).description("an item type is 0 to 255"));
    cmd->callback([opts] {
        if (int rc = run(*opts)) throw CLI::RuntimeError(rc);
    });
}

}  // namespace qx::console
