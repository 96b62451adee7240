#include "ecusim/usb_device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <stdexcept>
#include <system_error>

#include "ecusim/control_socket.h"
#include "platform/registry/device_registry.h"

namespace ecusim {

namespace {


[[noreturn]] void fail(const std::string& what) { throw std::system_error(errno, std::generic_category(), what); }

}  // namespace

usb_device::usb_device(ecu_config cfg, std::string class_dir, std::string name, std::string state_file)
    : class_dir_(std::move(class_dir)), name_(std::move(name)), state_file_(std::move(state_file)), model_(std::move(cfg)) {
    sockaddr_un probe{};
    if (path().size() >= sizeof probe.sun_path) throw std::invalid_argument("device path too long: " + path());
}

usb_device::~usb_device() { stop(); }

void usb_device::start() {
    if (running_) return;
    wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_fd_ < 0) fail("eventfd");
    do_plug();
    running_ = true;
    thread_ = std::thread([this] { serve(); });
}

void usb_device::stop() {
    if (!running_) return;
    {
        std::lock_guard lock(mutex_);
        pending_ = request::stop;
        ++requests_;
    }
    wake();
    thread_.join();
    running_ = false;
    ::close(wake_fd_);
    wake_fd_ = -1;
    write_state();
}

void usb_device::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(wake_fd_, &one, sizeof one);
}

namespace {
template <class Pred>
void wait_done(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Pred done) {
    cv.wait(lock, done);
}
}  // namespace

void usb_device::unplug() {
    std::unique_lock lock(mutex_);
    if (!running_) {
        lock.unlock();
        do_unplug();
        return;
    }
    pending_ = request::unplug;
    const std::uint64_t ticket = ++requests_;
    wake();
    wait_done(lock, changed_, [&] { return done_ >= ticket; });
}

void usb_device::plug() {
    std::unique_lock lock(mutex_);
    if (!running_) {
        lock.unlock();
        do_plug();
        return;
    }
    pending_ = request::plug;
    const std::uint64_t ticket = ++requests_;
    wake();
    wait_done(lock, changed_, [&] { return done_ >= ticket; });
}

bool usb_device::plugged() const {
    std::lock_guard lock(mutex_);
    return is_plugged_;
}

bool usb_device::wait_for(const std::function<bool(const ecu&)>& pred, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return pred(model_); });
}

bool usb_device::wait_plugged(bool present, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return is_plugged_ == present; });
}

void usb_device::set_faults(fault_plan plan) {
    std::lock_guard lock(mutex_);
    model_.set_faults(std::move(plan));
}

void usb_device::write_state() {
    if (state_file_.empty()) return;
    std::string text;
    {
        std::lock_guard lock(mutex_);
        text = model_.state_json();
    }
    write_state_file(state_file_, text);
}

// Creates the socket: the device arrives. Never in a registry folder that is refused, and
// never in place of a device that is plugged in.
void usb_device::do_plug() {
    if (listen_fd_ >= 0) return;
    if (const std::string refusal = qx::platform::prepare_registry(class_dir_); !refusal.empty())
        throw std::runtime_error(refusal);
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) fail("socket");
    // Bound and listening under a name outside the class folder first, then moved in: a host
    // that sees the device arrive can always connect to it.
    const std::string staging = std::filesystem::path(class_dir_).parent_path().string() + "/." + name_ + ".plugging";
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (staging.size() >= sizeof addr.sun_path) fail("device path too long: " + staging);
    std::strncpy(addr.sun_path, staging.c_str(), sizeof addr.sun_path - 1);
    ::unlink(staging.c_str());
    const auto give_up = [&](const std::string& what) {
        ::close(fd);
        ::unlink(staging.c_str());
        fail(what);
    };
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 4) != 0) give_up("bind " + staging);
    while (::renameat2(AT_FDCWD, staging.c_str(), AT_FDCWD, path().c_str(), RENAME_NOREPLACE) != 0) {
        if (errno != EEXIST) give_up("plug in at " + path());
        // Left by a device that ended: ours to replace. A device still plugged in stays.
        const std::string refusal = qx::platform::registry_socket_refusal(path());
        if (socket_in_use(path()) || !refusal.empty()) {
            ::close(fd);
            ::unlink(staging.c_str());
            throw std::runtime_error(refusal.empty() ? "a running device is plugged in at " + path() : refusal);
        }
        ::unlink(path().c_str());
    }
    listen_fd_ = fd;
    std::lock_guard lock(mutex_);
    is_plugged_ = true;
    changed_.notify_all();
}

