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

// At most a day: anything longer is a typing error, and it keeps the milliseconds in range.
constexpr double longest_answer_timeout = 24 * 60 * 60;

// Why `text` is no answer time-out, in one line; empty when it is one.
std::string refusal_of_seconds(std::string& text) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (!text.empty() && *end == '\0' && std::isfinite(v) && v >= 0 && v <= longest_answer_timeout) return {};
    std::string shown = text.substr(0, 40);
    if (shown.size() < text.size()) shown += "...";
    for (char& c : shown)
        if (c < ' ' || c == 0x7F) c = '?';
    return "not a number of seconds from 0 to 86400 (0: no limit): '" + shown + "'";
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
                   "Seconds to wait for each answer of the ECU before giving up (0: no limit; at most 86400)")
        ->capture_default_str()
        ->check(CLI::Validator(refusal_of_seconds, "SECONDS"));
    // Runs once parsing is done and before any command's own callback.
    app.parse_complete_callback(apply);
}

std::string missed_answer_text() {
    return connection_manager::answer_missed() ? answer_timeout_text() : std::string();
}

std::string answer_timeout_text() {
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
