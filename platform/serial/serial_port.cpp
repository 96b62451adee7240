#include "platform/serial/serial_port.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <utility>

namespace qx::platform::serial {

namespace {

struct rate {
    unsigned bits_per_second;
    speed_t constant;
};

constexpr std::array rates = {
    rate{300, B300},     rate{600, B600},     rate{1200, B1200},   rate{2400, B2400},
    rate{4800, B4800},   rate{9600, B9600},   rate{19200, B19200}, rate{38400, B38400},
    rate{57600, B57600}, rate{115200, B115200},
};

bool speed_of(unsigned bit_rate, speed_t& constant) {
    for (const rate& r : rates)
        if (r.bits_per_second == bit_rate) {
            constant = r.constant;
            return true;
        }
    return false;
}

unsigned bit_rate_of(speed_t constant) {
    for (const rate& r : rates)
        if (r.constant == constant) return r.bits_per_second;
    return 0;
}

tcflag_t size_flag(unsigned data_bits) {
    switch (data_bits) {
        case 5: return CS5;
        case 6: return CS6;
        case 7: return CS7;
        default: return CS8;
    }
}

}  // namespace

bool supported_bit_rate(unsigned bit_rate) {
    speed_t unused;
    return speed_of(bit_rate, unused);
}

std::unique_ptr<port> port::open(const std::string& path, int& error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        error = errno;
        ::close(fd);
        return nullptr;
    }
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CRTSCTS | CSTOPB | PARENB | PARODD | CMSPAR);
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    // One byte satisfies a read; with O_NONBLOCK an empty line answers EAGAIN and a hung-up one
    // end of file, so the two cannot be confused.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, B57600);
    ::cfsetospeed(&t, B57600);
    if (::tcsetattr(fd, TCSANOW, &t) != 0) {
        error = errno;
        ::close(fd);
        return nullptr;
    }
    // Whatever arrived before anyone opened the line belongs to nobody.
    ::tcflush(fd, TCIOFLUSH);
    return std::unique_ptr<port>(new port(fd, path));
}

port::~port() {
    close();
}

bool port::close() {
    if (fd_ < 0) return true;
    const int result = ::close(std::exchange(fd_, -1));
    return result == 0;
}

bool port::configure(const line_settings& settings) {
    speed_t speed;
    if (!speed_of(settings.bit_rate, speed) || settings.data_bits < 5 || settings.data_bits > 8 ||
        (settings.stop == stop_bits::one_and_half && settings.data_bits != 5)) {
        errno = EINVAL;
        return false;
    }
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) return false;
    t.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR);
    t.c_iflag &= ~(INPCK);
    t.c_cflag |= size_flag(settings.data_bits);
    // A UART sends one and a half stop bits for 5-bit characters when told two.
    if (settings.stop != stop_bits::one) t.c_cflag |= CSTOPB;
    switch (settings.parity_bits) {
        case parity::none: break;
        case parity::odd: t.c_cflag |= PARENB | PARODD; break;
        case parity::even: t.c_cflag |= PARENB; break;
        case parity::mark: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
        case parity::space: t.c_cflag |= PARENB | CMSPAR; break;
    }
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    return ::tcsetattr(fd_, TCSANOW, &t) == 0;
}

bool port::set_handshake(handshake mode) {
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) return false;
    t.c_cflag &= ~CRTSCTS;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (mode == handshake::hardware) t.c_cflag |= CRTSCTS;
    if (mode == handshake::software) t.c_iflag |= IXON | IXOFF;
    return ::tcsetattr(fd_, TCSANOW, &t) == 0;
}

bool port::current(line_settings& settings, handshake& mode) const {
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) return false;
    settings.bit_rate = bit_rate_of(::cfgetospeed(&t));
    switch (t.c_cflag & CSIZE) {
        case CS5: settings.data_bits = 5; break;
        case CS6: settings.data_bits = 6; break;
        case CS7: settings.data_bits = 7; break;
        default: settings.data_bits = 8; break;
    }
    if (!(t.c_cflag & PARENB))
        settings.parity_bits = parity::none;
    else if (t.c_cflag & CMSPAR)
        settings.parity_bits = (t.c_cflag & PARODD) ? parity::mark : parity::space;
    else
        settings.parity_bits = (t.c_cflag & PARODD) ? parity::odd : parity::even;
    settings.stop = !(t.c_cflag & CSTOPB)        ? stop_bits::one
                    : settings.data_bits == 5    ? stop_bits::one_and_half
                                                 : stop_bits::two;
    mode = (t.c_cflag & CRTSCTS)   ? handshake::hardware
           : (t.c_iflag & IXON)    ? handshake::software
                                   : handshake::none;
    return true;
}

