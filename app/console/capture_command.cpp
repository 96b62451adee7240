#include "app/console/capture_command.h"

#include <cstdio>
#include <ctime>
#include <iostream>
#include <memory>
#include <ostream>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "app/console/capture_exchanges.h"
#include "app/console/json_output.h"

namespace qx::console {

namespace {

using json = nlohmann::ordered_json;
namespace pc = platform::pcapng;

std::string utc_text(std::uint64_t ns) {
    const auto seconds = std::time_t(ns / 1000000000u);
    std::tm tm{};
    ::gmtime_r(&seconds, &tm);
    char text[48];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
    std::snprintf(text + n, sizeof text - n, ".%06uZ", unsigned(ns % 1000000000u / 1000u));
    return text;
}

double latency_ms(const captured_exchange& e) {
    return e.answered_ns >= e.sent_ns ? double(e.answered_ns - e.sent_ns) / 1e6 : 0.0;
}

json fields_json(const protocol::wire_structure& s) {
    json j;
    j["structure"] = s.name;
    json fields = json::object();
    for (const auto& f : s.fields) fields[f.name] = f.value;
    j["fields"] = std::move(fields);
    if (!s.note.empty()) j["note"] = s.note;
    return j;
}

void print_fields(std::ostream& out, const char* which, const protocol::wire_structure& s, bool had_bytes) {
    if (s.name == "NULL" && !had_bytes) return;
    out << "    " << which << ' ' << s.name << '\n';
    for (const auto& f : s.fields) out << "      " << f.name << ": " << f.value << '\n';
    if (!s.note.empty()) out << "      (" << s.note << ")\n";
}

}  // namespace

int show_capture(const capture_show_options& o, std::ostream& out, std::ostream& err) {
    pc::capture capture;
    try {
        capture = pc::read_file(o.file);
    } catch (const std::exception& e) {
        err << "flashdesk capture show: " << o.file << ": " << e.what() << '\n';
        return 1;
    }
    const capture_reading reading = read_exchanges(capture);
    auto link_name = [&](std::uint32_t link) { return capture.interfaces[link].name; };

    if (o.json) {
        for (std::size_t i = 0; i < capture.interfaces.size(); ++i) {
            const pc::interface_description& d = capture.interfaces[i];
            out << json_text(json{{"type", "link"}, {"link", i}, {"name", d.name}, {"description", d.description},
                                  {"command_line", d.comment}},
                             -1)
                << '\n';
        }
    } else {
        for (std::size_t i = 0; i < capture.interfaces.size(); ++i) {
            const pc::interface_description& d = capture.interfaces[i];
            out << "link " << i << ": " << d.name << " (" << d.description << ")"
                << (d.comment.empty() ? "" : ": " + d.comment) << '\n';
        }
        char head[160];
        std::snprintf(head, sizeof head, "%5s  %-27s  %-40s %7s  %-6s  %8s  %10s\n", "#", "time", "command", "request",
                      "status", "response", "latency");
        out << head;
    }

    for (std::size_t i = 0; i < reading.exchanges.size(); ++i) {
        const captured_exchange& e = reading.exchanges[i];
        const std::string name = command_name_of(e.command_type);
        protocol::wire_structure request, response;
        if (o.fields) {
            request = protocol::decode_wire(structure_of(e.command_type, false), e.request, e.order);
            if (e.answered || !e.response.empty())
                response = protocol::decode_wire(structure_of(e.command_type, true), e.response, e.order);
        }
        if (o.json) {
            json j{{"type", "exchange"},           {"exchange", i + 1},
                   {"link", link_name(e.link)},    {"time", utc_text(e.sent_ns)},
                   {"command", name},              {"request_size", e.request.size()},
                   {"status", e.answered ? json(e.status) : json(nullptr)},
                   {"response_size", e.answered ? json(e.response.size()) : json(nullptr)},
                   {"latency_ms", e.answered ? json(latency_ms(e)) : json(nullptr)}};
            if (o.fields) {
                j["request"] = fields_json(request);
                if (e.answered || !e.response.empty()) j["response"] = fields_json(response);
            }
            if (!e.note.empty()) j["note"] = e.note;
            out << json_text(j, -1) << '\n';
            continue;
        }
        char line[220];
        if (e.answered)
            std::snprintf(line, sizeof line, "%5zu  %-27s  %-40s %7zu  0x%04X  %8zu  %7.3f ms\n", i + 1,
                          utc_text(e.sent_ns).c_str(), name.c_str(), e.request.size(), unsigned(e.status),
                          e.response.size(), latency_ms(e));
        else
            std::snprintf(line, sizeof line, "%5zu  %-27s  %-40s %7zu  %-6s  %8s  %10s\n", i + 1,
                          utc_text(e.sent_ns).c_str(), name.c_str(), e.request.size(), "-", "-", "-");
        out << line;
        if (!e.note.empty()) out << "    (" << e.note << ")\n";
        if (o.fields) {
            print_fields(out, "request", request, !e.request.empty());
            if (e.answered || !e.response.empty()) print_fields(out, "response", response, !e.response.empty());
        }
    }

    for (const std::string& note : reading.notes) {
        if (o.json) out << json_text(json{{"type", "note"}, {"text", note}}, -1) << '\n';
        else out << "note: " << note << '\n';
    }
    if (!capture.damage.empty()) {
        const std::string text = o.file + " is " + capture.damage + "; read up to there";
        if (o.json) out << json_text(json{{"type", "note"}, {"text", text}}, -1) << '\n';
        err << "flashdesk capture show: " << text << '\n';
    }
    return 0;
}

void add_capture_command(CLI::App& app) {
    auto opts = std::make_shared<capture_show_options>();
    CLI::App* capture = app.add_subcommand("capture", "captures of every transfer with the ECU (--capture FILE)");
    capture->require_subcommand(1);
    CLI::App* show = capture->add_subcommand("show", "one line per exchange of a capture: time, command, sizes, status, latency");
    show->add_option("FILE", opts->file, "the capture (pcapng)")->required()->check(CLI::ExistingFile);
    show->add_flag("--fields", opts->fields, "every field of each request and response, as flashdesk describe names them");
    show->add_flag("--json", opts->json, "one JSON object per line");
    show->callback([opts] {
        if (int rc = show_capture(*opts, std::cout, std::cerr)) throw CLI::RuntimeError(rc);
    });
}

}  // namespace qx::console
