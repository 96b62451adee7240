// A serial line through termios: raw bytes, non-blocking reads, line settings and handshake.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace qx::platform::serial {

enum class parity : std::uint8_t { none, odd, even, mark, space };
enum class stop_bits : std::uint8_t { one, one_and_half, two };
enum class handshake : std::uint8_t { none, hardware, software };

struct line_settings {
    unsigned bit_rate = 57600;
    unsigned data_bits = 8;
    parity parity_bits = parity::none;
    stop_bits stop = stop_bits::one;
};

// The line's counters and status as the driver reports them; 0 where the device keeps none
// (a pseudo-terminal keeps no interrupt or error counters and has no modem lines).
struct line_status {
    std::uint32_t input_waiting = 0;
    std::uint32_t output_waiting = 0;
    std::uint32_t received = 0;     // characters the driver received
    std::uint32_t transmitted = 0;  // characters the driver sent
    std::uint32_t overruns = 0;
    std::uint32_t parity_errors = 0;
    std::uint32_t framing_errors = 0;
    std::uint32_t breaks = 0;
    std::uint32_t modem_changes = 0;  // CTS, DSR, RI and DCD transitions
    std::uint32_t modem_status = 0;   // as a UART's modem status register: CTS 0x10 ... DCD 0x80
    std::uint32_t uart_type = 0;
};

class port {
public:
    // Opens `path` for reading and writing, raw, 57600 bit/s 8N1, no handshake, with its input
    // emptied. Null on failure with `error` set to the errno.
    static std::unique_ptr<port> open(const std::string& path, int& error);
    ~port();
    port(const port&) = delete;
    port& operator=(const port&) = delete;

    int descriptor() const { return fd_; }
    const std::string& path() const { return path_; }

    // False with errno set for a speed, size or combination the line cannot take. One and a
    // half stop bits exist only with 5 data bits.
    bool configure(const line_settings& settings);
    bool set_handshake(handshake mode);
    bool current(line_settings& settings, handshake& mode) const;

    // Writes every byte, waiting as long as the line needs; the count written (fewer only when
    // the line failed, with errno set).
    std::size_t write_all(const void* bytes, std::size_t size);
    // Reads up to `size` bytes that are waiting: the count (0 when none), -1 when the line
    // failed or hung up (errno set; EPIPE for a hang-up).
    long read_some(void* into, std::size_t size);
    // Reads that find nothing for `ms` milliseconds on end (since the last byte moved either
    // way) hang the line up: this and every later read and write fail with EPIPE, so that a
    // late answer never reaches a later read. Negative: no deadline (the default).
    void set_read_deadline(int ms) { deadline_ms_ = ms; }

    enum class wait_result : std::uint8_t { readable, hung_up, woken, timed_out, failed };
    // Waits until bytes are waiting, the line hangs up, or `wake_fd` (if >= 0) turns readable.
    // timeout_ms < 0 waits without limit.
    wait_result wait(int wake_fd, int timeout_ms) const;

    bool discard_input();
    bool discard_output();
    line_status status() const;
    // Closes the descriptor; false when closing reported an error.
    bool close();

private:
    port(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    // A read that found nothing: 0, or -1 once the deadline has passed.
    long quiet_read();
    int fd_;
    std::string path_;
    int deadline_ms_ = -1;
    std::optional<std::chrono::steady_clock::time_point> quiet_since_;
    bool timed_out_ = false;
};

// The speed constant a bit rate maps to; false for a rate termios does not name.
bool supported_bit_rate(unsigned bit_rate);

}  // namespace qx::platform::serial
