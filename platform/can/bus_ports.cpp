// The virtual bus and SocketCAN back-ends.
#include <linux/can/error.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "platform/can/bus_port.h"
#include "platform/can/can_frames.h"

namespace qx::platform::can {

namespace {

// A peer that stops reading must not hold the writer for ever.
constexpr timeval send_timeout{5, 0};
// SocketCAN answers ENOBUFS while the interface's queue is full: wait for room this long.
constexpr int socketcan_room_wait_ms = 10;
constexpr int socketcan_room_attempts = 500;

// An error report that names a state, or nothing.
bus_port::received report_of(const can_frame& error, controller_state& reported) {
    const auto state = reported_state(error);
    if (!state) return bus_port::received::nothing;
    reported = *state;
    return bus_port::received::report;
}

class socket_port : public bus_port {
public:
    explicit socket_port(int fd) : fd_(fd) {}
    ~socket_port() override { ::close(fd_); }
    socket_port(const socket_port&) = delete;
    socket_port& operator=(const socket_port&) = delete;
    int fd() const override { return fd_; }

protected:
    int fd_;
};

class virtual_bus_port final : public socket_port {
public:
    using socket_port::socket_port;

    int send(const can_message& m) override {
        std::array<std::uint8_t, bus_message_size> image;
        encode_bus_message(m, image);
        for (;;) {
            const ssize_t sent = ::send(fd_, image.data(), image.size(), MSG_NOSIGNAL);
            if (sent == ssize_t(image.size())) return 0;
            if (sent >= 0) return EIO;
            if (errno == EWOULDBLOCK) return EAGAIN;
            if (errno != EINTR) return errno;
        }
    }

    received receive(can_message& m, controller_state& reported) override {
        std::array<std::uint8_t, bus_message_size> image;
        for (;;) {
            const ssize_t got = ::recv(fd_, image.data(), image.size(), MSG_TRUNC | MSG_DONTWAIT);
            if (got < 0) {
                if (errno == EINTR) continue;
                return errno == EAGAIN || errno == EWOULDBLOCK ? received::nothing : received::gone;
            }
            if (got == 0) return received::gone;  // the bus owner closed the connection
            if (std::size_t(got) != image.size()) return received::nothing;
            if (const auto error = decode_bus_error(image)) return report_of(*error, reported);
            const auto decoded = decode_bus_message(image);
            if (!decoded) return received::nothing;
            m = *decoded;
            return received::frame;
        }
    }
};

class socketcan_port final : public socket_port {
public:
    socketcan_port(int fd, std::string name) : socket_port(fd), name_(std::move(name)) {}

    int send(const can_message& m) override {
        const can_frame frame = to_socketcan(m);
        for (int attempt = 0; attempt < socketcan_room_attempts;) {
            const ssize_t sent = ::write(fd_, &frame, sizeof frame);
            if (sent == ssize_t(sizeof frame)) return 0;
            if (sent >= 0) return EIO;
            if (errno == EINTR) continue;
            if (errno != ENOBUFS && errno != EAGAIN) return errno;
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, socketcan_room_wait_ms);
            ++attempt;
        }
        return EAGAIN;
    }

    received receive(can_message& m, controller_state& reported) override {
        can_frame frame{};
        for (;;) {
            const ssize_t got = ::recv(fd_, &frame, sizeof frame, MSG_DONTWAIT);
            if (got < 0) {
                if (errno == EINTR) continue;
                return errno == EAGAIN || errno == EWOULDBLOCK ? received::nothing : received::gone;
            }
            if (std::size_t(got) != sizeof frame) return received::nothing;
            if (frame.can_id & CAN_ERR_FLAG) return report_of(frame, reported);
            const auto decoded = from_socketcan(frame);
            if (!decoded) return received::nothing;
            m = *decoded;
            return received::frame;
        }
    }

    void apply_filter(const can_init_parameters& p) override {
        const std::array<can_filter, 2> filters = socketcan_filters(p);
        ::setsockopt(fd_, SOL_CAN_RAW, CAN_RAW_FILTER, filters.data(), sizeof filters);
    }

    // A controller driver takes the carrier away at bus-off and gives it back at its restart.
    std::optional<controller_state> interface_state() const override {
        const std::string dir = "/sys/class/net/" + name_ + "/";
        std::ifstream flags(dir + "flags");
        unsigned long value = 0;
        if (!(flags >> std::hex >> value)) return std::nullopt;
        if (!(value & 0x1)) return controller_state::stopped;  // IFF_UP
        std::ifstream carrier(dir + "carrier");
        int on = 1;
        if (carrier >> on && on == 0) return controller_state::bus_off;
        return std::nullopt;
    }

private:
    std::string name_;
};

}  // namespace

std::unique_ptr<bus_port> open_virtual_bus(const std::string& path, int& error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        error = ENAMETOOLONG;
        return nullptr;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        error = errno;
        ::close(fd);
        return nullptr;
    }
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send_timeout, sizeof send_timeout);
    error = 0;
    return std::make_unique<virtual_bus_port>(fd);
}

std::unique_ptr<bus_port> open_socketcan(const std::string& interface_name, int& error) {
    ifreq request{};
    if (interface_name.empty() || interface_name.size() >= sizeof request.ifr_name) {
        error = ENODEV;
        return nullptr;
    }
    const int fd = ::socket(PF_CAN, SOCK_RAW | SOCK_CLOEXEC, CAN_RAW);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    std::memcpy(request.ifr_name, interface_name.c_str(), interface_name.size() + 1);
    if (::ioctl(fd, SIOCGIFINDEX, &request) != 0) {
        error = errno;
        ::close(fd);
        return nullptr;
    }
    sockaddr_can address{};
    address.can_family = AF_CAN;
    address.can_ifindex = request.ifr_ifindex;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        error = errno;
        ::close(fd);
        return nullptr;
    }
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send_timeout, sizeof send_timeout);
    // The controller's reports of its own state come as error frames.
    const can_err_mask_t reports = CAN_ERR_CRTL | CAN_ERR_BUSOFF | CAN_ERR_RESTARTED;
    ::setsockopt(fd, SOL_CAN_RAW, CAN_RAW_ERR_FILTER, &reports, sizeof reports);
    // Room for a whole response's frames (a 4 KB packet is about 600): a virtual interface
    // delivers them at once, and a full socket drops frames without a word. Beyond rmem_max
    // only with CAP_NET_ADMIN; otherwise the kernel's limit holds.
    const int room = 4 << 20;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    error = 0;
    return std::make_unique<socketcan_port>(fd, interface_name);
}

}  // namespace qx::platform::can
