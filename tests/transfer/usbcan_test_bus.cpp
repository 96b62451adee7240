#include "tests/transfer/usbcan_test_bus.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>

namespace qx::test {

namespace {

sockaddr_un address_of(const std::string& path) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    if (path.size() >= sizeof a.sun_path) throw std::runtime_error("bus path too long");
    std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
    return a;
}

}  // namespace

bus_frame ecu_frame(std::initializer_list<std::uint8_t> data) {
    bus_frame f;
    std::copy(data.begin(), data.end(), f.data.begin());
    return f;
}

std::vector<bus_frame> segment(const bytes& packet, std::uint32_t id) {
    std::vector<bus_frame> frames;
    bus_frame first;
    first.id = id;
    first.data[0] = std::uint8_t(0x10 | (packet.size() >> 8));
    first.data[1] = std::uint8_t(packet.size());
    std::size_t at = std::min<std::size_t>(6, packet.size());
    std::copy_n(packet.begin(), at, first.data.begin() + 2);
    frames.push_back(first);
    for (unsigned sequence = 1; at < packet.size(); ++sequence) {
        bus_frame f;
        f.id = id;
        f.data[0] = std::uint8_t(0x20 | (sequence & 0xF));
        const std::size_t take = std::min<std::size_t>(7, packet.size() - at);
        std::copy_n(packet.begin() + std::ptrdiff_t(at), take, f.data.begin() + 1);
        at += take;
        frames.push_back(f);
    }
    return frames;
}

bus_end::~bus_end() {
    if (fd_ >= 0) ::close(fd_);
}

std::unique_ptr<bus_end> bus_end::connect(const std::string& path) {
    const sockaddr_un a = address_of(path);
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        if (fd >= 0) ::close(fd);
        throw std::runtime_error("cannot connect to the bus at " + path);
    }
    return std::make_unique<bus_end>(fd);
}

std::optional<bus_frame> bus_end::receive(int wait_ms) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, wait_ms) <= 0) return std::nullopt;
    std::uint8_t m[17];
    const ssize_t got = ::recv(fd_, m, sizeof m, 0);
    if (got != 16) return std::nullopt;
    bus_frame f;
    const std::uint32_t word = std::uint32_t(m[0]) | std::uint32_t(m[1]) << 8 | std::uint32_t(m[2]) << 16 |
                               std::uint32_t(m[3]) << 24;
    f.extended = (word & 0x80000000) != 0;
    f.id = word & 0x1FFFFFFF;
    f.length = m[4];
    std::copy_n(m + 8, 8, f.data.begin());
    received.push_back(f);
    return f;
}

void bus_end::send(const bus_frame& f) {
    std::uint8_t m[16] = {};
    const std::uint32_t word = f.id | (f.extended ? 0x80000000u : 0u);
    for (int i = 0; i < 4; ++i) m[i] = std::uint8_t(word >> (8 * i));
    m[4] = f.length;
    std::copy_n(f.data.begin(), f.length, m + 8);
    ::send(fd_, m, sizeof m, MSG_NOSIGNAL);
}

void bus_end::close() { ::shutdown(fd_, SHUT_RDWR); }

std::optional<bytes> bus_end::receive_packet(std::uint8_t block_size) {
    const auto first = receive();
    if (!first || first->data[0] >> 4 != 1) return std::nullopt;
    const std::size_t length = std::size_t(first->data[0] & 0xF) << 8 | first->data[1];
    bytes packet(first->data.begin() + 2, first->data.end());
    send(ecu_frame({0x30, block_size}));
    for (unsigned sequence = 1; packet.size() < length; ++sequence) {
        const auto f = receive();
        if (!f || f->data[0] != (0x20 | (sequence & 0xF))) return std::nullopt;
        const std::size_t take = std::min<std::size_t>(7, length - packet.size());
        packet.insert(packet.end(), f->data.begin() + 1, f->data.begin() + 1 + std::ptrdiff_t(take));
    }
    packet.resize(length);
    return packet;
}

bool bus_end::send_packet(const bytes& packet) {
    const auto frames = segment(packet);
    send(frames[0]);
    const auto control = receive();
    if (!control || control->data[0] >> 4 != 3) return false;
    for (std::size_t i = 1; i < frames.size(); ++i) send(frames[i]);
    return true;
}

fake_can_bus::fake_can_bus() {
    std::string pattern = (std::filesystem::temp_directory_path() / "trelink-can-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    path_ = dir_ + "/bus";
    const sockaddr_un a = address_of(path_);
    listen_fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0 || ::bind(listen_fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listen_fd_, 4) != 0)
        throw std::runtime_error("cannot create the bus");
    stop_fd_ = ::eventfd(0, EFD_CLOEXEC);
    if (const char* old = std::getenv("TRELINK_VCAN")) previous_ = old;
    ::setenv("TRELINK_VCAN", path_.c_str(), 1);
    script_ = echo;
    thread_ = std::thread([this] { run(); });
}

fake_can_bus::~fake_can_bus() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(stop_fd_, &one, sizeof one);
    thread_.join();
    ::close(listen_fd_);
    ::close(stop_fd_);
    if (previous_)
        ::setenv("TRELINK_VCAN", previous_->c_str(), 1);
    else
        ::unsetenv("TRELINK_VCAN");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void fake_can_bus::serve(script s) {
    std::lock_guard lock(mutex_);
    script_ = std::move(s);
}

std::size_t fake_can_bus::connections() const {
    std::lock_guard lock(mutex_);
    return connections_;
}

std::vector<bus_frame> fake_can_bus::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

bool fake_can_bus::wait_for_ended_connections(std::size_t count) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return ended_ >= count; });
}

void fake_can_bus::run() {
    for (;;) {
        pollfd waits[2] = {{listen_fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0) continue;
        if (waits[1].revents) return;
        const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        script current;
        {
            std::lock_guard lock(mutex_);
            ++connections_;
            current = script_;
        }
        {
            bus_end ecu(fd);
            current(ecu);
            std::lock_guard lock(mutex_);
            received_.insert(received_.end(), ecu.received.begin(), ecu.received.end());
        }
        {
            std::lock_guard lock(mutex_);
            ++ended_;
        }
        changed_.notify_all();
    }
}

void fake_can_bus::echo(bus_end& ecu) {
    while (const auto command = ecu.receive_packet()) {
        const bytes& c = *command;
        bytes answer = {c[0], c[1], c[2], c[3], 0, 0, 0, 0};
        answer.insert(answer.end(), c.begin() + 8, c.end());
        if (!ecu.send_packet(answer)) return;
    }
}

}  // namespace qx::test
