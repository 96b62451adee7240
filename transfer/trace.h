// The exchange trace (TRELINK_TRACE=FILE): one tab-separated line per KesSendCommand, appended
// as it ends: UTC time, command name, request bytes, response bytes, status (hex), microseconds,
// the response header's type (hex, as the ECU sent it; not checked) and the packets read off
// the USB pipe before the command (a duplicated or late answer).
// Off unless the variable names a file at KesInitializeInterfaces.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace qx::transfer {

class exchange_trace {
public:
    // Null when the file cannot be opened for appending.
    static std::unique_ptr<exchange_trace> open(const std::string& path);
    ~exchange_trace();
    exchange_trace(const exchange_trace&) = delete;
    exchange_trace& operator=(const exchange_trace&) = delete;

    struct exchange {
        unsigned code;
        std::uint16_t request_size, response_size;
        int status;
        std::chrono::steady_clock::duration took;
        std::uint16_t response_type, stray_packets;
    };
    void record(const exchange& e);

private:
    explicit exchange_trace(std::FILE* file) : file_(file) {}
    std::mutex mutex_;
    std::FILE* file_;
};

// The command's name, or "COMMAND_<code>" for a code beyond the table.
std::string command_name(unsigned code);

}  // namespace qx::transfer
