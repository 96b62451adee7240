// Building the protocol description at start-up: the tree of named nodes, each entry walked
// from the root, against inserting the same entries into one flat map of full key paths.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bench/ratio_reporter.h"
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

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    qx::bench::register_pairs("description_tree", description_tree, "flat_map_of_paths", flat_map_of_paths,
                              {.unit = benchmark::kMicrosecond});
    qx::bench::ratio_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("\nThe protocol description built as a tree against a flat map of its %zu paths (real time):\n",
                entries().size());
    const qx::bench::spread tree = reporter.time_of("description_tree");
    if (tree.count > 0)
        std::printf("description tree build: %.3f ms median of %zu runs (min %.3f, max %.3f)\n", tree.median / 1e3,
                    tree.count, tree.min / 1e3, tree.max / 1e3);
    qx::bench::print_ratio(reporter, "description tree", "description_tree", "flat_map_of_paths");
    return 0;
}
