#include "app/console/answer_timeout.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/connection_manager.h"
#include "platform/environment.h"

namespace qx::console {

namespace {

double answer_timeout_seconds = 60;

// Whole milliseconds, at least 1 for any time above zero; 0 for none.
long long milliseconds_of(double seconds) {
    if (seconds <= 0) return 0;
    return std::max(1LL, std::llround(seconds * 1000.0));
}

void apply() {
    const long long ms = milliseconds_of(answer_timeout_seconds);
    const char* variable = platform::environment::answer_timeout_variable;
    if (ms > 0) ::setenv(variable, std::to_string(ms).c_str(), 1);
    else ::unsetenv(variable);
    connection_manager::set_answer_deadline(std::chrono::milliseconds(ms));
}

}  // namespace

void add_answer_timeout_option(CLI::App& app) {
    app.add_option("--answer-timeout", answer_timeout_seconds,
                   "Seconds to wait for each answer of the ECU before giving up (0: no limit)")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);
    // Runs once parsing is done and before any command's own callback.
    app.parse_complete_callback(apply);
}

std::string missed_answer_text() {
    if (!connection_manager::answer_missed()) return {};
    char text[64];
    std::snprintf(text, sizeof text, "No answer from the ECU within %g s.", answer_timeout_seconds);
    return text;
}

int exit_status(CLI::App& app, const CLI::ParseError& failure) {
    const int status = app.exit(failure);
    const std::string missed = status == 0 ? std::string() : missed_answer_text();
    if (missed.empty()) return status;
    std::fprintf(stderr, "%s\n", missed.c_str());
    return 1;
}

}  // namespace qx::console
