#include "ecusim/can_peer.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <linux/can.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "ecusim/command_codes.h"

namespace ecusim {

namespace {

constexpr std::size_t message_size = 16;
constexpr std::uint32_t extended_flag = 0x80000000;
constexpr std::size_t max_packet = 0xFFF;
constexpr auto flow_control_wait = std::chrono::seconds(1);
constexpr auto be = byte_order::big;

[[noreturn]] void fail(const std::string& what) { throw std::system_error(errno, std::generic_category(), what); }

}  // namespace

can_peer::can_peer(ecu_config cfg, std::string bus_path, std::uint8_t block_size)
    : path_(std::move(bus_path)), block_size_(block_size), model_(std::move(cfg)) {
    sockaddr_un probe{};
    if (path_.empty() || path_.size() >= sizeof probe.sun_path) throw std::invalid_argument("bad bus path: " + path_);
}

can_peer::can_peer(ecu_config cfg, socketcan_interface interface, std::uint8_t block_size)
    : interface_(std::move(interface.name)), block_size_(block_size), model_(std::move(cfg)) {
    if (interface_.empty() || interface_.size() >= IFNAMSIZ) throw std::invalid_argument("bad CAN interface: " + interface_);
    path_ = interface_;
}

can_peer::~can_peer() { stop(); }

namespace {

// A CAN_RAW socket on the interface that takes only the command frames, with room for a
// whole packet's frames: vcan delivers at once and drops what a full socket cannot take.
int open_socketcan(const std::string& name) {
    const int fd = ::socket(PF_CAN, SOCK_RAW | SOCK_CLOEXEC, CAN_RAW);
    if (fd < 0) fail("socket CAN_RAW");
    const unsigned index = ::if_nametoindex(name.c_str());
    sockaddr_can addr{};
    addr.can_family = AF_CAN;
    addr.can_ifindex = int(index);
    const can_filter only_commands{can_command_id | CAN_EFF_FLAG, CAN_EFF_FLAG | CAN_RTR_FLAG | CAN_EFF_MASK};
    const int room = 4 << 20;
    ::setsockopt(fd, SOL_CAN_RAW, CAN_RAW_FILTER, &only_commands, sizeof only_commands);
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    if (index == 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        const int e = index == 0 ? ENODEV : errno;
        ::close(fd);
        errno = e;
        fail("CAN interface " + name);
    }
    return fd;
}

}  // namespace

void can_peer::start() {
    if (running_) return;
    wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_fd_ < 0) fail("eventfd");
    if (!interface_.empty()) {
        try {
            conn_fd_ = open_socketcan(interface_);
        } catch (...) {
            ::close(wake_fd_);
            wake_fd_ = -1;
            throw;
        }
        running_ = true;
        thread_ = std::thread([this] { serve(); });
        return;
    }
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) fail("socket");
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path_.c_str(), path_.size() + 1);
    ::unlink(path_.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        ::close(wake_fd_);
        wake_fd_ = -1;
        fail("bind " + path_);
    }
    listen_fd_ = fd;
    running_ = true;
    thread_ = std::thread([this] { serve(); });
}

void can_peer::stop() {
    if (!running_) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(wake_fd_, &one, sizeof one);
    thread_.join();
    running_ = false;
    if (!interface_.empty()) {
        ::close(conn_fd_);
        conn_fd_ = -1;
    }
    drop_connection();
    if (interface_.empty()) ::unlink(path_.c_str());
    if (listen_fd_ >= 0) ::close(listen_fd_);
    ::close(wake_fd_);
    listen_fd_ = wake_fd_ = -1;
}

bool can_peer::wait_for(const std::function<bool(const ecu&)>& pred, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return pred(model_); });
}

void can_peer::serve() {
    for (;;) {
        int timeout = -1;
        if (flow_control_due_) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*flow_control_due_ -
                                                                                    std::chrono::steady_clock::now());
            timeout = int(std::max<long long>(0, left.count()));
        }
        pollfd fds[2] = {{wake_fd_, POLLIN, 0}, {conn_fd_ >= 0 ? conn_fd_ : listen_fd_, POLLIN, 0}};
        if (::poll(fds, 2, timeout) < 0 && errno != EINTR) fail("poll");
        if (fds[0].revents & POLLIN) return;
        if (flow_control_due_ && std::chrono::steady_clock::now() >= *flow_control_due_) {
            flow_control_due_.reset();
            response_.clear();
            framing_error();
        }
        if (!(fds[1].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        if (conn_fd_ < 0) {
            conn_fd_ = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
            continue;
        }
        frame f;
        if (!receive_frame(f)) {
            drop_connection();
            if (!interface_.empty()) return;  // the interface has gone: nothing more to serve
            continue;
        }
        on_frame(f);
    }
}

