#include "ecusim/usb_gadget.h"

#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "platform/usb/ecu_usb_interface.h"

namespace ecusim {

namespace fs = std::filesystem;

namespace {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "FunctionFS descriptors are little-endian");

constexpr char interface_text[] = "ecusim virtual ECU";

struct endpoint_pair {
    usb_interface_descriptor intf;
    usb_endpoint_descriptor_no_audio out;
    usb_endpoint_descriptor_no_audio in;
} __attribute__((packed));

constexpr endpoint_pair endpoints(std::uint16_t max_packet) {
    endpoint_pair p{};
    p.intf.bLength = sizeof p.intf;
    p.intf.bDescriptorType = USB_DT_INTERFACE;
    p.intf.bNumEndpoints = 2;
    p.intf.bInterfaceClass = qx::platform::usb::ecu_usb_class;
    p.intf.bInterfaceSubClass = qx::platform::usb::ecu_usb_subclass;
    p.intf.bInterfaceProtocol = qx::platform::usb::ecu_usb_protocol;
    p.intf.iInterface = 1;
    p.out.bLength = sizeof p.out;
    p.out.bDescriptorType = USB_DT_ENDPOINT;
    p.out.bEndpointAddress = 1 | USB_DIR_OUT;
    p.out.bmAttributes = USB_ENDPOINT_XFER_BULK;
    p.out.wMaxPacketSize = max_packet;
    p.in = p.out;
    p.in.bEndpointAddress = 2 | USB_DIR_IN;
    return p;
}

struct descriptor_block {
    usb_functionfs_descs_head_v2 header;
    __le32 fs_count;
    __le32 hs_count;
    endpoint_pair fs, hs;
} __attribute__((packed));

struct string_block {
    usb_functionfs_strings_head header;
    __le16 language;
    char text[sizeof interface_text];
} __attribute__((packed));

descriptor_block descriptors() {
    descriptor_block d{};
    d.header.magic = FUNCTIONFS_DESCRIPTORS_MAGIC_V2;
    d.header.length = sizeof d;
    d.header.flags = FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC;
    d.fs_count = 3;
    d.hs_count = 3;
    d.fs = endpoints(64);
    d.hs = endpoints(512);
    return d;
}

string_block strings() {
    string_block s{};
    s.header.magic = FUNCTIONFS_STRINGS_MAGIC;
    s.header.length = sizeof s;
    s.header.str_count = 1;
    s.header.lang_count = 1;
    s.language = 0x0409;
    std::memcpy(s.text, interface_text, sizeof interface_text);
    return s;
}

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + (errno ? std::string(": ") + std::strerror(errno) : std::string()));
}

void write_text(const fs::path& file, const std::string& text) {
    std::ofstream out(file);
    out << text;
    out.flush();
    if (!out) fail("cannot write " + file.string());
}

std::string hex4(std::uint16_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", v);
    return text;
}

// Interrupts a thread blocked in a read or write of an endpoint file.
const int kick_signal = SIGRTMIN + 3;
void ignore_kick(int) {}

void install_kick_handler() {
    struct sigaction sa {};
    sa.sa_handler = ignore_kick;  // no SA_RESTART: the blocked call returns EINTR
    sigemptyset(&sa.sa_mask);
    sigaction(kick_signal, &sa, nullptr);
}

// The FunctionFS function is gone for good (the instance was unmounted or closed).
bool endpoint_lost(int e) { return e == EBADF || e == ENODEV; }

}  // namespace

usb_gadget::usb_gadget(ecu_config cfg, gadget_config g, std::string state_file)
    : g_(std::move(g)), state_file_(std::move(state_file)), model_(std::move(cfg)) {
    if (g_.ffs_dir.empty()) g_.ffs_dir = "/run/ecusim/ffs-" + g_.name;
    gadget_dir_ = g_.configfs + "/usb_gadget/" + g_.name;
    function_dir_ = gadget_dir_ + "/functions/ffs." + g_.name;
}

