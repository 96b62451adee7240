#include "platform/usb/registry_pipe.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/environment.h"

namespace qx::platform::usb {

namespace {

class registry_pipe final : public pipe {
public:
    registry_pipe(int fd, int deadline_ms) : fd_(fd), deadline_ms_(deadline_ms) {}
    ~registry_pipe() override { ::close(fd_); }
    registry_pipe(const registry_pipe&) = delete;
    registry_pipe& operator=(const registry_pipe&) = delete;

    io_result write(const void* bytes, std::size_t size) override {
        for (;;) {
            const ssize_t sent = ::send(fd_, bytes, size, MSG_NOSIGNAL);
            if (sent >= 0) return io_result::done(std::size_t(sent));
            if (errno != EINTR)
                return io_result::failed(errno == EPIPE || errno == ECONNRESET ? ENODEV : errno);
        }
    }

    io_result read(void* bytes, std::size_t size) override {
        if (!answer_in_time()) {
            // The ECU is taken for gone: a late answer must not reach a later read.
            ::shutdown(fd_, SHUT_RDWR);
            return io_result::failed(ENODEV);
        }
        return receive(bytes, size, 0);
    }

    io_result read_waiting(void* bytes, std::size_t size) override { return receive(bytes, size, MSG_DONTWAIT); }

    // Shutting the socket down wakes a waiting recv or send; the descriptor stays ours until
    // the pipe goes.
    void interrupt() override { ::shutdown(fd_, SHUT_RDWR); }

private:
    io_result receive(void* bytes, std::size_t size, int flags) {
        for (;;) {
            // MSG_TRUNC makes recv return the packet's real length, so a packet longer than
            // the read asked for is seen (and counted as a failed read).
            const ssize_t got = ::recv(fd_, bytes, size, MSG_TRUNC | flags);
            if (got < 0) {
                if (errno == EINTR) continue;
                if (errno == EWOULDBLOCK) return io_result::failed(EAGAIN);
                return io_result::failed(errno == ECONNRESET ? ENODEV : errno);
            }
            if (std::size_t(got) > size) return io_result::failed(EMSGSIZE);
            // Devices never send empty packets, so 0 is the end of the connection.
            if (got == 0 && size > 0) return io_result::failed(ENODEV);
            return io_result::done(std::size_t(got));
        }
    }

    // False when nothing arrived within the deadline (there is none when it is negative).
    bool answer_in_time() const {
        if (deadline_ms_ < 0) return true;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadline_ms_);
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
            pollfd p{fd_, POLLIN, 0};
            const int n = ::poll(&p, 1, int(std::max<long long>(0, left.count())));
            if (n > 0) return true;
            if (n == 0) return false;
            if (errno != EINTR) return true;  // the read itself reports the failure
        }
    }

    int fd_;
    int deadline_ms_;
};

}  // namespace

std::unique_ptr<pipe> open_registry_device(const std::string& socket_path, int& error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socket_path.size() >= sizeof(address.sun_path)) {
        error = ENAMETOOLONG;
        return nullptr;
    }
    std::memcpy(address.sun_path, socket_path.c_str(), socket_path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        error = errno;
        ::close(fd);
        return nullptr;
    }
    error = 0;
    return std::make_unique<registry_pipe>(fd, environment::answer_timeout_ms());
}

}  // namespace qx::platform::usb
