// Whole processes, as a technician runs them: `flashdesk update --once` (a realistic package
// group, 16 MB and 64 MB of images), `flashdesk logs get` (1, 16 and 64 MB) and `flashdesk
// program`, each against kes_replay making exactly the KesSendCommand calls that flashdesk made
// (recorded once through kes_record.so) with nothing but Trelink's six exports. Every run is a
// fresh process against a fresh `ecusim usb`; runs of both sides are interleaved in pairs,
// with the tool and the virtual ECU on one core and then unpinned on two.
//
//   process_bench [--pairs N] [--only TEXT] [--keep]
//
// Prints, per comparison, "<label>: flashdesk / replay = <median> median of <n> pairs (...)",
// the fixed cost before the first exchange, the cost per exchange, page faults and resident size.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/kes_recording.h"
#include "bench/ratio_reporter.h"
#include "platform/registry/device_registry.h"

namespace {

namespace fs = std::filesystem;
using qx::bench::spread;
using qx::bench::spread_of;

const std::string serial = "0A0B0C0D";
constexpr const char* ecu_name = "process-bench";

// One finished process: wall time from fork to its end, and what the kernel counted for it.
struct run_result {
    double wall_ms = 0;
    double cpu_ms = 0;
    long page_faults = 0;
    long max_resident_kb = 0;
    int status = -1;
    std::uint64_t started_ns = 0;  // CLOCK_MONOTONIC at the fork
};

std::uint64_t monotonic_ns() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return std::uint64_t(t.tv_sec) * 1000000000u + std::uint64_t(t.tv_nsec);
}

// Where a comparison's processes run: every thread of the tool and of the virtual ECU on one
// core, or wherever the scheduler puts them.
struct placement {
    const char* name;
    int cpu;  // -1: unpinned
};

int last_cpu() {
    cpu_set_t set;
    if (::sched_getaffinity(0, sizeof set, &set) != 0) return -1;
    int last = -1;
    for (int c = 0; c < CPU_SETSIZE; ++c)
        if (CPU_ISSET(c, &set)) last = c;
    return last;
}

struct process_spec {
    std::vector<std::string> argv;
    std::vector<std::pair<std::string, std::string>> env;  // set in the child only
    int cpu = -1;
    std::string output = "/dev/null";  // stdout and stderr
};

