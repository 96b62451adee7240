#include "platform/usb/registry_pipe.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/environment.h"

namespace qx::platform::usb {

namespace {

// With an answer deadline the socket's receive time-out bounds every read: the wait costs no
// system call besides the read itself.
class registry_pipe final : public pipe {
public:
    explicit registry_pipe(int fd) : fd_(fd) {}
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
        return receive(bytes, size, 0);
    }

    // A packet already waiting, or EAGAIN at once; the receive time-out does not apply.
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
                if (errno == EINTR) continue;  // the time-out starts again: a signal is no answer
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    if (flags & MSG_DONTWAIT) return io_result::failed(EAGAIN);
                    // Nothing within the deadline: the ECU is taken for gone, and a late answer
                    // must not reach a later read.
                    ::shutdown(fd_, SHUT_RDWR);
                    return io_result::failed(ENODEV);
                }
                return io_result::failed(errno == ECONNRESET ? ENODEV : errno);
            }
            if (std::size_t(got) > size) return io_result::failed(EMSGSIZE);
            // Devices never send empty packets, so 0 is the end of the connection.
            if (got == 0 && size > 0) return io_result::failed(ENODEV);
            return io_result::done(std::size_t(got));
        }
    }

    int fd_;
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
    if (const int deadline_ms = environment::answer_timeout_ms(); deadline_ms > 0) {
        const timeval limit{deadline_ms / 1000, (deadline_ms % 1000) * 1000};
        if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0) {
            error = errno;
            ::close(fd);
            return nullptr;
        }
    }
    error = 0;
    return std::make_unique<registry_pipe>(fd);
}

}  // namespace qx::platform::usb
