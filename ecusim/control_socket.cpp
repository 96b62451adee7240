#include "ecusim/control_socket.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "platform/registry/device_registry.h"

namespace ecusim {

namespace {

sockaddr_un address_of(const std::string& path) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    if (path.size() >= sizeof a.sun_path) throw std::invalid_argument("socket path too long: " + path);
    std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
    return a;
}

// The user at the other end of a connected socket.
bool peer_is_me(int fd) {
    ucred cred{};
    socklen_t size = sizeof cred;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) == 0 && cred.uid == ::geteuid();
}

void receive_timeout(int fd, int seconds) {
    const timeval tv{seconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

std::string no_ecusim(const std::string& name, const std::string& why) {
    return "no running `ecusim usb` or `ecusim gadget` named " + name + " (" + why + ")";
}

}  // namespace

bool socket_in_use(const std::string& path) {
    const sockaddr_un a = address_of(path);
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "socket");
    const int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    const int err = errno;
    ::close(fd);
    return rc == 0 || (err != ENOENT && err != ECONNREFUSED);
}

std::string control_socket::path_of(const std::string& root, const std::string& name) {
    return root + "/" + name + ".control";
}

control_socket::control_socket(const std::string& root, const std::string& name)
    : name_(name), path_(path_of(root, name)) {
    const sockaddr_un a = address_of(path_);
    fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "socket");
    for (int attempt = 0;; ++attempt) {
        if (::bind(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) break;
        const int err = errno;
        std::string why;
        if (err != EADDRINUSE || attempt > 0) why = std::string("cannot bind ") + path_ + ": " + std::strerror(err);
        else if (socket_in_use(path_)) why = name + " is taken by a running ecusim (" + path_ + ")";
        else why = qx::platform::registry_socket_refusal(path_);
        if (!why.empty()) {
            ::close(fd_);
            throw std::runtime_error(why);
        }
        ::unlink(path_.c_str());  // left by an ecusim that ended
    }
    if (::listen(fd_, 4) != 0) {
        const int err = errno;
        ::close(fd_);
        ::unlink(path_.c_str());
        throw std::system_error(err, std::generic_category(), "listen " + path_);
    }
}

control_socket::~control_socket() {
    if (client_ >= 0) ::close(client_);
    ::unlink(path_.c_str());
    ::close(fd_);
}

std::string control_socket::take_request() {
    if (client_ >= 0) ::close(client_);
    client_ = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client_ < 0) return {};
    char text[64];
    ssize_t got = -1;
    if (peer_is_me(client_)) {
        receive_timeout(client_, 2);
        got = ::recv(client_, text, sizeof text, 0);
    }
    if (got <= 0) {
        ::close(client_);
        client_ = -1;
        return {};
    }
    return std::string(text, std::size_t(got));
}

void control_socket::answer(const std::string& text) {
    if (client_ < 0) return;
    ::send(client_, text.data(), text.size(), MSG_NOSIGNAL);
    ::close(client_);
    client_ = -1;
}

registry_lock::registry_lock(const std::string& root) {
    fd_ = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (fd_ < 0 || ::flock(fd_, LOCK_EX) != 0) throw std::system_error(errno, std::generic_category(), "lock " + root);
}

registry_lock::~registry_lock() { ::close(fd_); }

int send_control_request(const std::string& root, const std::string& name, const std::string& request,
                         std::string& answer, std::string& err) {
    bool missing = false;
    if (std::string refusal = qx::platform::registry_folder_refusal(root, &missing); !refusal.empty()) {
        err = refusal;
        return 1;
    }
    const std::string path = control_socket::path_of(root, name);
    struct stat st {};
    if (missing || (::lstat(path.c_str(), &st) != 0 && errno == ENOENT)) {
        err = no_ecusim(name, "no control socket " + path);
        return 1;
    }
    if (std::string refusal = qx::platform::registry_socket_refusal(path); !refusal.empty()) {
        err = refusal;
        return 1;
    }
    const sockaddr_un a = address_of(path);
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        err = no_ecusim(name, path + ": " + std::strerror(errno));
        if (fd >= 0) ::close(fd);
        return 1;
    }
    if (!peer_is_me(fd)) {
        ::close(fd);
        err = path + " is served by another user: not asked";
        return 1;
    }
    // Unplugging waits for the exchange being served, which a fault plan may delay.
    receive_timeout(fd, 30);
    char text[64];
    ssize_t got = -1;
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size()))
        got = ::recv(fd, text, sizeof text, 0);
    ::close(fd);
    if (got <= 0) {
        err = no_ecusim(name, path + " gave no answer");
        return 1;
    }
    answer.assign(text, std::size_t(got));
    return 0;
}

}  // namespace ecusim
