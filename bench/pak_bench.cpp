// Opening a 64 MB package group (every embedded package read and checksummed) against a
// plain read of the same file, and the CRC-32C routines' throughput: three instruction streams
// against one.
#include <benchmark/benchmark.h>

#include "bench/ratio_reporter.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "pak/crc32c.h"
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

long max_resident_kb() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Opens the group once in a forked child, whose maximum resident size starts at the parent's
// current one rather than at the peak of writing the group. Prints both sizes.
void print_open_peak_memory() {
    int fds[2];
    if (::pipe(fds) != 0) return;
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child == 0) {
        long kb[2] = {max_resident_kb(), 0};
        qx::pak_group_file group("01020AFF");
        group.open(group_path());
        kb[1] = max_resident_kb();
        (void)!::write(fds[1], kb, sizeof kb);
        ::_exit(group.entries.size() == package_count ? 0 : 1);
    }
    ::close(fds[1]);
    long kb[2] = {0, 0};
    const bool got = child > 0 && ::read(fds[0], kb, sizeof kb) == sizeof kb;
    ::close(fds[0]);
    int status = 0;
    if (child > 0) ::waitpid(child, &status, 0);
    if (!got || status != 0) {
        std::printf("Group open in a child process failed\n");
        return;
    }
    std::printf("Group open, maximum resident size (ru_maxrss): %.1f MB, %.1f MB above its start\n",
                double(kb[1]) / 1024.0, double(kb[1] - kb[0]) / 1024.0);
}

constexpr std::size_t crc_buffer_size = 1 << 20;  // fits the caches: the routine, not the memory

template <std::uint32_t (*routine)(std::uint32_t, const void*, std::size_t)>
void crc_throughput(benchmark::State& state) {
    if (!qx::crc32c_hardware_available()) {
        state.SkipWithError("no CRC32 instruction");
        return;
    }
    std::vector<std::uint8_t> data(crc_buffer_size);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = std::uint8_t(i * 131 + 7);
    std::uint32_t reg = 0xFFFFFFFF;
    for (auto _ : state) {
        reg = routine(reg, data.data(), data.size());
        benchmark::DoNotOptimize(reg);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(data.size()));
}

void crc_three_streams(benchmark::State& state) { crc_throughput<qx::crc32c_update_hardware>(state); }
void crc_one_stream(benchmark::State& state) { crc_throughput<qx::crc32c_update_hardware_one_stream>(state); }

// The median time per iteration of `name` (microseconds) as GB/s over the CRC buffer.
double crc_gigabytes_per_second(const qx::bench::ratio_reporter& r, const char* name) {
    const double us = r.time_of(name).median;
    return us > 0 ? double(crc_buffer_size) / (us * 1e3) : 0;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    std::printf("Writing a group of %u packages, %u MB of image each...\n", package_count,
                blocks_per_package * 2048 / (1024 * 1024));
    group_path();
    print_open_peak_memory();
    qx::bench::register_pairs("open_group", open_group, "plain_read", plain_read, {.min_time = 0.2});
    qx::bench::register_pairs("crc_three_streams", crc_three_streams, "crc_one_stream", crc_one_stream,
                              {.unit = benchmark::kMicrosecond, .min_time = 0.05});
    qx::bench::ratio_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::filesystem::remove(group_path());

    std::printf("\nOpening a 64 MB package group against a plain read of the same file (real time):\n");
    qx::bench::print_ratio(reporter, "group open", "open_group", "plain_read");
    std::printf("\nCRC-32C over a 1 MiB buffer in cache (real time):\n");
    std::printf("CRC throughput: three streams %.2f GB/s, one stream %.2f GB/s\n",
                crc_gigabytes_per_second(reporter, "crc_three_streams"),
                crc_gigabytes_per_second(reporter, "crc_one_stream"));
    qx::bench::print_ratio(reporter, "CRC three-stream speed-up", "crc_one_stream", "crc_three_streams");
    return 0;
}
