// Building the protocol description at start-up: the tree of named nodes, each entry walked
// from the root, against inserting the same entries into one flat map of full key paths.
#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "protocol/description.h"

namespace {

void flatten(const qx::dynamic_map& n, const std::string& path,
             std::vector<std::pair<std::string, std::string>>& out) {
    if (n.kind != qx::dynamic_map::kind_map) {
        out.emplace_back(path, n.kind == qx::dynamic_map::kind_text ? n.text : std::to_string(n.number));
        return;
    }
    for (const auto& [index, c] : n.children) {
        std::string_view name = n.name_of(index);
        flatten(*c, path + "/" + (name.empty() ? std::to_string(index) : std::string(name)), out);
    }
}

const std::vector<std::pair<std::string, std::string>>& entries() {
    static const auto all = [] {
        qx::dynamic_map root;
        qx::protocol::build_description(root);
        std::vector<std::pair<std::string, std::string>> out;
        flatten(root, "", out);
        return out;
    }();
    return all;
}

void description_tree(benchmark::State& state) {
    for (auto _ : state) {
        qx::dynamic_map root;
        benchmark::DoNotOptimize(qx::protocol::build_description(root));
    }
    state.counters["entries"] = double(entries().size());
}

void flat_map_of_paths(benchmark::State& state) {
    const auto& all = entries();
    for (auto _ : state) {
        std::map<std::string, std::string> flat;
        for (const auto& [path, value] : all) flat.emplace(path, value);
        benchmark::DoNotOptimize(flat.size());
    }
    state.counters["entries"] = double(all.size());
}

}  // namespace

BENCHMARK(description_tree)->Unit(benchmark::kMicrosecond);
BENCHMARK(flat_map_of_paths)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