usb_gadget::~usb_gadget() { stop(); }

std::string usb_gadget::path() const {
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x:%04x", g_.vendor, g_.product);
    return g_.udc + " " + ids;
}

void usb_gadget::setup_configfs() {
    if (!fs::exists(g_.configfs + "/usb_gadget")) {
        std::error_code ec;
        fs::create_directories(g_.configfs, ec);
        ::mount("none", g_.configfs.c_str(), "configfs", 0, nullptr);
        errno = 0;
        if (!fs::exists(g_.configfs + "/usb_gadget"))
            fail("no USB gadget support under " + g_.configfs + " (configfs and libcomposite loaded?)");
    }
    if (g_.udc.empty()) {
        std::vector<std::string> udcs;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator("/sys/class/udc", ec)) udcs.push_back(e.path().filename());
        std::sort(udcs.begin(), udcs.end());
        errno = 0;
        if (udcs.empty()) fail("no USB device controller in /sys/class/udc (dummy_hcd loaded?)");
        g_.udc = udcs.front();
    }
    if (fs::exists(gadget_dir_)) teardown();  // left behind by an earlier run
    const fs::path g(gadget_dir_);
    const fs::path english = g / "strings/0x409";
    const fs::path config = g / "configs/c.1";
    std::error_code ec;
    fs::create_directories(english, ec);
    fs::create_directories(config / "strings/0x409", ec);
    fs::create_directory(function_dir_, ec);
    if (ec) fail("cannot create the gadget " + gadget_dir_ + " (usb_f_fs loaded?): " + ec.message());
    write_text(g / "idVendor", hex4(g_.vendor));
    write_text(g / "idProduct", hex4(g_.product));
    write_text(g / "bcdUSB", "0x0200");
    write_text(g / "bcdDevice", "0x0100");
    write_text(english / "manufacturer", "ecusim");
    write_text(english / "product", interface_text);
    {
        std::lock_guard lock(model_mutex_);
        write_text(english / "serialnumber", model_.serial_text());
    }
    write_text(config / "strings/0x409/configuration", "ECU");
    write_text(config / "MaxPower", "100");
    fs::create_directory_symlink(function_dir_, config / ("ffs." + g_.name), ec);
    if (ec) fail("cannot link the function into " + config.string() + ": " + ec.message());
}

void usb_gadget::setup_functionfs() {
    std::error_code ec;
    fs::create_directories(g_.ffs_dir, ec);
    if (::mount(g_.name.c_str(), g_.ffs_dir.c_str(), "functionfs", 0, nullptr) != 0)
        fail("cannot mount FunctionFS " + g_.name + " at " + g_.ffs_dir);
    mounted_ = true;
    ep0_ = ::open((g_.ffs_dir + "/ep0").c_str(), O_RDWR | O_CLOEXEC);
    if (ep0_ < 0) fail("open ep0");
    const descriptor_block d = descriptors();
    const string_block s = strings();
    if (::write(ep0_, &d, sizeof d) != ssize_t(sizeof d)) fail("cannot write the descriptors");
    if (::write(ep0_, &s, sizeof s) != ssize_t(sizeof s)) fail("cannot write the strings");
    ep_out_ = ::open((g_.ffs_dir + "/ep1").c_str(), O_RDWR | O_CLOEXEC);
    ep_in_ = ::open((g_.ffs_dir + "/ep2").c_str(), O_RDWR | O_CLOEXEC);
    if (ep_out_ < 0 || ep_in_ < 0) fail("cannot open the bulk endpoints");
}

