#include "app/console/pak_command.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "app/console/command_line.h"
#include "app/console/json_output.h"
#include "app/console/visible_text.h"
#include "pak/pak_file.h"
#include "pak/pak_group_file.h"

namespace qx::console {

namespace {

using json = nlohmann::ordered_json;

struct pak_info_options {
    std::string path;
    bool json = false;
};

bool ends_with_pakgrp(std::string path) {
    std::transform(path.begin(), path.end(), path.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return path.size() >= 7 && path.compare(path.size() - 7, 7, ".pakgrp") == 0;
}

// A group by its name or, whatever the name, by its first magic word.
bool is_group_file(const std::string& path) {
    if (ends_with_pakgrp(path)) return true;
    std::ifstream f(path, std::ios::binary);
    std::array<unsigned char, 4> b{};
    if (!f.read(reinterpret_cast<char*>(b.data()), b.size())) return false;
    const std::uint32_t word = b[0] | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24;
    return word == pak_group_tag::MAGIC_1;
}

json package_fields(const pak_file& p, const pak_body_sizes& body) {
    json j;
    j["layout"] = p.layout;
    j["serial_number"] = p.serial_number;
    j["author"] = p.author;
    j["date"] = p.date;
    j["description"] = p.description;
    j["version"] = p.version;
    j["image_type"] = {{"code", p.image_type}, {"name", std::string(image_type_name(p.image_type))}};
    j["certificate_size"] = body.certificate;
    j["aux_size"] = body.aux_data;
    j["image_size"] = body.image_data;
    j["checksum"] = p.has_checksum ? "ok" : "absent";
    return j;
}

// Texts as they are; numbers in decimal; the image type as "code (name)".
void print_text(const json& j, std::ostream& out, const std::string& indent) {
    for (const auto& [key, value] : j.items()) {
        if (key == "image_type") {
            out << indent << key << ": " << value["code"].get<std::uint32_t>();
            const auto name = value["name"].get<std::string>();
            if (!name.empty()) out << " (" << name << ")";
            out << "\n";
        } else if (key == "entries") {
            std::size_t i = 0;
            for (const auto& e : value) {
                out << indent << "entry " << i++ << ":\n";
                print_text(e, out, indent + "  ");
            }
        } else if (value.is_string()) {
            out << indent << key << ": " << visible(value.get<std::string>()) << "\n";
        } else {
            out << indent << key << ": " << value.dump() << "\n";
        }
    }
}

json package_info(const std::string& path) {
    pak_file package;
    pak_body_sizes body;
    try {
        package.check_file_layout2(path, body);
    } catch (const pak_file::exception_invalid& layout2) {
        try {
            package.check_file_layout1(path, body);
        } catch (const pak_file::exception_invalid&) {
            // A package that reached its checksum in layout 2 is a layout-2 package.
            if (layout2.message == "Pak file checksum error.") throw layout2;
            throw;
        }
    }
    return package_fields(package, body);
}

json group_info(const std::string& path) {
    pak_group_file group;
    group.open(path);
    json j;
    j["serial_number"] = group.serial_number;
    j["declared_count"] = group.declared_count;
    j["dropped_count"] = group.declared_count - group.entries.size();
    j["entries"] = json::array();
    for (const auto& e : group.entries) {
        json entry;
        entry["name"] = e.name;
        entry["entry_type"] = e.entry_type;
        entry["layout"] = e.header.layout;
        entry["package_position"] = e.package_position;
        const json fields = package_fields(e.header, e.body);
        for (const auto& [key, value] : fields.items())
            if (key != "layout") entry[key] = value;
        j["entries"].push_back(std::move(entry));
    }
    return j;
}

}  // namespace

int pak_info(const std::string& path, bool as_json, std::ostream& out, std::ostream& err) {
    json j;
    try {
        j = is_group_file(path) ? group_info(path) : package_info(path);
    } catch (const qx::exception& e) {
        err << visible_lines(e.message) << "\n";
        return 1;
    }
    if (as_json)
        out << json_text(j) << "\n";
    else
        print_text(j, out, "");
    // A group that lost entries would update an ECU without those images.
    if (const auto dropped = j.value("dropped_count", std::size_t(0))) {
        err << dropped << " of " << j["declared_count"].get<std::uint32_t>()
            << " declared entries dropped: the group is incomplete.\n";
        return 1;
    }
    return 0;
}

void add_pak_command(CLI::App& app) {
    auto* pak = app.add_subcommand("pak", "Update packages (.pak) and package groups (.pakgrp)");
    if (!chosen(*pak)) return;
    pak->require_subcommand(1);
    auto opts = std::make_shared<pak_info_options>();
    auto* info = pak->add_subcommand("info", "Check a package or package-group file and print its fields");
    info->add_option("FILE", opts->path, "The .pak or .pakgrp file")->required();
    info->add_flag("--json", opts->json, "Print JSON");
    info->callback([opts] {
        if (int rc = pak_info(opts->path, opts->json, std::cout, std::cerr)) throw CLI::RuntimeError(rc);
    });
}

}  // namespace qx::console
