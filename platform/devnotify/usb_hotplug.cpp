#include "platform/devnotify/usb_hotplug.h"

#include <libusb-1.0/libusb.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/usb/libusb_backend.h"

namespace qx::platform {

namespace {

class libusb_hotplug final : public usb_hotplug {
public:
    libusb_hotplug(libusb_context* ctx, std::string interface_class, std::function<void(const device_event&)> cb)
        : ctx_(ctx), interface_class_(std::move(interface_class)), cb_(std::move(cb)) {}

    bool add(const usb::usb_id& id) {
        libusb_hotplug_callback_handle handle;
        const int rc = libusb_hotplug_register_callback(
            ctx_, libusb_hotplug_event(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
            LIBUSB_HOTPLUG_NO_FLAGS, id.vendor, id.product, LIBUSB_HOTPLUG_MATCH_ANY, &libusb_hotplug::on_event, this,
            &handle);
        if (rc != LIBUSB_SUCCESS) return false;
        handles_.push_back(handle);
        return true;
    }

    void run() {
        thread_ = std::thread([this] {
            while (!stop_) {
                timeval tv{0, 200000};
                libusb_handle_events_timeout_completed(ctx_, &tv, nullptr);
            }
        });
    }

    ~libusb_hotplug() override {
        for (const auto h : handles_) libusb_hotplug_deregister_callback(ctx_, h);
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        libusb_exit(ctx_);
    }

private:
    static int LIBUSB_CALL on_event(libusb_context*, libusb_device* device, libusb_hotplug_event event, void* self) {
        auto* me = static_cast<libusb_hotplug*>(self);
        device_event e;
        e.kind = event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED ? device_event::arrival : device_event::removal_complete;
        e.interface_class = me->interface_class_;
        e.path = usb::libusb_device_path(libusb_get_bus_number(device), libusb_get_device_address(device));
        me->cb_(e);
        return 0;
    }

    libusb_context* ctx_;
    std::string interface_class_;
    std::function<void(const device_event&)> cb_;
    std::vector<libusb_hotplug_callback_handle> handles_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace

std::unique_ptr<usb_hotplug> usb_hotplug::start(const std::string& usb_ids, std::string interface_class,
                                                std::function<void(const device_event&)> cb) {
    const auto ids = usb::parse_usb_ids(usb_ids);
    if (!ids) return nullptr;
    libusb_context* ctx = nullptr;
    if (libusb_init(&ctx) != 0) return nullptr;
    if (!libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
        libusb_exit(ctx);
        return nullptr;
    }
    auto hp = std::make_unique<libusb_hotplug>(ctx, std::move(interface_class), std::move(cb));
    for (const auto& id : *ids)
        if (!hp->add(id)) return nullptr;
    hp->run();
    return hp;
}

}  // namespace qx::platform
