#include "transfer/trace.h"

#include <ctime>

#include "protocol/commands.h"

namespace qx::transfer {

std::unique_ptr<exchange_trace> exchange_trace::open(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "ae");
    if (!f) return nullptr;
    return std::unique_ptr<exchange_trace>(new exchange_trace(f));
}

exchange_trace::~exchange_trace() { std::fclose(file_); }

std::string command_name(unsigned code) {
    for (const auto& c : protocol::commands)
        if (c.code == code) return std::string(c.name);
    return "COMMAND_" + std::to_string(code);
}

void exchange_trace::record(const exchange& e) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char when[32];
    std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S", &utc);
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(e.took).count();
    std::lock_guard lock(mutex_);
    std::fprintf(file_, "%s.%03dZ\t%s\t%u\t%u\t%08x\t%lld\t%04x\t%u\n", when, int(ms), command_name(e.code).c_str(),
                 unsigned(e.request_size), unsigned(e.response_size), unsigned(e.status), static_cast<long long>(us),
                 unsigned(e.response_type), unsigned(e.stray_packets));
    std::fflush(file_);
}

}  // namespace qx::transfer
