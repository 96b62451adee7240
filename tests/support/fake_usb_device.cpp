#include "tests/support/fake_usb_device.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "platform/registry/device_registry.h"

namespace qx::test {

bytes be16(std::uint16_t v) {
    return {std::uint8_t(v >> 8), std::uint8_t(v)};
}
bytes be32(std::uint32_t v) {
    return {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)};
}
bytes concat(std::initializer_list<bytes> parts) {
    bytes all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}
bytes response_header(std::uint16_t type, std::uint16_t returning_size, std::uint16_t status) {
    return concat({be16(type), be16(returning_size), be16(status), be16(0)});
}

temporary_registry::temporary_registry() {
    std::string pattern = (std::filesystem::temp_directory_path() / "trelink-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    if (const char* old = std::getenv("TRELINK_DEVICE_DIR")) previous_ = old;
    ::setenv("TRELINK_DEVICE_DIR", root_.c_str(), 1);
}

temporary_registry::~temporary_registry() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
    if (previous_)
        ::setenv("TRELINK_DEVICE_DIR", previous_->c_str(), 1);
    else
        ::unsetenv("TRELINK_DEVICE_DIR");
}

std::optional<bytes> fake_usb_session::receive() {
    bytes packet(0x2000);
    const ssize_t got = ::recv(fd_, packet.data(), packet.size(), 0);
    if (got <= 0) return std::nullopt;
    packet.resize(std::size_t(got));
    device_.record(packet);
    return packet;
}

std::optional<bytes> fake_usb_session::receive_command() {
    auto packet = receive();
    if (packet && packet->size() == 32 && (*packet)[0] == 0xCD && (*packet)[1] == 0x07)
        packet = receive();
    return packet;
}

void fake_usb_session::send(const bytes& packet) {
    ::send(fd_, packet.data(), packet.size(), MSG_NOSIGNAL);
}

void fake_usb_session::close() {
    ::shutdown(fd_, SHUT_RDWR);
}

fake_usb_device::fake_usb_device(std::string name) {
    const std::string dir = platform::registry_class_dir(platform::ecu_interface_class);
    std::filesystem::create_directories(dir);
    path_ = dir + "/" + name;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.size() >= sizeof(address.sun_path)) throw std::runtime_error("device path too long");
    std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
    listen_fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0 ||
        ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listen_fd_, 4) != 0)
        throw std::runtime_error("cannot plug in the fake device");
    stop_fd_ = ::eventfd(0, EFD_CLOEXEC);
    script_ = echo;
    thread_ = std::thread([this] { run(); });
}

fake_usb_device::~fake_usb_device() {
    unplug();
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(stop_fd_, &one, sizeof one);
    thread_.join();
    ::close(listen_fd_);
    ::close(stop_fd_);
}

void fake_usb_device::serve(script s) {
    std::lock_guard lock(mutex_);
    script_ = std::move(s);
}

void fake_usb_device::unplug() {
    std::lock_guard lock(mutex_);
    if (unplugged_) return;
    unplugged_ = true;
    ::unlink(path_.c_str());
    if (connection_fd_ >= 0) ::shutdown(connection_fd_, SHUT_RDWR);
}

std::vector<bytes> fake_usb_device::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

std::size_t fake_usb_device::connections() const {
    std::lock_guard lock(mutex_);
    return connections_;
}

void fake_usb_device::wait_for_ended_connections(std::size_t count) const {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return ended_ >= count; });
}

void fake_usb_device::record(const bytes& packet) {
    std::lock_guard lock(mutex_);
    received_.push_back(packet);
}

void fake_usb_device::run() {
    for (;;) {
        pollfd waits[2] = {{listen_fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (waits[1].revents) return;
        const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        script current;
        {
            std::lock_guard lock(mutex_);
            if (unplugged_) {
                ::close(fd);
                continue;
            }
            connection_fd_ = fd;
            ++connections_;
            current = script_;
        }
        fake_usb_session session(*this, fd);
        current(session);
        {
            std::lock_guard lock(mutex_);
            connection_fd_ = -1;
            ::close(fd);
            ++ended_;
        }
        changed_.notify_all();
    }
}

void fake_usb_device::echo(fake_usb_session& session) {
    while (auto command = session.receive_command()) {
        if (command->size() < 8) return;
        const std::uint16_t type = std::uint16_t(((*command)[0] << 8) | (*command)[1]);
        const std::uint16_t n = std::uint16_t(command->size() - 8);
        session.send(response_header(type, n, 0));
        if (n) session.send(bytes(command->begin() + 8, command->end()));
    }
}

}  // namespace qx::test
