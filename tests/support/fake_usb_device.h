// A scripted virtual USB device on a temporary device registry, for tests and benchmarks.
// It accepts one host connection at a time and runs its script on it; every packet the host
// writes is recorded byte for byte.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace qx::test {

using bytes = std::vector<std::uint8_t>;

// Big-endian builders for wire bytes.
bytes be16(std::uint16_t value);
bytes be32(std::uint32_t value);
bytes concat(std::initializer_list<bytes> parts);
bytes response_header(std::uint16_t type, std::uint16_t returning_size, std::uint16_t status);

// A fresh registry root in a temporary folder, published as TRELINK_DEVICE_DIR while alive.
class temporary_registry {
public:
    temporary_registry();
    ~temporary_registry();
    temporary_registry(const temporary_registry&) = delete;
    temporary_registry& operator=(const temporary_registry&) = delete;
    const std::string& root() const { return root_; }

private:
    std::string root_;
    std::optional<std::string> previous_;
};

class fake_usb_device;

// The device side of one host connection.
class fake_usb_session {
public:
    // The next packet from the host (recorded), or nullopt once the host has gone.
    std::optional<bytes> receive();
    // The next command packet, skipping (and recording) an announcement in front of it.
    std::optional<bytes> receive_command();
    void send(const bytes& packet);
    // Ends the connection from the device's side.
    void close();

private:
    friend class fake_usb_device;
    fake_usb_session(fake_usb_device& device, int fd) : device_(device), fd_(fd) {}
    fake_usb_device& device_;
    int fd_;
};

class fake_usb_device {
public:
    using script = std::function<void(fake_usb_session&)>;

    // Plugs in a device named `name` in the ECU's interface class of the current registry.
    explicit fake_usb_device(std::string name = "ecu0");
    ~fake_usb_device();
    fake_usb_device(const fake_usb_device&) = delete;
    fake_usb_device& operator=(const fake_usb_device&) = delete;

    // The script every later connection runs; the connection ends when it returns.
    void serve(script s);
    // Removes the socket and ends the connection: the host's reads and writes then fail.
    // Safe from inside a script.
    void unplug();

    const std::string& path() const { return path_; }
    std::vector<bytes> received() const;
    std::size_t connections() const;
    // Blocks until `count` connections have ended.
    void wait_for_ended_connections(std::size_t count) const;

    // Answers every command with its own data: header (command type, n, status 0), then the
    // request bytes. Announcements are skipped.
    static void echo(fake_usb_session& session);

private:
    friend class fake_usb_session;
    void run();
    void record(const bytes& packet);

    std::string path_;
    int listen_fd_ = -1;
    int stop_fd_ = -1;
    int connection_fd_ = -1;
    bool unplugged_ = false;
    script script_;
    std::vector<bytes> received_;
    std::size_t connections_ = 0;
    std::size_t ended_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::thread thread_;
};

}  // namespace qx::test