std::size_t port::write_all(const void* bytes, std::size_t size) {
    if (timed_out_) {
        errno = EPIPE;
        return 0;
    }
    const auto* at = static_cast<const std::uint8_t*>(bytes);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd_, at + done, size - done);
        if (n > 0) {
            done += std::size_t(n);
            quiet_since_.reset();
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) break;
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, -1) < 0 && errno != EINTR) break;
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            errno = EPIPE;
            break;
        }
    }
    return done;
}

long port::read_some(void* into, std::size_t size) {
    if (timed_out_) {
        errno = EPIPE;
        return -1;
    }
    if (size == 0) return 0;
    for (;;) {
        const ssize_t n = ::read(fd_, into, size);
        if (n > 0) {
            quiet_since_.reset();
            return long(n);
        }
        if (n == 0) {
            errno = EPIPE;
            return -1;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return quiet_read();
        // A pseudo-terminal whose other side has gone answers EIO.
        if (errno == EIO) errno = EPIPE;
        return -1;
    }
}

long port::quiet_read() {
    if (deadline_ms_ < 0) return 0;
    const auto now = std::chrono::steady_clock::now();
    if (!quiet_since_) quiet_since_ = now;
    if (now - *quiet_since_ < std::chrono::milliseconds(deadline_ms_)) return 0;
    timed_out_ = true;
    errno = EPIPE;
    return -1;
}

port::wait_result port::wait(int wake_fd, int timeout_ms) const {
    pollfd p[2] = {{fd_, POLLIN, 0}, {wake_fd, POLLIN, 0}};
    const int n = ::poll(p, wake_fd >= 0 ? 2 : 1, timeout_ms);
    if (n < 0) return errno == EINTR ? wait_result::timed_out : wait_result::failed;
    if (wake_fd >= 0 && (p[1].revents & POLLIN)) return wait_result::woken;
    if (p[0].revents & POLLIN) return wait_result::readable;
    if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return wait_result::hung_up;
    return wait_result::timed_out;
}

bool port::discard_input() {
    return ::tcflush(fd_, TCIFLUSH) == 0;
}

bool port::discard_output() {
    return ::tcflush(fd_, TCOFLUSH) == 0;
}

line_status port::status() const {
    line_status s;
    int count = 0;
    if (::ioctl(fd_, FIONREAD, &count) == 0 && count > 0) s.input_waiting = std::uint32_t(count);
    count = 0;
    if (::ioctl(fd_, TIOCOUTQ, &count) == 0 && count > 0) s.output_waiting = std::uint32_t(count);
    serial_icounter_struct c{};
    if (::ioctl(fd_, TIOCGICOUNT, &c) == 0) {
        s.received = std::uint32_t(c.rx);
        s.transmitted = std::uint32_t(c.tx);
        s.overruns = std::uint32_t(c.overrun + c.buf_overrun);
        s.parity_errors = std::uint32_t(c.parity);
        s.framing_errors = std::uint32_t(c.frame);
        s.breaks = std::uint32_t(c.brk);
        s.modem_changes = std::uint32_t(c.cts + c.dsr + c.rng + c.dcd);
    }
    int lines = 0;
    if (::ioctl(fd_, TIOCMGET, &lines) == 0) {
        if (lines & TIOCM_CTS) s.modem_status |= 0x10;
        if (lines & TIOCM_DSR) s.modem_status |= 0x20;
        if (lines & TIOCM_RI) s.modem_status |= 0x40;
        if (lines & TIOCM_CD) s.modem_status |= 0x80;
    }
    serial_struct info{};
    if (::ioctl(fd_, TIOCGSERIAL, &info) == 0) s.uart_type = std::uint32_t(info.type);
    return s;
}

}  // namespace qx::platform::serial