void usb_gadget::start() {
    if (running_) return;
    install_kick_handler();
    try {
        setup_configfs();
        setup_functionfs();
    } catch (...) {
        teardown();
        throw;
    }
    running_ = true;
    auto run = [this](int i, void (usb_gadget::*body)()) {
        return std::thread([this, i, body] {
            (this->*body)();
            std::lock_guard lock(mutex_);
            ended_[i] = true;
            cv_.notify_all();
        });
    };
    ep0_thread_ = run(0, &usb_gadget::events);
    out_thread_ = run(1, &usb_gadget::read_commands);
    in_thread_ = run(2, &usb_gadget::write_answers);
    timer_thread_ = std::thread([this] { timers(); });
    plug();
}

void usb_gadget::stop() {
    if (!running_) return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    cv_.notify_all();
    set_bound(false);
    // A thread may enter its blocking call just after a kick: kick until it has ended.
    std::thread* blocking[] = {&ep0_thread_, &out_thread_, &in_thread_};
    std::unique_lock lock(mutex_);
    for (int i = 0; i < 3; ++i) {
        while (!ended_[i]) {
            pthread_kill(blocking[i]->native_handle(), kick_signal);
            cv_.wait_for(lock, std::chrono::milliseconds(20));
        }
    }
    lock.unlock();
    for (std::thread* t : blocking) t->join();
    timer_thread_.join();
    running_ = false;
    teardown();
    write_state();
}

void usb_gadget::teardown() {
    {
        std::lock_guard lock(bind_mutex_);
        std::ofstream(gadget_dir_ + "/UDC") << "\n";
        bound_ = false;
    }
    for (int* fd : {&ep_in_, &ep_out_, &ep0_}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
    if (mounted_ || fs::exists(g_.ffs_dir + "/ep0")) ::umount(g_.ffs_dir.c_str());
    mounted_ = false;
    // configfs wants its directories removed one by one, innermost first.
    const fs::path g(gadget_dir_);
    std::error_code ec;
    fs::remove(g / "configs/c.1" / ("ffs." + g_.name), ec);
    for (const fs::path& d : {g / "configs/c.1/strings/0x409", g / "configs/c.1", fs::path(function_dir_),
                              g / "strings/0x409", g})
        ::rmdir(d.c_str());
}

void usb_gadget::set_bound(bool bound) {
    std::lock_guard lock(bind_mutex_);
    if (bound == bound_) return;
    std::ofstream udc(gadget_dir_ + "/UDC");
    udc << (bound ? g_.udc : std::string()) << '\n';
    udc.flush();
    if (udc) bound_ = bound;
}

void usb_gadget::unplug() {
    {
        std::lock_guard lock(mutex_);
        replug_at_.reset();
    }
    set_bound(false);
}

void usb_gadget::plug() {
    {
        std::lock_guard lock(mutex_);
        replug_at_.reset();
    }
    set_bound(true);
}

void usb_gadget::replug_in(unsigned ms) {
    {
        std::lock_guard lock(mutex_);
        replug_at_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    }
    cv_.notify_all();
}

void usb_gadget::timers() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (!replug_at_) {
            cv_.wait(lock);
            continue;
        }
        if (cv_.wait_until(lock, *replug_at_) == std::cv_status::timeout && replug_at_ &&
            std::chrono::steady_clock::now() >= *replug_at_) {
            replug_at_.reset();
            lock.unlock();
            set_bound(true);
            lock.lock();
        }
    }
}

