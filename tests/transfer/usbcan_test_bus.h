// Test equipment for the USB-CAN link: frames on the virtual bus (encoded here, not by the
// adapter), a scripted ECU that owns a bus socket published as TRELINK_VCAN, and the ECU's
// side of the segmentation written out once more for the scripts.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qx::test {

using bytes = std::vector<std::uint8_t>;

struct bus_frame {
    std::uint32_t id = 0x16666667;
    bool extended = true;
    std::uint8_t length = 8;
    std::array<std::uint8_t, 8> data{};
};

// An ECU frame (0x16666667, 29-bit, length 8) with the given leading bytes, zeros behind.
bus_frame ecu_frame(std::initializer_list<std::uint8_t> data);
// The frames of a packet as the segmentation cuts it: first frame, then consecutive frames.
std::vector<bus_frame> segment(const bytes& packet, std::uint32_t id = 0x16666667);

// One end of a bus connection. Every wait is bounded.
class bus_end {
public:
    explicit bus_end(int fd) : fd_(fd) {}
    ~bus_end();
    bus_end(const bus_end&) = delete;
    bus_end& operator=(const bus_end&) = delete;
    // Connects to a bus socket; throws when it cannot.
    static std::unique_ptr<bus_end> connect(const std::string& path);

    // The next frame, or nullopt when the other end went away or stayed silent for `wait_ms`.
    std::optional<bus_frame> receive(int wait_ms = 5000);
    void send(const bus_frame& f);
    void close();

    // The ECU side of a command: first frame, flow control with `block_size`, consecutive
    // frames in sequence. Nothing when the frames do not follow the rules.
    std::optional<bytes> receive_packet(std::uint8_t block_size = 0);
    // The ECU side of a response: first frame, then all consecutive frames once the host's
    // flow control has come. False when it did not come.
    bool send_packet(const bytes& packet);

    std::vector<bus_frame> received;  // every frame this end received

private:
    int fd_;
};

// A scripted ECU on a fresh bus socket named by TRELINK_VCAN while alive. One host connection
// at a time runs the script; the connection ends when the script returns.
class fake_can_bus {
public:
    using script = std::function<void(bus_end&)>;
    fake_can_bus();
    ~fake_can_bus();
    fake_can_bus(const fake_can_bus&) = delete;
    fake_can_bus& operator=(const fake_can_bus&) = delete;

    void serve(script s);
    const std::string& path() const { return path_; }
    std::size_t connections() const;
    // Frames the ECU received on all connections so far.
    std::vector<bus_frame> received() const;
    // Waits (bounded) until `count` connections have ended.
    bool wait_for_ended_connections(std::size_t count) const;

    // Answers every command with header (command type, n, status 0) and the request's data.
    static void echo(bus_end& ecu);

private:
    void run();
    std::string dir_, path_;
    std::optional<std::string> previous_;
    int listen_fd_ = -1, stop_fd_ = -1;
    script script_;
    std::vector<bus_frame> received_;
    std::size_t connections_ = 0, ended_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::thread thread_;
};

}  // namespace qx::test
