// The virtual ECU on a serial line: a pseudo-terminal whose slave (linked at a chosen path)
// the host opens as its COM port, or an existing terminal device (a UART, a USB-serial
// adapter) set to 57600 bit/s, 8 data bits, no parity, one stop bit and no handshake, answered
// with the ECU side of the serial byte protocol.
//
//   0xC5 from the host        answered 0xC5 (big-endian structures) or, with host_order,
//                             0xCC (little-endian structures)
//   8-byte command header     followed by command_data_size bytes; answered 0xCD, the 8-byte
//                             response header and the response data
//   0xDC from the host        the host took the response
//
// A command that stops arriving midway is dropped after a pause and counted as a framing
// error, so that the next connection request or command is read from its first byte.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "ecusim/ecu_model.h"
#include "platform/serial/pty.h"
#include "platform/serial/serial_port.h"

namespace ecusim {

struct serial_counters {
    unsigned connection_requests = 0;
    unsigned commands = 0;        // commands answered or swallowed
    unsigned acknowledgements = 0;  // 0xDC bytes received
    unsigned answers = 0;           // responses sent in full
    unsigned dropped = 0;         // incomplete commands given up
    std::uint16_t last_command_type = 0;
    bytes last_header;  // the last command header as received
};

class serial_peer {
public:
    static constexpr auto inter_byte_timeout = std::chrono::milliseconds(500);

    // link_path: where the symbolic link to the line's slave goes. host_order: the ECU keeps
    // its structures in the host's (little-endian) order.
    serial_peer(ecu_config cfg, std::string link_path, bool host_order);
    struct terminal_device {
        std::string path;
    };
    // Opens the device; throws std::system_error when it cannot.
    serial_peer(ecu_config cfg, terminal_device device, bool host_order);
    ~serial_peer();
    serial_peer(const serial_peer&) = delete;
    serial_peer& operator=(const serial_peer&) = delete;

    void start();
    void stop();
    // The line goes dead, as if the cable were pulled: the host's reads and writes fail.
    void hang_up();

    const std::string& link_path() const { return link_path_; }
    // The terminal the host opens: the pseudo-terminal's slave, or the device.
    const std::string& slave_path() const { return pty_ ? pty_->slave_path() : device_->path(); }
    bool host_order() const { return order_ == byte_order::little; }

    serial_counters counters() const;
    // Waits until pred holds (checked after every byte handled).
    bool wait_for(const std::function<bool(const serial_counters&)>& pred, std::chrono::milliseconds timeout);
    void set_faults(fault_plan plan);
    template <class F>
    auto inspect(F f) {
        std::lock_guard lock(mutex_);
        return f(model_);
    }

private:
    void serve();
    void handle(std::uint8_t byte);
    void answer_command();
    void send(const std::uint8_t* data, std::size_t size);
    void send(std::uint8_t byte) { send(&byte, 1); }
    int line() const { return pty_ ? pty_->master() : device_->descriptor(); }

    std::string link_path_;
    std::unique_ptr<qx::platform::serial::pty> pty_;        // or
    std::unique_ptr<qx::platform::serial::port> device_;
    byte_order order_;
    ecu model_;
    serial_counters counters_;
    mutable std::mutex mutex_;  // the model and the counters
    std::condition_variable changed_;
    bytes pending_;  // the command being received
    std::chrono::steady_clock::time_point last_byte_{};
    int wake_fd_ = -1;
    bool running_ = false;
    bool hung_up_ = false;
    std::thread thread_;
};

}  // namespace ecusim