void usb_gadget::events() {
    for (;;) {
        usb_functionfs_event e{};
        const ssize_t n = ::read(ep0_, &e, sizeof e);
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
        }
        if (n != ssize_t(sizeof e)) {
            if (n < 0 && endpoint_lost(errno)) return;
            continue;
        }
        if (e.type == FUNCTIONFS_ENABLE) {
            usb_endpoint_descriptor d{};
            if (::ioctl(ep_out_, FUNCTIONFS_ENDPOINT_DESC, &d) == 0 && d.wMaxPacketSize) max_packet_ = d.wMaxPacketSize;
            {
                std::lock_guard model_lock(model_mutex_);
                framing_.reset();
                if (responder_) responder_->reset();
            }
            std::lock_guard lock(mutex_);
            ++session_;
            enabled_ = true;
            queue_.clear();
            cv_.notify_all();
        } else if (e.type == FUNCTIONFS_DISABLE || e.type == FUNCTIONFS_UNBIND) {
            std::lock_guard lock(mutex_);
            enabled_ = false;
            queue_.clear();  // the host that wanted these is gone
            cv_.notify_all();
        } else if (e.type == FUNCTIONFS_SETUP) {
            // No requests of our own on ep0: stall by answering in the wrong direction.
            if (e.u.setup.bRequestType & USB_DIR_IN) {
                [[maybe_unused]] const ssize_t r = ::read(ep0_, nullptr, 0);
            } else {
                [[maybe_unused]] const ssize_t w = ::write(ep0_, nullptr, 0);
            }
        }
    }
}

void usb_gadget::read_commands() {
    std::vector<std::uint8_t> buffer(usb_max_transfer + 512);
    for (;;) {
        std::size_t want;
        {
            std::lock_guard lock(model_mutex_);
            // An announced packet is read at its exact size: one of a multiple of the packet
            // size ends without a short packet. Anything else fits in one packet.
            want = (responder_ ? responder_->announced_packet() : framing_.announced_packet()).value_or(max_packet_);
        }
        want = std::min(want, buffer.size());
        const ssize_t n = ::read(ep_out_, buffer.data(), want);
        std::uint64_t session;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
            session = session_;
        }
        if (n < 0) {
            if (endpoint_lost(errno)) return;
            continue;  // disabled or unbound: the next read waits for the host to come back
        }
        std::optional<usb_answer> a;
        {
            std::lock_guard lock(model_mutex_);
            const auto transfer = std::span(buffer).first(std::size_t(n));
            a = responder_ ? responder_->on_transfer(transfer, false) : framing_.on_transfer(model_, transfer, false);
        }
        if (!a) continue;
        write_state();
        handle(*a, session);
    }
}

void usb_gadget::handle(const usb_answer& a, std::uint64_t session) {
    if (a.unplug_instead) {
        set_bound(false);
        if (a.replug_ms) replug_in(*a.replug_ms);
        return;
    }
    if (a.delay_ms) std::this_thread::sleep_for(std::chrono::milliseconds(a.delay_ms));
    {
        std::lock_guard lock(mutex_);
        for (const bytes& t : a.transfers) queue_.push_back({t, session});
    }
    cv_.notify_all();
    if (a.after == usb_answer::then::stay) return;
    wait_drained(session);
    set_bound(false);
    if (a.after == usb_answer::then::reset) {
        unsigned ms;
        {
            std::lock_guard lock(model_mutex_);
            model_.restart(ecu_mode::boot);
            ms = model_.config().reset_replug_ms;
        }
        write_state();
        replug_in(ms);
    } else if (a.replug_ms) {
        replug_in(*a.replug_ms);
    }
}

// Until the host has read every queued answer of the session, or the session has ended.
void usb_gadget::wait_drained(std::uint64_t session) {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return stopping_ || session_ != session || !enabled_ || (queue_.empty() && !writing_); });
}

void usb_gadget::write_answers() {
    std::unique_lock lock(mutex_);
    for (;;) {
        cv_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (stopping_) return;
        in_transfer t = std::move(queue_.front());
        queue_.pop_front();
        if (t.session != session_) continue;
        writing_ = true;
        lock.unlock();
        const ssize_t n = ::write(ep_in_, t.data.data(), t.data.size());
        const int e = errno;
        lock.lock();
        writing_ = false;
        cv_.notify_all();
        if (n < 0 && endpoint_lost(e)) return;
    }
}

void usb_gadget::write_state() {
    if (state_file_.empty()) return;
    std::string text;
    {
        std::lock_guard lock(model_mutex_);
        text = model_.state_json();
    }
    write_state_file(state_file_, text);
}

}  // namespace ecusim
