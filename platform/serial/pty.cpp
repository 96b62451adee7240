#include "platform/serial/pty.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace qx::platform::serial {

namespace {

[[noreturn]] void fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

pty::pty(std::string link_path) : link_path_(std::move(link_path)) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) fail("posix_openpt");
    char name[128];
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || ::ptsname_r(master_, name, sizeof name) != 0) {
        const int error = errno;
        ::close(master_);
        errno = error;
        fail("pseudo-terminal slave");
    }
    slave_path_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        const int error = errno;
        ::close(master_);
        errno = error;
        fail("open " + slave_path_);
    }
    termios t{};
    ::tcgetattr(slave_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave_, TCSANOW, &t);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    if (!link_path_.empty()) {
        ::unlink(link_path_.c_str());
        if (::symlink(slave_path_.c_str(), link_path_.c_str()) != 0) {
            const int error = errno;
            ::close(slave_);
            ::close(master_);
            errno = error;
            fail("symlink " + link_path_);
        }
    }
}

pty::~pty() {
    hang_up();
    if (!link_path_.empty()) ::unlink(link_path_.c_str());
}

void pty::hang_up() {
    if (master_ >= 0) ::close(std::exchange(master_, -1));
    if (slave_ >= 0) ::close(std::exchange(slave_, -1));
}

}  // namespace qx::platform::serial