// One frame from the bus; an empty frame for anything that is no well-formed frame.
bool can_peer::receive_frame(frame& f) {
    f = frame{};
    if (!interface_.empty()) {
        can_frame k{};
        const ssize_t got = ::recv(conn_fd_, &k, sizeof k, MSG_DONTWAIT);
        if (got < 0 && errno == ENETDOWN) {
            // The ECU's controller went down: the exchange is lost, the ECU serves on once it
            // is up again.
            drop_connection();
            return true;
        }
        if (got < 0) return errno == EINTR || errno == EAGAIN || errno == ENOBUFS;
        if (std::size_t(got) != sizeof k || k.len > 8 || (k.can_id & CAN_ERR_FLAG)) return true;
        f.extended = (k.can_id & CAN_EFF_FLAG) != 0;
        f.id = k.can_id & (f.extended ? CAN_EFF_MASK : CAN_SFF_MASK);
        f.length = k.len;
        std::copy_n(k.data, f.length, f.data);
        return true;
    }
    std::uint8_t buffer[message_size + 1];
    const ssize_t got = ::recv(conn_fd_, buffer, sizeof buffer, 0);
    if (got <= 0) return false;  // the host's adapter went away
    // Anything but a well-formed frame message is no frame: the bus ignores it.
    if (std::size_t(got) != message_size || buffer[4] > 8) return true;
    const std::uint32_t word = std::uint32_t(buffer[0]) | std::uint32_t(buffer[1]) << 8 |
                               std::uint32_t(buffer[2]) << 16 | std::uint32_t(buffer[3]) << 24;
    f.extended = (word & extended_flag) != 0;
    f.id = word & 0x1FFFFFFF;
    f.length = buffer[4];
    std::copy_n(buffer + 8, f.length, f.data);
    return true;
}

void can_peer::drop_connection() {
    if (conn_fd_ >= 0 && interface_.empty()) {
        ::close(conn_fd_);
        conn_fd_ = -1;
    }
    receiving_ = false;
    response_.clear();
    flow_control_due_.reset();
    drop_after_response_ = false;
}

void can_peer::framing_error() {
    std::lock_guard lock(mutex_);
    model_.record_framing_error();
    changed_.notify_all();
}

bool can_peer::send_frame(const std::uint8_t (&data)[8]) {
    if (!interface_.empty()) {
        can_frame k{};
        k.can_id = can_response_id | CAN_EFF_FLAG;
        k.len = 8;
        std::copy_n(data, 8, k.data);
        // vcan takes every frame at once; a real controller's queue may be full for a while.
        for (int attempt = 0; attempt < 500; ++attempt) {
            if (::write(conn_fd_, &k, sizeof k) == ssize_t(sizeof k)) return true;
            if (errno != ENOBUFS && errno != EAGAIN && errno != EINTR) return false;
            pollfd p{conn_fd_, POLLOUT, 0};
            ::poll(&p, 1, 10);
        }
        return false;
    }
    std::uint8_t m[message_size] = {};
    const std::uint32_t word = can_response_id | extended_flag;
    for (int i = 0; i < 4; ++i) m[i] = std::uint8_t(word >> (8 * i));
    m[4] = 8;
    std::copy_n(data, 8, m + 8);
    return conn_fd_ >= 0 && ::send(conn_fd_, m, sizeof m, MSG_NOSIGNAL) == ssize_t(sizeof m);
}

void can_peer::on_frame(const frame& f) {
    if (!f.extended || f.id != can_command_id || f.length == 0) return;  // not for this ECU
    switch (f.data[0] >> 4) {
        case 1: on_first_frame(f); break;
        case 2: on_consecutive_frame(f); break;
        case 3: on_flow_control(f); break;
        default: framing_error(); break;
    }
}

