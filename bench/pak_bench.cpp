// Opening a package group (every embedded package read and checksummed) against a plain read of
// the same file, at the image sizes a technician meets: 4 images of 64 KiB, of 1 MiB, of
// 16 MiB, and a realistic group (1 MiB, 896 KiB, 256 KiB and 128 KiB). And the CRC-32C
// routines' throughput: three instruction streams against one.
#include <benchmark/benchmark.h>

#include "bench/ratio_reporter.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
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

constexpr const char* serial = "01020AFF";

// A group to open: its label and the image size of each of its four packages, in 2048-byte
// blocks (firmware, fixed model, dynamic model, boot loader). Layouts alternate 2, 1, 2, 1.
struct group_case {
    const char* label;  // as printed and read by scripts/bench.sh
    const char* measured;
    const char* baseline;
    std::array<std::uint32_t, 4> blocks;
    std::string path = {};
};

std::array<group_case, 4> groups = {{
    {"group open 64 KiB images", "open_group_64k", "plain_read_64k", {32, 32, 32, 32}},
    {"group open 1 MiB images", "open_group_1m", "plain_read_1m", {512, 512, 512, 512}},
    {"group open 16 MiB images", "open_group_16m", "plain_read_16m", {8192, 8192, 8192, 8192}},
    {"group open realistic", "open_group_realistic", "plain_read_realistic", {512, 448, 128, 64}},
}};

void write_group(group_case& g, std::size_t index) {
    const auto file = std::filesystem::temp_directory_path() /
                      ("flashdesk-pak-bench-" + std::to_string(::getpid()) + "-" + std::to_string(index) + ".pakgrp");
    ts::pak_group_spec group;
    group.serial_number = serial;
    for (std::uint32_t type = 0; type < 4; ++type)
        group.entries.push_back(ts::group_entry(ts::sample_pak_spec(type % 2 ? 1 : 2, serial, type, g.blocks[type], type)));
    ts::save_file(file.string(), ts::write_pak_group(group).data);
    g.path = file.string();
}

template <std::size_t index>
void open_group(benchmark::State& state) {
    const std::string& path = groups[index].path;
    for (auto _ : state) {
        qx::pak_group_file group(serial);
        group.open(path);
        if (group.entries.size() != 4) {
            state.SkipWithError("a package was dropped");
            break;
        }
        benchmark::DoNotOptimize(group.entries.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(std::filesystem::file_size(path)));
}

// The file's bytes through one reused 1 MB buffer: the cost of the reading alone.
template <std::size_t index>
void plain_read(benchmark::State& state) {
    const std::string& path = groups[index].path;
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

template <std::size_t index>
void register_group() {
    qx::bench::register_pairs(groups[index].measured, open_group<index>, groups[index].baseline, plain_read<index>,
                              {.unit = benchmark::kMicrosecond, .min_time = 0.1});
}

// Opens a group once in a forked child, whose maximum resident size starts at the parent's
// current one rather than at the peak of writing the group, and counts its page faults. Prints
// the growth of both: the open's own memory, whatever the size of the images.
void print_open_memory(const group_case& g) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child == 0) {
        rusage before{}, after{};
        ::getrusage(RUSAGE_SELF, &before);
        qx::pak_group_file group(serial);
        group.open(g.path);
        ::getrusage(RUSAGE_SELF, &after);
        const long report[2] = {after.ru_maxrss - before.ru_maxrss, after.ru_minflt - before.ru_minflt};
        (void)!::write(fds[1], report, sizeof report);
        ::_exit(group.entries.size() == 4 ? 0 : 1);
    }
    ::close(fds[1]);
    long report[2] = {0, 0};
    const bool got = child > 0 && ::read(fds[0], report, sizeof report) == sizeof report;
    ::close(fds[0]);
    int status = 0;
    if (child > 0) ::waitpid(child, &status, 0);
    if (!got || status != 0) {
        std::printf("%s: the open in a child process failed\n", g.label);
        return;
    }
    std::printf("%s, %.1f MB file: the open grew the resident size by %ld kB with %ld page faults\n", g.label,
                double(std::filesystem::file_size(g.path)) / 1e6, report[0], report[1]);
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
    std::printf("Writing the groups...\n");
    for (std::size_t i = 0; i < groups.size(); ++i) write_group(groups[i], i);
    for (const group_case& g : groups) print_open_memory(g);
    register_group<0>();
    register_group<1>();
    register_group<2>();
    register_group<3>();
    qx::bench::register_pairs("crc_three_streams", crc_three_streams, "crc_one_stream", crc_one_stream,
                              {.unit = benchmark::kMicrosecond, .min_time = 0.05});
    qx::bench::ratio_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    for (const group_case& g : groups) std::filesystem::remove(g.path);

    std::printf("\nOpening a package group against a plain read of the same file (real time, one core):\n");
    for (const group_case& g : groups) qx::bench::print_ratio(reporter, g.label, g.measured, g.baseline);
    std::printf("\nCRC-32C over a 1 MiB buffer in cache (real time):\n");
    std::printf("CRC throughput: three streams %.2f GB/s, one stream %.2f GB/s\n",
                crc_gigabytes_per_second(reporter, "crc_three_streams"),
                crc_gigabytes_per_second(reporter, "crc_one_stream"));
    qx::bench::print_ratio(reporter, "CRC three-stream speed-up", "crc_one_stream", "crc_three_streams");
    return 0;
}
