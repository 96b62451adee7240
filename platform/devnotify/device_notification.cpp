#include "platform/devnotify/device_notification.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/devnotify/usb_hotplug.h"
#include "platform/environment.h"
#include "platform/registry/device_registry.h"

namespace qx::platform {

struct device_notification::impl {
    std::string interface_class;
    std::string folder;
    callback cb;
    int inotify_fd = -1;
    int stop_fd = -1;
    std::thread thread;
    std::unique_ptr<usb_hotplug> hotplug;

    void run() {
        std::vector<char> buffer(64 * 1024);
        for (;;) {
            pollfd fds[2] = {{stop_fd, POLLIN, 0}, {inotify_fd, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[0].revents & POLLIN) return;
            const ssize_t n = ::read(inotify_fd, buffer.data(), buffer.size());
            if (n <= 0) continue;
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buffer.data() + at);
                at += ssize_t(sizeof(inotify_event) + e->len);
                if (e->len == 0) continue;
                const std::string path = folder + "/" + e->name;
                if (e->mask & (IN_CREATE | IN_MOVED_TO)) {
                    // Only our own sockets are devices.
                    if (!registry_socket_refusal(path).empty()) continue;
                    cb({device_event::arrival, 5, interface_class, path});
                } else if (e->mask & (IN_DELETE | IN_MOVED_FROM)) {
                    cb({device_event::removal_complete, 5, interface_class, path});
                }
            }
        }
    }
};

device_notification::device_notification(std::string interface_class, callback cb) : impl_(std::make_unique<impl>()) {
    impl_->interface_class = std::move(interface_class);
    impl_->folder = registry_class_dir(impl_->interface_class);
    impl_->cb = std::move(cb);
    if (const std::string refusal = prepare_registry(impl_->folder); !refusal.empty()) throw std::runtime_error(refusal);
    impl_->inotify_fd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (impl_->inotify_fd < 0) throw std::system_error(errno, std::generic_category(), "inotify_init1");
    if (::inotify_add_watch(impl_->inotify_fd, impl_->folder.c_str(), IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM) < 0) {
        const int err = errno;
        ::close(impl_->inotify_fd);
        throw std::system_error(err, std::generic_category(), "inotify_add_watch " + impl_->folder);
    }
    impl_->stop_fd = ::eventfd(0, EFD_CLOEXEC);
    impl_->thread = std::thread([this] { impl_->run(); });
    if (const std::string ids = environment::usb_ids(); !ids.empty())
        impl_->hotplug = usb_hotplug::start(ids, impl_->interface_class, impl_->cb);
}

device_notification::~device_notification() {
    impl_->hotplug.reset();
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto w = ::write(impl_->stop_fd, &one, sizeof one);
    impl_->thread.join();
    ::close(impl_->stop_fd);
    ::close(impl_->inotify_fd);
}

}  // namespace qx::platform
