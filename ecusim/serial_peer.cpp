#include "ecusim/serial_peer.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace ecusim {

namespace {

constexpr std::uint8_t connection_request = 0xC5;
constexpr std::uint8_t host_order_answer = 0xCC;
constexpr std::uint8_t command_received = 0xCD;
constexpr std::uint8_t response_taken = 0xDC;
constexpr std::size_t header_size = 8;

}  // namespace

serial_peer::serial_peer(ecu_config cfg, std::string link_path, bool host_order)
    : link_path_(std::move(link_path)),
      pty_(std::make_unique<qx::platform::serial::pty>(link_path_)),
      order_(host_order ? byte_order::little : byte_order::big),
      model_(std::move(cfg)) {}

serial_peer::serial_peer(ecu_config cfg, terminal_device device, bool host_order)
    : order_(host_order ? byte_order::little : byte_order::big), model_(std::move(cfg)) {
    int error = 0;
    // Raw, 57600 bit/s 8N1, no handshake, non-blocking, its input emptied.
    device_ = qx::platform::serial::port::open(device.path, error);
    if (!device_) throw std::system_error(error, std::generic_category(), "open " + device.path);
}

serial_peer::~serial_peer() {
    stop();
}

void serial_peer::start() {
    if (running_) return;
    wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_fd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
    running_ = true;
    thread_ = std::thread([this] { serve(); });
}

void serial_peer::stop() {
    if (!running_) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(wake_fd_, &one, sizeof one);
    thread_.join();
    ::close(wake_fd_);
    wake_fd_ = -1;
    running_ = false;
    // Bytes no host takes any more (its adapter was unplugged) would hold the device's close.
    if (device_) device_->discard_output();
}

void serial_peer::hang_up() {
    stop();
    if (pty_) pty_->hang_up();
    else device_->close();
    std::lock_guard lock(mutex_);
    hung_up_ = true;
    changed_.notify_all();
}

serial_counters serial_peer::counters() const {
    std::lock_guard lock(mutex_);
    return counters_;
}

bool serial_peer::wait_for(const std::function<bool(const serial_counters&)>& pred, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return pred(counters_); });
}

void serial_peer::set_faults(fault_plan plan) {
    std::lock_guard lock(mutex_);
    model_.set_faults(std::move(plan));
}

void serial_peer::serve() {
    std::uint8_t buffer[512];
    for (;;) {
        int timeout = -1;
        if (!pending_.empty()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                last_byte_ + inter_byte_timeout - std::chrono::steady_clock::now());
            timeout = int(std::max<long long>(0, left.count()));
        }
        pollfd fds[2] = {{wake_fd_, POLLIN, 0}, {line(), POLLIN, 0}};
        const int n = ::poll(fds, 2, timeout);
        if (n < 0 && errno != EINTR) return;
        if (fds[0].revents & POLLIN) return;
        if (n == 0 && !pending_.empty()) {
            std::lock_guard lock(mutex_);
            pending_.clear();
            ++counters_.dropped;
            model_.record_framing_error();
            changed_.notify_all();
            continue;
        }
        const short ready = device_ ? POLLIN | POLLHUP | POLLERR : POLLIN;
        if (!(fds[1].revents & ready)) continue;
        const ssize_t got = ::read(line(), buffer, sizeof buffer);
        if (got <= 0) {
            // A device that hung up (its adapter was unplugged) serves nothing more.
            if (device_ && (got == 0 || (errno != EAGAIN && errno != EINTR))) return;
            continue;
        }
        last_byte_ = std::chrono::steady_clock::now();
        for (ssize_t i = 0; i < got; ++i) handle(buffer[i]);
    }
}

void serial_peer::handle(std::uint8_t byte) {
    if (pending_.empty()) {
        if (byte == connection_request) {
            {
                // Counted before the answer goes out, so whoever got the answer sees the count.
                std::lock_guard lock(mutex_);
                ++counters_.connection_requests;
                changed_.notify_all();
            }
            send(order_ == byte_order::little ? host_order_answer : connection_request);
            return;
        }
        if (byte == response_taken) {
            std::lock_guard lock(mutex_);
            ++counters_.acknowledgements;
            changed_.notify_all();
            return;
        }
    }
    pending_.push_back(byte);
    if (pending_.size() < header_size) return;
    const std::size_t data_size = get16(pending_, 2, order_);
    if (pending_.size() < header_size + data_size) return;
    answer_command();
    pending_.clear();
}

void serial_peer::answer_command() {
    const std::uint16_t type = get16(pending_, 0, order_);
    const std::uint16_t room = get16(pending_, 4, order_);
    reply r;
    {
        std::lock_guard lock(mutex_);
        r = model_.process(type, room, std::span(pending_).subspan(header_size), order_);
        ++counters_.commands;
        counters_.last_command_type = type;
        counters_.last_header.assign(pending_.begin(), pending_.begin() + header_size);
        changed_.notify_all();
    }
    const fault_actions& f = r.faults;
    if (f.mute) return;
    if (f.unplug) {
        // Nothing to unplug on a serial line: the ECU just goes quiet.
        return;
    }
    if (f.delay_ms) std::this_thread::sleep_for(std::chrono::milliseconds(f.delay_ms));
    bytes answer(1 + header_size, 0);
    answer[0] = command_received;
    std::span header = std::span(answer).subspan(1);
    put16(header, 0, r.response_type, order_);
    put16(header, 2, std::uint16_t(r.data.size()), order_);
    put16(header, 4, r.status, order_);
    if (f.short_header) answer.resize(1 + 4);
    else answer.insert(answer.end(), r.data.begin(), r.data.end());
    send(answer.data(), answer.size());
    std::lock_guard lock(mutex_);
    if (r.reset) model_.restart(ecu_mode::boot);
    ++counters_.answers;
    changed_.notify_all();
}

// Blocks while the host's input is full; gives up when the line or the peer goes away.
void serial_peer::send(const std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(line(), data + done, size - done);
        if (n > 0) {
            done += std::size_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return;
        pollfd fds[2] = {{line(), POLLOUT, 0}, {wake_fd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if (fds[1].revents & POLLIN) return;
    }
}

}  // namespace ecusim
