// Opening a 64 MB package group (every embedded package read and checksummed) against a
// plain read of the same file.
#include <benchmark/benchmark.h>

#include "bench/ratio_reporter.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "pak/pak_group_file.h"
#include "tests/support/pak_writer.h"

namespace {

namespace ts = qx::test_support;

constexpr std::uint32_t package_count = 4;
constexpr std::uint32_t blocks_per_package = 8192;  // 16 MB of image each

const std::string& group_path() {
    static const std::string path = [] {
        const auto file = std::filesystem::temp_directory_path() /
                          ("flashdesk-pak-bench-" + std::to_string(::getpid()) + ".pakgrp");
        ts::pak_group_spec group;
        group.serial_number = "01020AFF";
        for (std::uint32_t type = 0; type < package_count; ++type)
            group.entries.push_back(
                ts::group_entry(ts::sample_pak_spec(type % 2 ? 1 : 2, "01020AFF", type, blocks_per_package, type)));
        ts::save_file(file.string(), ts::write_pak_group(group).data);
        return file.string();
    }();
    return path;
}

void open_group(benchmark::State& state) {
    const std::string& path = group_path();
    for (auto _ : state) {
        qx::pak_group_file group("01020AFF");
        group.open(path);
        if (group.entries.size() != package_count) {
            state.SkipWithError("a package was dropped");
            break;
        }
        benchmark::DoNotOptimize(group.entries.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(std::filesystem::file_size(path)));
}

// The file's bytes through one reused 1 MB buffer: the cost of the reading alone.
void plain_read(benchmark::State& state) {
    const std::string& path = group_path();
    const auto size = std::size_t(std::filesystem::file_size(path));
    std::vector<char> piece(1 << 20);
    for (auto _ : state) {
        std::ifstream file(path, std::ios::binary);
        std::size_t total = 0;
        while (file.read(piece.data(), std::streamsize(piece.size())) || file.gcount() > 0) {
            total += std::size_t(file.gcount());
            benchmark::DoNotOptimize(piece.data());
        }
        if (total != size) {
            state.SkipWithError("short read");
            break;
        }
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(size));
}

BENCHMARK(open_group)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(plain_read)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    std::printf("Writing a group of %u packages, %u MB of image each...\n", package_count,
                blocks_per_package * 2048 / (1024 * 1024));
    group_path();
    qx::bench::ratio_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::filesystem::remove(group_path());

    std::printf("\nOpening a 64 MB package group against a plain read of the same file (real time):\n");
    qx::bench::print_ratio(reporter, "group open", "open_group", "plain_read");
    return 0;
}
