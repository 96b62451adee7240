#include "transfer/capture.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>

#include "flashdesk_version.h"
#include "platform/capture/pcapng.h"
#include "platform/environment.h"
#include "transfer/messages.h"

namespace qx::transfer::capture {

namespace detail {
std::atomic<bool> on{false};
}  // namespace detail

namespace {

namespace pc = platform::pcapng;

constexpr std::uint32_t no_interface = ~0u;

struct port_info {
    const char* name;
    std::uint16_t linktype;
};
constexpr std::array<port_info, port_count> ports = {{
    {"usb", pc::linktype_usb_packets},
    {"usb-can", pc::linktype_can_socketcan},
    {"serial", pc::linktype_serial_bytes},
    {"simulator", pc::linktype_simulator},
}};

struct capture_state {
    // At the end of the process: nothing records into a state that is gone.
    ~capture_state() { detail::on.store(false, std::memory_order_relaxed); }

    std::mutex mutex;  // everything below; links record from more than one thread
    std::string path;  // the file open, or the one that could not be
    std::unique_ptr<pc::writer> file;
    std::array<std::uint32_t, port_count> interface{};
    std::array<std::string, port_count> device;
};

capture_state& state() {
    static capture_state s;
    return s;
}

// The process's command line, its words separated by blanks, those with blanks quoted.
std::string command_line() {
    const int fd = ::open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    std::string raw;
    char chunk[512];
    for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;) raw.append(chunk, std::size_t(n));
    ::close(fd);
    std::string text;
    std::size_t at = 0;
    while (at < raw.size()) {
        std::size_t end = raw.find('\0', at);
        if (end == std::string::npos) end = raw.size();
        const std::string word = raw.substr(at, end - at);
        if (!text.empty()) text += ' ';
        text += word.empty() || word.find_first_of(" \t'\"") != std::string::npos ? "'" + word + "'" : word;
        at = end + 1;
    }
    return text;
}

std::uint64_t now_ns() {
    timespec t{};
    ::clock_gettime(CLOCK_REALTIME, &t);
    return std::uint64_t(t.tv_sec) * 1000000000u + std::uint64_t(t.tv_nsec);
}

void stop(capture_state& s) {
    detail::on.store(false, std::memory_order_relaxed);
    s.file.reset();
}

// Caller holds the mutex. The port's interface, written on first use; no_interface when the
// file failed.
std::uint32_t interface_of(capture_state& s, port p) {
    std::uint32_t& id = s.interface[std::size_t(p)];
    if (id != no_interface) return id;
    const port_info& info = ports[std::size_t(p)];
    pc::interface_description d;
    d.linktype = info.linktype;
    d.name = info.name;
    if (const std::string& device = s.device[std::size_t(p)]; !device.empty()) d.name += " " + device;
    d.description = "Trelink " FLASHDESK_VERSION;
    d.comment = command_line();
    if (!s.file->add_interface(d, id)) id = no_interface;
    return id;
}

void add(capture_state& s, port p, direction d, const void* bytes, std::size_t size) {
    if (!s.file) return;
    const std::uint32_t id = interface_of(s, p);
    const auto dir = d == direction::to_ecu ? pc::direction::outbound : pc::direction::inbound;
    if (id != no_interface && s.file->add_packet(id, now_ns(), dir, bytes, size)) return;
    show_error("Trelink capture: writing %s failed (%s); the capture ends here", s.path.c_str(),
               std::strerror(s.file->error()));
    stop(s);
}

}  // namespace

namespace detail {

void record(port p, direction d, const void* bytes, std::size_t size) {
    capture_state& s = state();
    std::lock_guard lock(s.mutex);
    add(s, p, d, bytes, size);
}

void record_can(direction d, const platform::can::can_message& m) {
    std::uint8_t frame[pc::socketcan_frame_size] = {};
    std::uint32_t id = m.id;
    if (m.frame_format & platform::can::frame_format_extended) id |= pc::socketcan_extended_flag;
    if (m.frame_format & platform::can::frame_format_remote) id |= pc::socketcan_remote_flag;
    for (int i = 0; i < 4; ++i) frame[i] = std::uint8_t(id >> (24 - 8 * i));
    frame[4] = std::min<std::uint8_t>(m.data_length, 8);
    std::memcpy(frame + 8, m.data, 8);
    detail::record(port::usb_can, d, frame, sizeof frame);
}

}  // namespace detail

void start_from_environment() {
    const std::string path = platform::environment::capture_file();
    capture_state& s = state();
    std::lock_guard lock(s.mutex);
    if (path == s.path) return;
    stop(s);
    s.path = path;
    s.interface.fill(no_interface);
    if (path.empty()) return;
    int error = 0;
    s.file = pc::writer::create(path, "Trelink " FLASHDESK_VERSION, error);
    if (!s.file) {
        show_error("Trelink capture: cannot create %s (%s); nothing is captured", path.c_str(), std::strerror(error));
        return;
    }
    detail::on.store(true, std::memory_order_relaxed);
}

void name_device(port p, const std::string& device) {
    capture_state& s = state();
    std::lock_guard lock(s.mutex);
    s.device[std::size_t(p)] = device;
}

}  // namespace qx::transfer::capture
