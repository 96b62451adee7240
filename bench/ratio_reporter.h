// The console report of Google Benchmark that also keeps each benchmark's real time per
// iteration, so a program can print the ratios it was written for.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace qx::bench {

class ratio_reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs)
            if (!run.error_occurred && run.run_type == Run::RT_Iteration)
                times[run.run_name.function_name] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

// "what: measured / baseline = 1.23", or "what: not measured".
inline void print_ratio(const ratio_reporter& r, const char* what, const char* measured, const char* baseline) {
    const auto a = r.times.find(measured), b = r.times.find(baseline);
    if (a == r.times.end() || b == r.times.end() || b->second <= 0) {
        std::printf("%s: not measured\n", what);
        return;
    }
    std::printf("%s: %s / %s = %.2f\n", what, measured, baseline, a->second / b->second);
}

}  // namespace qx::bench