pid_t start(const process_spec& p) {
    std::vector<char*> args;
    for (const auto& a : p.argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (p.cpu >= 0) {
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(p.cpu, &one);
            ::sched_setaffinity(0, sizeof one, &one);
        }
        for (const auto& [name, value] : p.env) ::setenv(name.c_str(), value.c_str(), 1);
        const int out = ::open(p.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (out >= 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

run_result run(const process_spec& p) {
    run_result r;
    r.started_ns = monotonic_ns();
    const pid_t pid = start(p);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    r.wall_ms = double(monotonic_ns() - r.started_ns) / 1e6;
    r.cpu_ms = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
               double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    r.page_faults = usage.ru_minflt + usage.ru_majflt;
    r.max_resident_kb = usage.ru_maxrss;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

// A fresh `ecusim usb` for one run, plugged in until it goes out of scope.
class virtual_ecu {
public:
    virtual_ecu(const std::vector<std::string>& args, int cpu, const fs::path& log) {
        process_spec p;
        p.argv = {ECUSIM_PATH, "usb", "--name", ecu_name, "--serial", serial};
        p.argv.insert(p.argv.end(), args.begin(), args.end());
        p.cpu = cpu;
        p.output = log.string();
        socket_ = fs::path(qx::platform::registry_class_dir(qx::platform::ecu_interface_class)) / ecu_name;
        fs::remove(socket_);
        pid_ = start(p);
        for (int waited = 0; !fs::exists(socket_); ++waited) {
            int status = 0;
            if (waited > 20000 || ::waitpid(pid_, &status, WNOHANG) == pid_)
                throw std::runtime_error("ecusim did not plug in; see " + log.string());
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ~virtual_ecu() {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        fs::remove(socket_);
    }
    virtual_ecu(const virtual_ecu&) = delete;
    virtual_ecu& operator=(const virtual_ecu&) = delete;

private:
    pid_t pid_ = -1;
    fs::path socket_;
};

struct scenario {
    std::string label;
    std::vector<std::string> ecu_args;
    std::vector<std::string> tool_args;  // after the program's path
    bool timed = false;                  // also measure the fixed cost and the cost per exchange
};

struct side_runs {
    std::vector<double> wall, cpu, faults, resident, fixed_ms, per_exchange_us, fixed_cpu_ms, per_exchange_cpu_us;
};

class bench {
public:
    bench(fs::path work, int pairs) : work_(std::move(work)), pairs_(pairs) {}

    void measure(const scenario& s) {
        const fs::path recording = work_ / (slug(s.label) + ".kesr");
        process_spec tool{tool_argv(s), {}, -1, (work_ / "tool.log").string()};
        {
            // The recording: flashdesk once, with kes_record.so in front of the library.
            virtual_ecu ecu(s.ecu_args, -1, work_ / "ecusim.log");
            process_spec recorder = tool;
            recorder.env = {{"LD_PRELOAD", KES_RECORD_PATH}, {KES_RECORD_VARIABLE, recording.string()}};
            if (const run_result r = run(recorder); r.status != 0)
                return fail(s, "flashdesk failed while recorded (exit " + std::to_string(r.status) + "); see " +
                                   (work_ / "tool.log").string());
        }
        const process_spec replay{{KES_REPLAY_PATH, recording.string()}, {}, -1, (work_ / "replay.log").string()};
        for (const placement& where : {placement{"one core", last_cpu()}, placement{"two cores", -1}}) {
            side_runs tool_runs, replay_runs;
            std::vector<double> ratios;
            for (int i = 0; i < pairs_; ++i) {
                // Alternating which side goes first, so neither always follows the other.
                run_result a, b;
                if (i % 2 == 0) {
                    a = once(s, tool, where.cpu, tool_runs, false);
                    b = once(s, replay, where.cpu, replay_runs, false);
                } else {
                    b = once(s, replay, where.cpu, replay_runs, false);
                    a = once(s, tool, where.cpu, tool_runs, false);
                }
                if (a.status != 0 || b.status != 0)
                    return fail(s, "a run failed (flashdesk exit " + std::to_string(a.status) + ", replay exit " +
                                       std::to_string(b.status) + "); see " + work_.string() + "/*.log");
                ratios.push_back(a.wall_ms / b.wall_ms);
            }
            const std::string label = s.label + " (" + where.name + ")";
            print_ratio(label, ratios);
            std::printf("  %s: wall %.1f / %.1f ms, CPU %.1f / %.1f ms, page faults %.0f / %.0f, resident %.1f / %.1f MB\n",
                        label.c_str(), median(tool_runs.wall), median(replay_runs.wall), median(tool_runs.cpu),
                        median(replay_runs.cpu), median(tool_runs.faults), median(replay_runs.faults),
                        median(tool_runs.resident) / 1024, median(replay_runs.resident) / 1024);
            if (s.timed && where.cpu >= 0) timing(s, tool, replay, where);
            std::fflush(stdout);
        }
    }

private:
    // The fixed cost before the first exchange and the cost per exchange, with kes_record.so
    // in front of the library on both sides (timing only).
    void timing(const scenario& s, process_spec tool, process_spec replay, const placement& where) {
        const fs::path times = work_ / "times";
        for (process_spec* p : {&tool, &replay})
            p->env = {{"LD_PRELOAD", KES_RECORD_PATH}, {KES_TIMES_VARIABLE, times.string()}};
        side_runs tool_runs, replay_runs;
        std::vector<double> extra;
        for (int i = 0; i < pairs_; ++i) {
            once(s, tool, where.cpu, tool_runs, true);
            once(s, replay, where.cpu, replay_runs, true);
            extra.push_back(tool_runs.fixed_ms.back() - replay_runs.fixed_ms.back());
        }
        const spread e = spread_of(extra);
        std::printf("%s fixed cost: %.3f ms median of %zu runs (min %.3f, max %.3f): before its first exchange "
                    "flashdesk took %.2f ms, the replay %.2f ms\n",
                    s.label.c_str(), e.median, e.count, e.min, e.max, median(tool_runs.fixed_ms),
                    median(replay_runs.fixed_ms));
        std::printf("  %s per exchange: flashdesk %.2f us, replay %.2f us (%s); of their own CPU time %.2f us and "
                    "%.2f us\n",
                    s.label.c_str(), median(tool_runs.per_exchange_us), median(replay_runs.per_exchange_us), where.name,
                    median(tool_runs.per_exchange_cpu_us), median(replay_runs.per_exchange_cpu_us));
        std::printf("  %s before the first exchange: CPU time %.2f ms and %.2f ms\n", s.label.c_str(),
                    median(tool_runs.fixed_cpu_ms), median(replay_runs.fixed_cpu_ms));
    }

    run_result once(const scenario& s, process_spec p, int cpu, side_runs& into, bool timed) {
        p.cpu = cpu;
        const fs::path times = work_ / "times";
        if (timed) fs::remove(times);
        run_result r;
        {
            virtual_ecu ecu(s.ecu_args, cpu, work_ / "ecusim.log");
            r = run(p);
        }
        into.wall.push_back(r.wall_ms);
        into.cpu.push_back(r.cpu_ms);
        into.faults.push_back(double(r.page_faults));
        into.resident.push_back(double(r.max_resident_kb));
        if (timed) {
            std::ifstream in(times);
            unsigned long long first = 0, last = 0, calls = 0, first_cpu = 0, last_cpu = 0;
            in >> first >> last >> calls >> first_cpu >> last_cpu;
            into.fixed_ms.push_back(first > r.started_ns ? double(first - r.started_ns) / 1e6 : 0);
            into.per_exchange_us.push_back(calls > 1 ? double(last - first) / 1e3 / double(calls) : 0);
            into.fixed_cpu_ms.push_back(double(first_cpu) / 1e3);
            into.per_exchange_cpu_us.push_back(calls > 1 ? double(last_cpu - first_cpu) / double(calls) : 0);
        }
        return r;
    }

    std::vector<std::string> tool_argv(const scenario& s) const {
        std::vector<std::string> argv{FLASHDESK_PATH};
        argv.insert(argv.end(), s.tool_args.begin(), s.tool_args.end());
        return argv;
    }

    static double median(const std::vector<double>& v) { return spread_of(v).median; }

    static void print_ratio(const std::string& label, const std::vector<double>& ratios) {
        const spread r = spread_of(ratios);
        std::printf("%s: flashdesk / replay = %.3f median of %zu pairs (min %.3f, max %.3f, quartiles %.3f-%.3f)\n",
                    label.c_str(), r.median, r.count, r.min, r.max, r.lower_quartile, r.upper_quartile);
    }

    static void fail(const scenario& s, const std::string& why) {
        for (const char* where : {"one core", "two cores"})
            std::printf("%s (%s): not measured: %s\n", s.label.c_str(), where, why.c_str());
        if (s.timed) std::printf("%s fixed cost: not measured\n", s.label.c_str());
        std::fflush(stdout);
    }

    static std::string slug(const std::string& label) {
        std::string s;
        for (char c : label) s += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return s;
    }

    fs::path work_;
    int pairs_;
};

// Short commands against a baseline process doing the least that job could: pairs of fresh
// processes, interleaved, on one core.
struct short_pair {
    std::string label;
    std::vector<std::string> measured, baseline;
};

void measure_short(const short_pair& p, int pairs, const fs::path& work) {
    const int cpu = last_cpu();
    process_spec a{p.measured, {}, cpu, (work / "short.log").string()};
    process_spec b{p.baseline, {}, cpu, "/dev/null"};
    if (const run_result r = run(a); r.status != 0) {
        std::printf("%s: not measured: exit %d; see %s\n", p.label.c_str(), r.status, a.output.c_str());
        return;
    }
    // Short runs: many per pair, so that a pair is long enough to compare.
    constexpr int runs_per_side = 20;
    std::vector<double> ratios, wall_a, wall_b, cpu_a, cpu_b;
    for (int i = 0; i < pairs * 2; ++i) {
        double sum_a = 0, sum_b = 0, cpu_sum_a = 0, cpu_sum_b = 0;
        for (int k = 0; k < runs_per_side; ++k) {
            const run_result x = run(a), y = run(b);
            sum_a += x.wall_ms;
            sum_b += y.wall_ms;
            cpu_sum_a += x.cpu_ms;
            cpu_sum_b += y.cpu_ms;
        }
        ratios.push_back(sum_a / sum_b);
        wall_a.push_back(sum_a / runs_per_side);
        wall_b.push_back(sum_b / runs_per_side);
        cpu_a.push_back(cpu_sum_a / runs_per_side);
        cpu_b.push_back(cpu_sum_b / runs_per_side);
    }
    const spread r = spread_of(ratios);
    std::printf("%s: %s / %s = %.3f median of %zu pairs (min %.3f, max %.3f, quartiles %.3f-%.3f)\n", p.label.c_str(),
                fs::path(p.measured[0]).filename().c_str(), fs::path(p.baseline[0]).filename().c_str(), r.median,
                r.count, r.min, r.max, r.lower_quartile, r.upper_quartile);
    std::printf("  %s: wall %.2f / %.2f ms, CPU %.2f / %.2f ms\n", p.label.c_str(), spread_of(wall_a).median,
                spread_of(wall_b).median, spread_of(cpu_a).median, spread_of(cpu_b).median);
    std::fflush(stdout);
}

// The standard output of a process, written to `file`.
void capture(const std::vector<std::string>& argv, const fs::path& file) {
    process_spec p;
    p.argv = argv;
    p.output = file.string();
    if (run(p).status != 0) throw std::runtime_error(argv[0] + " failed; see " + file.string());
}

void check(int status, const std::string& what) {
    if (status != 0) throw std::runtime_error(what + " failed (exit " + std::to_string(status) + ")");
}

// A package group of these image sizes in `dir`, with its root certificate.
void make_group(const fs::path& dir, const std::string& kib) {
    process_spec p;
    p.argv = {ECUSIM_PATH, "make-packages", "--serial", serial, "--out", dir.string(), "--image-kib", kib};
    check(run(p).status, "ecusim make-packages");
}

void make_log(const fs::path& file, std::size_t megabytes) {
    std::mt19937_64 random(megabytes);
    std::vector<std::uint64_t> piece(1 << 17);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    for (std::size_t done = 0; done < megabytes * 1000 * 1000; done += piece.size() * 8) {
        for (auto& w : piece) w = random();
        out.write(reinterpret_cast<const char*>(piece.data()),
                  std::streamsize(std::min(piece.size() * 8, megabytes * 1000 * 1000 - done)));
    }
    if (!out) throw std::runtime_error("cannot write " + file.string());
}

}  // namespace

int main(int argc, char** argv) {
    int pairs = 7;
    std::string only;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--pairs" && i + 1 < argc) pairs = std::max(1, std::atoi(argv[++i]));
        else if (a == "--only" && i + 1 < argc) only = argv[++i];
        else if (a == "--keep") keep = true;
        else {
            std::fprintf(stderr, "usage: process_bench [--pairs N] [--only TEXT] [--keep]\n");
            return 2;
        }
    }
    std::string t = (fs::temp_directory_path() / "flashdesk-process-bench-XXXXXX").string();
    if (!::mkdtemp(t.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path work = t;
    ::setenv("TRELINK_DEVICE_DIR", (work / "registry").c_str(), 1);
    ::unsetenv("TRELINK_USB_IDS");
    ::unsetenv("TRELINK_DEVICE");
    ::unsetenv("TRELINK_TRACE");
    int status = 0;
    try {
        std::printf("Making the package groups and log files in %s...\n", work.c_str());
        std::fflush(stdout);
        struct group {
            const char* name;
            const char* kib;
            bool beyond_flash;
        };
        const group groups[] = {{"realistic group", "1024,896,256,128", false},
                                {"16 MB", "4096,4096,4096,4096", true},
                                {"64 MB", "16384,16384,16384,16384", true}};
        std::vector<scenario> scenarios;
        for (const group& g : groups) {
            const fs::path dir = work / ("group-" + std::string(g.kib).substr(0, std::string(g.kib).find(',')));
            const std::string label = std::string("update ") + g.name;
            if (!only.empty() && label.find(only) == std::string::npos) continue;
            make_group(dir, g.kib);
            // Images beyond the ECU's flash areas need a virtual ECU that programs any address.
            std::vector<std::string> ecu_args{"--mode", "boot"};
            if (g.beyond_flash) ecu_args.push_back("--any-address");
            scenarios.push_back({label, ecu_args,
                                 {"update", "--folder", dir.string(), "--once", "--root-cert",
                                  (dir / "RootCertificate_tcert.der").string()},
                                 std::string(g.name) == "realistic group"});
        }
        for (std::size_t mb : {1, 16, 64}) {
            const std::string label = "logs get " + std::to_string(mb) + " MB";
            if (!only.empty() && label.find(only) == std::string::npos) continue;
            const fs::path log = work / ("log-" + std::to_string(mb) + ".bin");
            make_log(log, mb);
            scenarios.push_back({label, {"--mode", "app", "--log-file", log.string()},
                                 {"logs", "get", "0", (work / "log.out").string()},
                                 mb == 1});
        }
        if (only.empty() || std::string("program").find(only) != std::string::npos) {
            const fs::path dir = work / "group-1024";
            if (!fs::exists(dir / (serial + "_firmware.pak"))) make_group(dir, "1024,896,256,128");
            scenarios.push_back({"program", {"--mode", "boot"},
                                 {"program", (dir / (serial + "_firmware.pak")).string(), "--root-cert",
                                  (dir / "RootCertificate_tcert.der").string()},
                                 true});
        }
        std::vector<short_pair> shorts;
        if (only.empty() || std::string("startup").find(only) != std::string::npos) {
            const fs::path demo = work / "demo";
            process_spec p;
            p.argv = {ECUSIM_PATH, "make-packages", "--serial", serial, "--out", demo.string()};
            check(run(p).status, "ecusim make-packages");
            const fs::path group = demo / (serial + ".pakgrp");
            capture({FLASHDESK_PATH, "describe"}, work / "describe.txt");
            capture({FLASHDESK_PATH, "describe", "structs", "ReadDataRequest_TS"}, work / "describe-struct.txt");
            shorts = {
                {"flashdesk --version", {FLASHDESK_PATH, "--version"}, {CXX_HELLO_PATH}},
                {"pak info of the demo group", {FLASHDESK_PATH, "pak", "info", group.string()}, {"/bin/cat", group.string()}},
                {"describe", {FLASHDESK_PATH, "describe"}, {"/bin/cat", (work / "describe.txt").string()}},
                {"describe of a structure",
                 {FLASHDESK_PATH, "describe", "structs", "ReadDataRequest_TS"},
                 {"/bin/cat", (work / "describe-struct.txt").string()}},
            };
        }
        std::printf("Short commands against the least a process doing their job could do, %d pairs of 20 runs each "
                    "(wall time from fork to exit, one core):\n", pairs * 2);
        for (const short_pair& p : shorts) measure_short(p, pairs, work);

        std::printf("Whole processes of flashdesk against kes_replay making the same calls, %d pairs each "
                    "(wall time from fork to exit; flashdesk / replay):\n", pairs);
        std::fflush(stdout);
        bench b(work, pairs);
        for (const scenario& s : scenarios) b.measure(s);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "process_bench: %s\n", e.what());
        status = 1;
    }
    if (!keep) fs::remove_all(work);
    else std::printf("kept %s\n", work.c_str());
    return status;
}
