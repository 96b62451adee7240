// The serial port object of the communication-functions link: a termios port whose reader
// thread collects every incoming byte into the receive ring.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/serial/serial_port.h"
#include "transfer/serial/receive_ring.h"

namespace qx::transfer::serial {

class comm_port {
public:
    static constexpr std::size_t read_chunk = 100;

    comm_port() = default;
    ~comm_port() { close(); }
    comm_port(const comm_port&) = delete;
    comm_port& operator=(const comm_port&) = delete;

    // Opens the port named "COMn" and starts the reader thread. False when it cannot be opened.
    // A captured port records every byte written and received (transfer/capture.h).
    bool open(const std::string& port_name, bool captured = false);
    bool is_open() const { return line_ != nullptr; }
    bool setup(const platform::serial::line_settings& settings);
    bool set_handshake(platform::serial::handshake mode);
    // Waits as long as the write takes; the count written.
    std::size_t write(const void* bytes, std::size_t size);
    // Stops the reader thread, then closes the port. False when closing reported an error.
    bool close();

    // Drops everything received so far: the ring's bytes and those still waiting in the port.
    // A response that came too late for its exchange must not be read by the next one.
    void discard_input();

    receive_ring& ring() { return ring_; }
    const platform::serial::port* line() const { return line_.get(); }

private:
    void read_loop(std::stop_token stop);

    std::unique_ptr<platform::serial::port> line_;
    receive_ring ring_;
    std::mutex moving_;  // held while the reader moves bytes from the port into the ring
    int wake_fd_ = -1;
    bool captured_ = false;
    std::jthread reader_;
};

}  // namespace qx::transfer::serial
