#include "transfer/serial/comm_port.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

#include "platform/serial/port_names.h"
#include "transfer/capture.h"

namespace qx::transfer::serial {

namespace pl = qx::platform::serial;

bool comm_port::open(const std::string& port_name, bool captured) {
    if (line_) return false;
    const std::string path = pl::device_path_of(port_name);
    if (path.empty()) return false;
    captured_ = captured;
    if (captured) capture::name_device(capture::port::serial, port_name + " (" + path + ")");
    int error = 0;
    line_ = pl::port::open(path, error);
    if (!line_) return false;
    wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_fd_ < 0) {
        line_.reset();
        return false;
    }
    ring_.empty();
    reader_ = std::jthread([this](std::stop_token stop) { read_loop(stop); });
    return true;
}

bool comm_port::setup(const pl::line_settings& settings) {
    return line_ && line_->configure(settings);
}

bool comm_port::set_handshake(pl::handshake mode) {
    return line_ && line_->set_handshake(mode);
}

// Every byte to and from the line passes here or through the reader's read_some. The bytes
// going out are captured as they are handed to the line: the reader thread may capture the
// ECU's answer to them before write_all returns.
std::size_t comm_port::write(const void* bytes, std::size_t size) {
    if (!line_) return 0;
    if (captured_) capture::record(capture::port::serial, capture::direction::to_ecu, bytes, size);
    return line_->write_all(bytes, size);
}

void comm_port::discard_input() {
    std::lock_guard moving(moving_);
    if (line_) line_->discard_input();
    ring_.empty();
}

bool comm_port::close() {
    if (!line_) return true;
    if (reader_.joinable()) {
        reader_.request_stop();
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(wake_fd_, &one, sizeof one);
        reader_.join();
    }
    ::close(wake_fd_);
    wake_fd_ = -1;
    const bool closed = line_->close();
    line_.reset();
    return closed;
}

// Waits for received characters and moves them into the ring in chunks of up to 100 bytes
// until a chunk comes back short. While the ring is full the bytes stay in the port's own
// buffer, so that none are lost between the port and the ring.
void comm_port::read_loop(std::stop_token stop) {
    std::uint8_t chunk[read_chunk];
    bool hung_up = false;
    while (!stop.stop_requested()) {
        if (hung_up) {
            // Nothing more will come: sleep until told to stop.
            pollfd wake{wake_fd_, POLLIN, 0};
            ::poll(&wake, 1, -1);
            continue;
        }
        if (!ring_.wait_for_room(stop)) return;
        switch (line_->wait(wake_fd_, -1)) {
            case pl::port::wait_result::woken: continue;
            case pl::port::wait_result::hung_up:
            case pl::port::wait_result::failed: hung_up = true; continue;
            case pl::port::wait_result::timed_out: continue;
            case pl::port::wait_result::readable: break;
        }
        std::lock_guard moving(moving_);
        for (;;) {
            const std::size_t want = std::min(read_chunk, ring_.room());
            if (want == 0) break;
            const long got = line_->read_some(chunk, want);
            if (got < 0) {
                hung_up = true;
                break;
            }
            if (captured_ && got > 0)
                capture::record(capture::port::serial, capture::direction::from_ecu, chunk, std::size_t(got));
            ring_.append(chunk, std::size_t(got));
            if (std::size_t(got) < want) break;
        }
        // termios keeps no error state that has to be cleared before the next event.
    }
}

}  // namespace qx::transfer::serial
