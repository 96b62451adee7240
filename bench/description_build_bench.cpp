// Building the protocol description: the tree of named nodes, each entry walked from the root,
// against inserting the same entries into one flat map of full key paths; and the first build
// in a fresh process (this program started again with --cold, which builds once and prints how
// long that took), as the one process that reads the description meets it.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "bench/ratio_reporter.h"
#include "protocol/description.h"

namespace {

void flatten(const qx::dynamic_map& n, const std::string& path,
             std::vector<std::pair<std::string, std::string>>& out) {
    if (n.kind != qx::dynamic_map::kind_map) {
        out.emplace_back(path, n.kind == qx::dynamic_map::kind_text ? std::string(n.text) : std::to_string(n.number));
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

// The first build in this process, in milliseconds of wall time.
double cold_build() {
    const auto start = std::chrono::steady_clock::now();
    qx::dynamic_map root;
    qx::protocol::build_description(root);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Starts this program again with --cold `runs` times, on one core, and reads what each printed.
std::vector<double> cold_builds(int runs) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        int out[2];
        if (::pipe(out) != 0) break;
        const pid_t child = ::fork();
        if (child == 0) {
            ::dup2(out[1], 1);
            ::execl("/proc/self/exe", "description_build_bench", "--cold", nullptr);
            ::_exit(127);
        }
        ::close(out[1]);
        char text[64] = {};
        const ssize_t n = ::read(out[0], text, sizeof text - 1);
        ::close(out[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        if (n > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0) ms.push_back(std::atof(text));
    }
    return ms;
}

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--cold") {
        std::printf("%.4f\n", cold_build());
        return 0;
    }
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
    std::vector<double> cold;
    {
        qx::bench::one_core pinned;
        cold = cold_builds(21);
    }
    const qx::bench::spread c = qx::bench::spread_of(cold);
    if (c.count > 0)
        std::printf("description tree cold build: %.3f ms median of %zu runs (min %.3f, max %.3f), each the first "
                    "build in a fresh process\n",
                    c.median, c.count, c.min, c.max);
    else
        std::printf("description tree cold build: not measured\n");
    return 0;
}