void can_peer::on_first_frame(const frame& f) {
    if (!response_.empty()) {  // the host gave up on the response and sends anew
        response_.clear();
        flow_control_due_.reset();
        framing_error();
    }
    if (receiving_) framing_error();
    receiving_ = false;
    const std::size_t length = std::size_t(f.data[0] & 0xF) << 8 | f.data[1];
    if (f.length < 8 || length < 8) {
        framing_error();
        return;
    }
    command_.assign(f.data + 2, f.data + 8);
    command_length_ = length;
    command_sequence_ = 1;
    receiving_ = true;
    const std::uint8_t control[8] = {0x30, block_size_, 0, 0, 0, 0, 0, 0};
    send_frame(control);
}

void can_peer::on_consecutive_frame(const frame& f) {
    if (!receiving_ || f.data[0] != (0x20 | (command_sequence_ & 0xF))) {
        receiving_ = false;
        framing_error();
        return;
    }
    const std::size_t take = std::min<std::size_t>(7, command_length_ - command_.size());
    if (f.length < 1 + take) {
        receiving_ = false;
        framing_error();
        return;
    }
    command_.insert(command_.end(), f.data + 1, f.data + 1 + take);
    ++command_sequence_;
    if (command_.size() == command_length_) {
        receiving_ = false;
        complete_command();
    }
}

void can_peer::complete_command() {
    const std::span<const std::uint8_t> packet(command_);
    const std::uint16_t type = get16(packet, 0, be);
    const std::size_t n = get16(packet, 2, be);
    reply r;
    {
        std::lock_guard lock(mutex_);
        if (8 + n != packet.size()) {
            model_.record_framing_error();
            r.response_type = type;
            r.status = status::header_malformed;
        } else {
            r = model_.process(type, get16(packet, 4, be), packet.subspan(8), be);
        }
        if (r.reset) model_.restart(ecu_mode::boot);
        changed_.notify_all();
    }
    const fault_actions& faults = r.faults;
    if (faults.mute) return;
    if (faults.unplug) {
        drop_connection();
        return;
    }
    if (faults.delay_ms) std::this_thread::sleep_for(std::chrono::milliseconds(faults.delay_ms));
    if (8 + r.data.size() > max_packet) {  // no first frame can announce it
        r.status = status::header_unsupported;
        r.data.clear();
    }
    response_.assign(8, 0);
    put16(response_, 0, r.response_type, be);
    put16(response_, 2, std::uint16_t(r.data.size()), be);
    put16(response_, 4, r.status, be);
    response_.insert(response_.end(), r.data.begin(), r.data.end());
    if (faults.short_header) response_.resize(4);
    drop_after_response_ = faults.unplug_after;

    const std::size_t length = response_.size();
    std::uint8_t first[8] = {std::uint8_t(0x10 | (length >> 8)), std::uint8_t(length & 0xFF)};
    const std::size_t in_first = std::min<std::size_t>(6, length);
    std::copy_n(response_.begin(), in_first, first + 2);
    response_sent_ = in_first;
    response_sequence_ = 1;
    send_frame(first);
    if (response_sent_ == length) {
        response_.clear();
        return;
    }
    flow_control_due_ = std::chrono::steady_clock::now() + flow_control_wait;
}

void can_peer::on_flow_control(const frame& f) {
    if (response_.empty()) return;  // nothing is waiting for it
    const std::uint8_t flow_status = f.data[0] & 0xF;
    if (flow_status == 1) {  // wait: the host will send another
        flow_control_due_ = std::chrono::steady_clock::now() + flow_control_wait;
        return;
    }
    if (flow_status != 0 || f.length < 2) {
        response_.clear();
        flow_control_due_.reset();
        framing_error();
        return;
    }
    send_consecutive_frames(f.data[1]);
}

void can_peer::send_consecutive_frames(std::size_t block_size) {
    std::size_t sent = 0;
    while (response_sent_ < response_.size() && (block_size == 0 || sent < block_size)) {
        std::uint8_t cf[8] = {std::uint8_t(0x20 | (response_sequence_ & 0xF))};
        const std::size_t take = std::min<std::size_t>(7, response_.size() - response_sent_);
        std::copy_n(response_.begin() + std::ptrdiff_t(response_sent_), take, cf + 1);
        if (!send_frame(cf)) break;
        response_sent_ += take;
        ++response_sequence_;
        ++sent;
    }
    if (response_sent_ < response_.size() && conn_fd_ >= 0) {
        flow_control_due_ = std::chrono::steady_clock::now() + flow_control_wait;
        return;
    }
    response_.clear();
    flow_control_due_.reset();
    if (drop_after_response_) drop_connection();
}

}  // namespace ecusim