void usb_device::reset_framing() {
    framing_.reset();
    if (responder_) responder_->reset();
}

// On the serving thread: a device that cannot come back stays unplugged and says why.
void usb_device::replug() {
    try {
        do_plug();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ecusim: cannot plug in: %s\n", e.what());
    }
}

// Removes the socket and closes the connection: the device is gone.
void usb_device::do_unplug() {
    if (conn_fd_ >= 0) ::close(conn_fd_);
    conn_fd_ = -1;
    reset_framing();
    if (listen_fd_ >= 0) {
        ::unlink(path().c_str());
        ::close(listen_fd_);
    }
    listen_fd_ = -1;
    std::lock_guard lock(mutex_);
    is_plugged_ = false;
    changed_.notify_all();
}

void usb_device::serve() {
    std::vector<std::uint8_t> buffer(usb_max_transfer + 64);
    for (;;) {
        int timeout = -1;
        if (replug_at_) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*replug_at_ - std::chrono::steady_clock::now());
            timeout = int(std::max<long long>(0, left.count()));
        }
        pollfd fds[2] = {{wake_fd_, POLLIN, 0}, {-1, POLLIN, 0}};
        fds[1].fd = conn_fd_ >= 0 ? conn_fd_ : listen_fd_;
        const int n = ::poll(fds, 2, timeout);
        if (n < 0 && errno != EINTR) fail("poll");

        if (replug_at_ && std::chrono::steady_clock::now() >= *replug_at_) {
            replug_at_.reset();
            replug();
        }
        if (fds[0].revents & POLLIN) {
            std::uint64_t v;
            [[maybe_unused]] const auto r = ::read(wake_fd_, &v, sizeof v);
            std::unique_lock lock(mutex_);
            const request req = pending_;
            const std::uint64_t ticket = requests_;
            pending_ = request::none;
            lock.unlock();
            if (req == request::unplug) {
                replug_at_.reset();
                do_unplug();
            } else if (req == request::plug) {
                replug_at_.reset();
                replug();
            } else if (req == request::stop) {
                do_unplug();
            }
            lock.lock();
            done_ = ticket;
            changed_.notify_all();
            if (req == request::stop) return;
            continue;
        }
        if (fds[1].fd < 0 || !(fds[1].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        if (conn_fd_ < 0) {
            conn_fd_ = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
            reset_framing();
            continue;
        }
        const ssize_t got = ::recv(conn_fd_, buffer.data(), buffer.size(), MSG_TRUNC);
        if (got <= 0) {  // the host closed its handle
            ::close(conn_fd_);
            conn_fd_ = -1;
            continue;
        }
        const auto size = std::size_t(got);
        serve_message(std::span(buffer).first(std::min(size, buffer.size())), size > buffer.size());
    }
}

void usb_device::serve_message(std::span<const std::uint8_t> msg, bool truncated) {
    std::optional<usb_answer> a;
    {
        std::lock_guard lock(mutex_);
        a = responder_ ? responder_->on_transfer(msg, truncated) : framing_.on_transfer(model_, msg, truncated);
    }
    if (!a) return;
    write_state();
    {
        std::lock_guard lock(mutex_);
        changed_.notify_all();
    }
    answer(*a);
}

