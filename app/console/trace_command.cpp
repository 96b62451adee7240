#include "app/console/trace_command.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <limits>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/console/command_line.h"
#include "app/console/visible_text.h"

namespace qx::console {

namespace {

struct per_command {
    unsigned long count = 0;
    long long total_us = 0, slowest_us = 0;
};

}  // namespace

bool summarise_trace(std::istream& in, std::ostream& out, std::ostream& err) {
    std::map<std::string, per_command> by_name;
    std::string line;
    for (unsigned long number = 1; std::getline(in, line); ++number) {
        if (line.empty()) continue;
        std::istringstream fields(line);
        std::string when, name, status;
        unsigned long request = 0, response = 0;
        long long us = -1;
        fields >> when >> name >> request >> response >> status >> us;
        // Every line is written whole with its newline: a last line without one was cut short.
        if (in.eof()) {
            err << "line " << number << " was cut short (the trace was still being written, or a crash) and is skipped.\n";
            break;
        }
        if (!fields || us < 0) {
            err << "Error: line " << number << " is not a trace line: " << visible(line) << '\n';
            return false;
        }
        per_command& c = by_name[name];
        ++c.count;
        c.total_us = us > std::numeric_limits<long long>::max() - c.total_us ? std::numeric_limits<long long>::max()
                                                                               : c.total_us + us;
        c.slowest_us = std::max(c.slowest_us, us);
    }
    std::vector<std::pair<std::string, per_command>> rows(by_name.begin(), by_name.end());
    std::stable_sort(rows.begin(), rows.end(),
                     [](const auto& a, const auto& b) { return a.second.total_us > b.second.total_us; });
    char text[160];
    std::snprintf(text, sizeof text, "%-40s %8s %12s %12s\n", "command", "count", "total ms", "slowest ms");
    out << text;
    for (const auto& [name, c] : rows) {
        // The name whole, however long: a cut one would lose the line's end.
        const std::string shown = visible(name);
        out << shown << std::string(shown.size() < 40 ? 40 - shown.size() : 0, ' ');
        std::snprintf(text, sizeof text, " %8lu %12.3f %12.3f\n", c.count, double(c.total_us) / 1000.0,
                      double(c.slowest_us) / 1000.0);
        out << text;
    }
    return true;
}

void add_trace_command(CLI::App& app) {
    auto file = std::make_shared<std::string>();
    CLI::App* trace = app.add_subcommand("trace", "exchange traces");
    if (!chosen(*trace)) return;
    trace->require_subcommand(1);
    CLI::App* show = trace->add_subcommand("show", "count, total and slowest time per command of a trace file");
    show->add_option("FILE", *file, "the trace")->required()->check(CLI::ExistingFile);
    show->callback([file] {
        std::ifstream in(*file);
        if (!summarise_trace(in, std::cout, std::cerr)) throw CLI::RuntimeError(1);
    });
}

}  // namespace qx::console
