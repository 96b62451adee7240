// A pseudo-terminal standing in for a serial line: the far end (an ECU) holds the master, the
// host opens the slave like any serial port, through a symbolic link at a chosen path.
#pragma once

#include <string>

namespace qx::platform::serial {

class pty {
public:
    // Raw from the start. With a non-empty `link_path`, a symbolic link there names the slave
    // (an existing link or file at that path is replaced). Throws std::system_error.
    explicit pty(std::string link_path = {});
    ~pty();
    pty(const pty&) = delete;
    pty& operator=(const pty&) = delete;

    // Non-blocking; -1 after hang_up().
    int master() const { return master_; }
    const std::string& slave_path() const { return slave_path_; }
    const std::string& link_path() const { return link_path_; }
    // The line goes dead: the host's reads and writes on the slave fail from now on.
    void hang_up();

private:
    int master_ = -1;
    int slave_ = -1;  // kept open so that the master never reads EIO while the host is away
    std::string slave_path_;
    std::string link_path_;
};

}  // namespace qx::platform::serial