namespace {

// The host process at the other end of a connection, stopped while a fault queues packets that
// nobody asked for, so that they are all waiting before it can act on the first (without this,
// a host woken by the first packet may write its next command before the rest are queued).
// Nothing is held when the host is this process (the in-process device of the tests).
class host_hold {
public:
    explicit host_hold(int fd) {
        ucred peer{};
        socklen_t size = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.pid <= 0 || peer.pid == ::getpid())
            return;
        if (::kill(peer.pid, SIGSTOP) != 0) return;
        pid_ = peer.pid;
        // The stop takes effect asynchronously: wait until every thread of the host is stopped.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (!all_stopped() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ~host_hold() {
        if (pid_ > 0) ::kill(pid_, SIGCONT);
    }
    host_hold(const host_hold&) = delete;
    host_hold& operator=(const host_hold&) = delete;

private:
    bool all_stopped() const {
        std::error_code ec;
        const std::filesystem::path tasks = "/proc/" + std::to_string(pid_) + "/task";
        for (const auto& task : std::filesystem::directory_iterator(tasks, ec)) {
            std::ifstream in(task.path() / "stat");
            std::string line;
            std::getline(in, line);
            const auto paren = line.rfind(')');
            if (paren == std::string::npos || paren + 2 >= line.size()) return false;
            const char state = line[paren + 2];
            if (state != 'T' && state != 't') return false;
        }
        return !ec;
    }

    pid_t pid_ = -1;
};

}  // namespace

void usb_device::send_messages(const std::vector<bytes>& transfers) {
    if (conn_fd_ < 0 || transfers.empty()) return;
    std::vector<iovec> pieces(transfers.size());
    std::vector<mmsghdr> messages(transfers.size());
    for (std::size_t i = 0; i < transfers.size(); ++i) {
        pieces[i] = {const_cast<std::uint8_t*>(transfers[i].data()), transfers[i].size()};
        messages[i].msg_hdr.msg_iov = &pieces[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    // A host that has gone ends the sending; what it did not take is lost with it.
    for (std::size_t sent = 0; sent < messages.size();) {
        const int n = ::sendmmsg(conn_fd_, messages.data() + sent, unsigned(messages.size() - sent), MSG_NOSIGNAL);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            return;
        }
        sent += std::size_t(n);
    }
}

void usb_device::answer(const usb_answer& a) {
    auto replug_later = [this](unsigned ms) {
        replug_at_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    };
    if (a.unplug_instead) {
        do_unplug();
        if (a.replug_ms) replug_later(*a.replug_ms);
        return;
    }
    if (a.delay_ms) std::this_thread::sleep_for(std::chrono::milliseconds(a.delay_ms));
    std::optional<host_hold> hold;
    if (a.strays && conn_fd_ >= 0) hold.emplace(conn_fd_);
    send_messages(a.transfers);
    if (a.after == usb_answer::then::reset) {
        do_unplug();
        {
            std::lock_guard lock(mutex_);
            model_.restart(ecu_mode::boot);
        }
        replug_later(model_.config().reset_replug_ms);
    } else if (a.after == usb_answer::then::unplug) {
        do_unplug();
        if (a.replug_ms) replug_later(*a.replug_ms);
    }
}

virtual_ecu::virtual_ecu(ecu_config cfg, std::string state_file) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "ecusim-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) fail("mkdtemp");
    root_ = tmpl;
    if (const char* old = std::getenv("TRELINK_DEVICE_DIR")) previous_env_ = old;
    ::setenv("TRELINK_DEVICE_DIR", root_.c_str(), 1);
    device_ = std::make_unique<usb_device>(std::move(cfg), qx::platform::registry_class_dir(qx::platform::ecu_interface_class),
                                           "ecusim0", std::move(state_file));
    device_->start();
}

virtual_ecu::~virtual_ecu() {
    device_.reset();
    if (previous_env_) ::setenv("TRELINK_DEVICE_DIR", previous_env_->c_str(), 1);
    else ::unsetenv("TRELINK_DEVICE_DIR");
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
}

}  // namespace ecusim
