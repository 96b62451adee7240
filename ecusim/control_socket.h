// How `ecusim unplug | plug` reach a running `ecusim usb` or `ecusim gadget`: its control
// socket NAME.control (SOCK_SEQPACKET) in the registry root, which the registry's checks keep
// for the effective user alone. A request is one message ("unplug" or "plug"), answered with
// "unplugged" or "plugged in" once done; either side talks only to a peer of its own user.
// Nothing is signalled and no process id is taken from a file.
#pragma once

#include <string>

namespace ecusim {

// Whether a listener is behind the socket at `path`: true when it takes a connection or
// cannot be told apart from one; false when nothing is there or it refuses (left by a process
// that ended).
bool socket_in_use(const std::string& path);

// NAME's control socket, bound and listening: while it lives, NAME is taken.
class control_socket {
public:
    // Binds ROOT/NAME.control; a socket left there by an ecusim that ended is replaced.
    // Throws std::runtime_error when a running ecusim holds NAME.
    control_socket(const std::string& root, const std::string& name);
    ~control_socket();
    control_socket(const control_socket&) = delete;
    control_socket& operator=(const control_socket&) = delete;

    static std::string path_of(const std::string& root, const std::string& name);
    const std::string& name() const { return name_; }
    int fd() const { return fd_; }

    // Takes the request waiting on fd(): its text, or empty when there was none from a client
    // of the same user (that client is closed). answer() replies to it.
    std::string take_request();
    void answer(const std::string& text);

private:
    std::string name_, path_;
    int fd_ = -1;
    int client_ = -1;
};

// Holds an exclusive lock on the registry root while it lives, so that ecusims starting at the
// same time choose their names one after the other.
class registry_lock {
public:
    explicit registry_lock(const std::string& root);
    ~registry_lock();
    registry_lock(const registry_lock&) = delete;
    registry_lock& operator=(const registry_lock&) = delete;

private:
    int fd_ = -1;
};

// `ecusim unplug | plug --name NAME`: sends `request` to NAME's control socket under `root`
// and waits for the answer. 0 when it came, else 1 with the reason on `err`.
int send_control_request(const std::string& root, const std::string& name, const std::string& request,
                         std::string& answer, std::string& err);

}  // namespace ecusim
