// Ratios that survive a noisy machine. A comparison is registered as interleaved runs of its two
// sides (measured, baseline, measured, baseline, ...), so a disturbance lands on both sides of
// a pair alike; the console report keeps each run's real time per iteration, and a ratio is
// printed as the median of the per-pair ratios with their spread.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <sched.h>
#include <unistd.h>

namespace qx::bench {

using benchmark_function = void (*)(benchmark::State&);

struct pair_options {
    int pairs = 10;
    benchmark::TimeUnit unit = benchmark::kMillisecond;
    int iterations = 0;     // fixed iterations per run; 0 lets the library choose within min_time
    double min_time = 0.1;  // seconds per run when the library chooses
};

// Registers `pairs` runs of each side, alternating. Every run of a side has the same name.
inline void register_pairs(const char* measured, benchmark_function measured_fn, const char* baseline,
                           benchmark_function baseline_fn, const pair_options& options = {}) {
    for (int i = 0; i < options.pairs; ++i)
        for (auto [name, fn] : {std::pair{measured, measured_fn}, std::pair{baseline, baseline_fn}}) {
            auto* b = benchmark::RegisterBenchmark(name, fn)->Unit(options.unit)->UseRealTime();
            if (options.iterations > 0)
                b->Iterations(options.iterations);
            else
                b->MinTime(options.min_time);
        }
}

// Where the threads of a comparison with a virtual device run. A request and its answer pass
// strictly back and forth between a host thread and the device's thread. On the 2-core virtual
// machines here such a pair costs about twice as much when the scheduler puts the two threads on
// different cores as on one, and it chooses anew for every thread and run: that alone moved
// ratios across their targets from one run to the next. While this is alive, the calling thread
// and every thread it starts run on one core, on both sides of a comparison alike, so every cost
// of the product adds up on that core and none hides on another. With one core there is nothing
// to choose. The calling thread's placement is restored at the end.
class one_core {
public:
    one_core() {
        if (::sched_getaffinity(0, sizeof saved_, &saved_) != 0 || CPU_COUNT(&saved_) < 2) return;
        int last = 0;
        for (int c = 0; c < CPU_SETSIZE; ++c)
            if (CPU_ISSET(c, &saved_)) last = c;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(last, &one);
        pinned_ = ::sched_setaffinity(0, sizeof one, &one) == 0;
    }
    one_core(const one_core&) = delete;
    one_core& operator=(const one_core&) = delete;
    ~one_core() {
        if (pinned_) ::sched_setaffinity(0, sizeof saved_, &saved_);
    }

private:
    cpu_set_t saved_{};
    bool pinned_ = false;
};

// Median and spread of a sample; quartiles by the nearest rank.
struct spread {
    std::size_t count = 0;
    double median = 0, min = 0, max = 0, lower_quartile = 0, upper_quartile = 0;
};

inline spread spread_of(std::vector<double> v) {
    spread s;
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    s.count = n;
    s.min = v.front();
    s.max = v.back();
    s.median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    s.lower_quartile = v[(n - 1) / 4];
    s.upper_quartile = v[n - 1 - (n - 1) / 4];
    return s;
}

class ratio_reporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal, so a saved report stays plain text.
    ratio_reporter() : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs)
            if (!run.error_occurred && run.run_type == Run::RT_Iteration)
                times[run.run_name.function_name].push_back(run.GetAdjustedRealTime());
        ConsoleReporter::ReportRuns(runs);
    }

    // The i-th run of `measured` over the i-th run of `baseline`, for every pair both finished.
    std::vector<double> pair_ratios(const std::string& measured, const std::string& baseline) const {
        std::vector<double> ratios;
        const auto a = times.find(measured), b = times.find(baseline);
        if (a == times.end() || b == times.end()) return ratios;
        for (std::size_t i = 0; i < std::min(a->second.size(), b->second.size()); ++i)
            if (b->second[i] > 0) ratios.push_back(a->second[i] / b->second[i]);
        return ratios;
    }

    // Real time per iteration of each run of `name`, in the benchmark's own unit.
    spread time_of(const std::string& name) const {
        const auto t = times.find(name);
        return t == times.end() ? spread{} : spread_of(t->second);
    }

    std::map<std::string, std::vector<double>> times;
};

// "what: measured / baseline = 1.23 median of 10 pairs (min 1.10, max 1.40, quartiles 1.15-1.30)",
// or "what: not measured". scripts/bench.sh reads this line.
inline void print_ratio(const ratio_reporter& r, const char* what, const char* measured, const char* baseline) {
    const spread s = spread_of(r.pair_ratios(measured, baseline));
    if (s.count == 0) {
        std::printf("%s: not measured\n", what);
        return;
    }
    std::printf("%s: %s / %s = %.3f median of %zu pairs (min %.3f, max %.3f, quartiles %.3f-%.3f)\n", what,
                measured, baseline, s.median, s.count, s.min, s.max, s.lower_quartile, s.upper_quartile);
}

}  // namespace qx::bench
