#include "platform/usb/libusb_backend.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>

#include "platform/environment.h"
#include "platform/usb/ecu_usb_interface.h"

namespace qx::platform::usb {

namespace {

constexpr std::string_view path_prefix = "libusb:";

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

std::optional<std::uint16_t> parse_hex4(std::string_view s) {
    if (s.size() != 4) return std::nullopt;
    unsigned value = 0;
    for (char c : s) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    }
    std::from_chars(s.data(), s.data() + s.size(), value, 16);
    return static_cast<std::uint16_t>(value);
}

template <typename Number>
std::optional<Number> parse_decimal(std::string_view s) {
    unsigned value = 0;
    if (s.empty()) return std::nullopt;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, 10);
    if (ec != std::errc() || end != s.data() + s.size() || value > 255) return std::nullopt;
    return static_cast<Number>(value);
}

int errno_of(int libusb_error) {
    switch (libusb_error) {
        case LIBUSB_ERROR_NO_DEVICE:
            return ENODEV;
        case LIBUSB_ERROR_NOT_FOUND:
            return ENODEV;
        case LIBUSB_ERROR_ACCESS:
            return EACCES;
        case LIBUSB_ERROR_BUSY:
            return EBUSY;
        case LIBUSB_ERROR_TIMEOUT:
            return ETIMEDOUT;
        case LIBUSB_ERROR_OVERFLOW:
            return EMSGSIZE;
        case LIBUSB_ERROR_PIPE:
            return EPIPE;
        case LIBUSB_ERROR_INTERRUPTED:
            return EINTR;
        case LIBUSB_ERROR_NO_MEM:
            return ENOMEM;
        case LIBUSB_ERROR_NOT_SUPPORTED:
            return ENOTSUP;
        default:
            return EIO;
    }
}

std::optional<std::vector<usb_id>> configured_ids(int& error) {
    const std::string text = environment::usb_ids();
    if (text.empty()) {
        error = ENODEV;
        return std::nullopt;
    }
    auto ids = parse_usb_ids(text);
    if (!ids) error = EINVAL;
    return ids;
}

// A libusb context with its device list; both released on destruction.
class device_list {
public:
    device_list() {
        status_ = libusb_init(&context_);
        if (status_ != 0) {
            context_ = nullptr;
            return;
        }
        const ssize_t n = libusb_get_device_list(context_, &devices_);
        if (n < 0) {
            status_ = int(n);
            devices_ = nullptr;
        } else {
            count_ = std::size_t(n);
        }
    }
    ~device_list() {
        if (devices_) libusb_free_device_list(devices_, 1);
        if (context_) libusb_exit(context_);
    }
    device_list(const device_list&) = delete;
    device_list& operator=(const device_list&) = delete;

    int status() const { return status_; }
    libusb_context* context() const { return context_; }
    libusb_device* const* begin() const { return devices_; }
    libusb_device* const* end() const { return devices_ + count_; }
    // Hands the context over to a pipe, which then exits it.
    libusb_context* release_context() {
        libusb_context* c = context_;
        context_ = nullptr;
        return c;
    }

private:
    libusb_context* context_ = nullptr;
    libusb_device** devices_ = nullptr;
    std::size_t count_ = 0;
    int status_ = 0;
};

// The bulk interface of a device the ids name, if any.
std::optional<bulk_interface> usable_interface(libusb_device* device,
                                               const std::vector<usb_id>& ids) {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != 0 || !names_device(ids, descriptor))
        return std::nullopt;
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0 || !config) return std::nullopt;
    auto chosen = find_bulk_interface(*config);
    libusb_free_config_descriptor(config);
    return chosen;
}

// A string descriptor in ASCII; empty when the device has none or cannot tell.
std::string string_of(libusb_device_handle* handle, std::uint8_t index) {
    unsigned char text[256];
    if (index == 0) return {};
    const int n = libusb_get_string_descriptor_ascii(handle, index, text, sizeof text);
    return n > 0 ? std::string(reinterpret_cast<const char*>(text), std::size_t(n)) : std::string();
}

// Manufacturer, product and serial number, when the device can be opened (opening claims
// nothing, so a device in use elsewhere still tells them).
void read_strings(libusb_device* device, present_device& into) {
    libusb_device_descriptor descriptor{};
    libusb_device_handle* handle = nullptr;
    if (libusb_get_device_descriptor(device, &descriptor) != 0 || libusb_open(device, &handle) != 0) return;
    into.manufacturer = string_of(handle, descriptor.iManufacturer);
    into.product = string_of(handle, descriptor.iProduct);
    into.serial = string_of(handle, descriptor.iSerialNumber);
    libusb_close(handle);
}

// A bulk IN transfer kept pending between exchanges, so that a packet the device sends when
// no command is outstanding (a duplicated or late answer) is fetched by the host controller and
// can be read off before the next command, without waiting for it then. When nothing came, it
// stays pending through the command and takes the answer's header: no transfer is cancelled
// in a clean exchange (a cancel costs the host controller up to a frame).
class stray_probe {
public:
    stray_probe(libusb_context* context, libusb_device_handle* handle, std::uint8_t endpoint)
        : context_(context), transfer_(libusb_alloc_transfer(0)) {
        if (transfer_)
            libusb_fill_bulk_transfer(transfer_, handle, endpoint, buffer_, sizeof buffer_, &stray_probe::completed,
                                      this, 0);
    }
    ~stray_probe() {
        // A pending transfer ends only with a packet or the device's departure: cancel it, or
        // closing the pipe waits for one of them.
        cancel();
        stop();
        // A transfer libusb never gave back is left to it rather than freed under it.
        if (transfer_ && !abandoned_) libusb_free_transfer(transfer_);
    }
    stray_probe(const stray_probe&) = delete;
    stray_probe& operator=(const stray_probe&) = delete;

    bool pending() const { return pending_; }
    libusb_transfer* transfer() const { return transfer_; }
    void start() {
        if (!transfer_ || pending_ || abandoned_) return;
        done_ = 0;
        pending_ = libusb_submit_transfer(transfer_) == 0;
    }
    void cancel() {
        if (pending_ && !done_) libusb_cancel_transfer(transfer_);
    }
    // A packet that came within `wait_ms` (0: only one already fetched), or EAGAIN with the
    // transfer left pending.
    io_result poll(void* bytes, std::size_t size, int wait_ms) {
        if (!pending_) return io_result::failed(EAGAIN);
        timeval tv{0, wait_ms * 1000};
        libusb_handle_events_timeout_completed(context_, &tv, &done_);
        if (!done_) return io_result::failed(EAGAIN);
        return take(bytes, size);
    }
    // Waits for the pending transfer to end (by a packet, a cancel or the device's departure)
    // and returns what it fetched: a packet, nothing (EAGAIN) or a failure.
    io_result take(void* bytes, std::size_t size) {
        stop();
        if (abandoned_) return io_result::failed(EAGAIN);
        const int got = transfer_->actual_length;
        switch (transfer_->status) {
            case LIBUSB_TRANSFER_COMPLETED: break;
            case LIBUSB_TRANSFER_CANCELLED:
                if (got > 0) break;  // a packet came before the cancel took effect
                return io_result::failed(ECANCELED);
            case LIBUSB_TRANSFER_NO_DEVICE: return io_result::failed(ENODEV);
            case LIBUSB_TRANSFER_STALL: return io_result::failed(EPIPE);
            case LIBUSB_TRANSFER_OVERFLOW: return io_result::failed(EMSGSIZE);
            default: return io_result::failed(EIO);
        }
        if (got < 0) return io_result::failed(EIO);
        if (std::size_t(got) > size) return io_result::failed(EMSGSIZE);
        if (got > 0) std::memcpy(bytes, buffer_, std::size_t(got));
        return io_result::done(std::size_t(got));
    }
    // Waits up to `wait_ms` (0: no limit) for the transfer to end; false when it has not.
    bool wait(int wait_ms) {
        if (wait_ms <= 0) {
            stop();
            return true;
        }
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
        while (pending_ && !done_) {
            const auto left = std::chrono::duration_cast<std::chrono::microseconds>(until - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            timeval tv{time_t(left.count() / 1000000), suseconds_t(left.count() % 1000000)};
            libusb_handle_events_timeout_completed(context_, &tv, &done_);
        }
        return true;
    }

private:
    static void LIBUSB_CALL completed(libusb_transfer* t) { static_cast<stray_probe*>(t->user_data)->done_ = 1; }
    // Waits for the transfer's completion callback (after a cancel it comes promptly).
    void stop() {
        for (int failures = 0; pending_ && !done_;)
            if (libusb_handle_events_completed(context_, &done_) != 0 && ++failures == 100) {
                abandoned_ = true;
                break;
            }
        pending_ = false;
    }

    libusb_context* context_;
    libusb_transfer* transfer_;
    int done_ = 0;
    bool pending_ = false;
    bool abandoned_ = false;
    // The largest packet a device sends, plus one byte so that a longer one is seen.
    unsigned char buffer_[4097];
};

class libusb_pipe final : public pipe {
public:
    libusb_pipe(libusb_context* context, libusb_device_handle* handle, bulk_interface chosen)
        : context_(context),
          handle_(handle),
          interface_(chosen),
          deadline_ms_(environment::answer_timeout_ms()),
          // An 8-byte header fills a whole packet of an 8-byte endpoint, and the probe would
          // wait on for the data behind it: there the probe is ended before each command.
          probe_reads_header_(libusb_get_max_packet_size(libusb_get_device(handle), chosen.in_endpoint) > 8),
          probe_(std::make_unique<stray_probe>(context, handle, chosen.in_endpoint)) {}
    ~libusb_pipe() override {
        probe_.reset();
        libusb_release_interface(handle_, interface_.interface_number);
        libusb_close(handle_);
        libusb_exit(context_);
    }
    libusb_pipe(const libusb_pipe&) = delete;
    libusb_pipe& operator=(const libusb_pipe&) = delete;

    io_result write(const void* bytes, std::size_t size) override {
        return transfer(interface_.out_endpoint, const_cast<void*>(bytes), size, 0);
    }
    io_result read(void* bytes, std::size_t size) override {
        const unsigned timeout_ms = deadline_ms_ < 0 ? 0u : unsigned(deadline_ms_);
        if (probe_->pending()) return read_by_probe(bytes, size, timeout_ms);
        return transfer(interface_.in_endpoint, bytes, size, timeout_ms);
    }
    // A packet the pending probe fetched since the last exchange. Without a pending probe (just
    // opened, or a stray just read, so more may follow) the device is asked for a moment: a
    // packet waiting in its buffer reaches the host within a frame.
    io_result read_waiting(void* bytes, std::size_t size) override {
        if (gone_ || broken()) return io_result::failed(ENODEV);
        const bool watched = probe_->pending();
        if (!watched) probe_->start();
        io_result got = probe_->poll(bytes, size, watched ? 0 : settle_ms);
        if (!got.ok && got.error == EAGAIN && !probe_reads_header_) {
            probe_->cancel();
            got = probe_->take(bytes, size);
            if (!got.ok && got.error == ECANCELED) got = io_result::failed(EAGAIN);
        }
        if (!got.ok && got.error == ENODEV) gone_ = true;
        return got;
    }
    void watch_for_strays() override {
        if (!gone_) probe_->start();
    }

    void interrupt() override {
        std::lock_guard lock(mutex_);
        interrupted_ = true;
        if (active_ != nullptr) libusb_cancel_transfer(active_);
    }
    bool broken() {
        std::lock_guard lock(mutex_);
        return interrupted_;
    }

private:
    static constexpr int settle_ms = 3;

    // The read the pending probe serves (the answer's header), with the same deadline and the
    // same interrupt as a transfer of its own.
    io_result read_by_probe(void* bytes, std::size_t size, unsigned timeout_ms) {
        if (gone_) return io_result::failed(ENODEV);
        {
            std::lock_guard lock(mutex_);
            if (interrupted_) probe_->cancel();
            active_ = probe_->transfer();
        }
        const bool ended = probe_->wait(int(timeout_ms));
        if (!ended) probe_->cancel();
        {
            std::lock_guard lock(mutex_);
            active_ = nullptr;
        }
        const io_result got = probe_->take(bytes, size);
        if (got.ok || (got.error != ECANCELED && got.error != ENODEV)) return got;
        // Out of time, interrupted or unplugged: as a transfer of its own, the device is gone.
        gone_ = true;
        return io_result::failed(ENODEV);
    }

    // One bulk transfer, submitted and waited for here so that interrupt() can cancel it; an
    // unplugged device ends it with NO_DEVICE. A read that outlives the deadline (0: none) ends
    // the same way, and the device counts as gone from then on, so that a late answer never
    // reaches a later read.
    io_result transfer(std::uint8_t endpoint, void* bytes, std::size_t size, unsigned timeout_ms) {
        if (gone_) return io_result::failed(ENODEV);
        if (size > std::size_t(INT_MAX)) return io_result::failed(EINVAL);
        libusb_transfer* t = libusb_alloc_transfer(0);
        if (t == nullptr) return io_result::failed(ENOMEM);
        int completed = 0;
        libusb_fill_bulk_transfer(
            t, handle_, endpoint, static_cast<unsigned char*>(bytes), int(size),
            [](libusb_transfer* done) { *static_cast<int*>(done->user_data) = 1; }, &completed, timeout_ms);
        {
            std::lock_guard lock(mutex_);
            const int rc = interrupted_ ? LIBUSB_ERROR_NO_DEVICE : libusb_submit_transfer(t);
            if (rc != 0) {
                libusb_free_transfer(t);
                return io_result::failed(errno_of(rc));
            }
            active_ = t;
        }
        while (completed == 0) {
            const int rc = libusb_handle_events_completed(context_, &completed);
            // A failing event loop: the transfer is cancelled and its end still waited for.
            if (rc < 0 && rc != LIBUSB_ERROR_INTERRUPTED) libusb_cancel_transfer(t);
        }
        {
            std::lock_guard lock(mutex_);
            active_ = nullptr;
        }
        const libusb_transfer_status status = t->status;
        const int moved = t->actual_length;
        libusb_free_transfer(t);
        switch (status) {
            case LIBUSB_TRANSFER_COMPLETED: return io_result::done(std::size_t(moved));
            case LIBUSB_TRANSFER_TIMED_OUT:
            case LIBUSB_TRANSFER_CANCELLED:  // interrupted: the device counts as unplugged
                gone_ = true;
                return io_result::failed(ENODEV);
            case LIBUSB_TRANSFER_NO_DEVICE: return io_result::failed(ENODEV);
            case LIBUSB_TRANSFER_STALL: return io_result::failed(EPIPE);
            case LIBUSB_TRANSFER_OVERFLOW: return io_result::failed(EMSGSIZE);
            default: return io_result::failed(EIO);
        }
    }

    libusb_context* context_;
    libusb_device_handle* handle_;
    bulk_interface interface_;
    int deadline_ms_;
    bool probe_reads_header_;
    bool gone_ = false;  // the exchange's thread only
    std::mutex mutex_;   // interrupted_ and active_
    bool interrupted_ = false;
    libusb_transfer* active_ = nullptr;
    std::unique_ptr<stray_probe> probe_;
};

}  // namespace

std::optional<std::vector<usb_id>> parse_usb_ids(std::string_view text) {
    std::vector<usb_id> ids;
    while (true) {
        const auto comma = text.find(',');
        const std::string_view entry = trim(text.substr(0, comma));
        const auto colon = entry.find(':');
        if (colon == std::string_view::npos) return std::nullopt;
        const auto vendor = parse_hex4(entry.substr(0, colon));
        const auto product = parse_hex4(entry.substr(colon + 1));
        if (!vendor || !product) return std::nullopt;
        ids.push_back({*vendor, *product});
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return ids;
}

bool names_device(const std::vector<usb_id>& ids, const libusb_device_descriptor& device) {
    for (const auto& id : ids)
        if (id.vendor == device.idVendor && id.product == device.idProduct) return true;
    return false;
}

std::optional<bulk_interface> find_bulk_interface(const libusb_config_descriptor& config) {
    for (int i = 0; i < config.bNumInterfaces; ++i) {
        const libusb_interface& candidate = config.interface[i];
        for (int a = 0; a < candidate.num_altsetting; ++a) {
            const libusb_interface_descriptor& setting = candidate.altsetting[a];
            if (setting.bInterfaceClass != ecu_usb_class ||
                setting.bInterfaceSubClass != ecu_usb_subclass ||
                setting.bInterfaceProtocol != ecu_usb_protocol)
                continue;
            int ins = 0, outs = 0;
            std::uint8_t in = 0, out = 0;
            for (int e = 0; e < setting.bNumEndpoints; ++e) {
                const libusb_endpoint_descriptor& ep = setting.endpoint[e];
                if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) !=
                    LIBUSB_ENDPOINT_TRANSFER_TYPE_BULK)
                    continue;
                if ((ep.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN) {
                    ++ins;
                    in = ep.bEndpointAddress;
                } else {
                    ++outs;
                    out = ep.bEndpointAddress;
                }
            }
            if (ins == 1 && outs == 1)
                return bulk_interface{setting.bInterfaceNumber, setting.bAlternateSetting, in, out};
        }
    }
    return std::nullopt;
}

std::string libusb_device_path(std::uint8_t bus, std::uint8_t address) {
    return std::string(path_prefix) + std::to_string(bus) + ":" + std::to_string(address);
}

bool is_libusb_device_path(std::string_view path) {
    return path.starts_with(path_prefix);
}

std::optional<bus_address> parse_libusb_device_path(std::string_view path) {
    if (!is_libusb_device_path(path)) return std::nullopt;
    path.remove_prefix(path_prefix.size());
    const auto colon = path.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const auto bus = parse_decimal<std::uint8_t>(path.substr(0, colon));
    const auto address = parse_decimal<std::uint8_t>(path.substr(colon + 1));
    if (!bus || !address) return std::nullopt;
    return bus_address{*bus, *address};
}

std::string bus_port_path(std::uint8_t bus, const std::uint8_t* ports, int count) {
    std::string path = std::to_string(bus);
    for (int i = 0; i < count; ++i) path += (i == 0 ? "-" : ".") + std::to_string(ports[i]);
    return path;
}

std::vector<present_device> list_libusb_devices(bool with_strings, int& error) {
    error = 0;
    std::vector<present_device> found;
    const auto ids = configured_ids(error);
    if (!ids) {
        if (error == ENODEV) error = 0;  // no ids: no devices to look for
        return found;
    }
    device_list devices;
    if (devices.status() != 0) {
        error = errno_of(devices.status());
        return found;
    }
    for (libusb_device* device : devices) {
        if (!usable_interface(device, *ids)) continue;
        present_device d;
        d.path = libusb_device_path(libusb_get_bus_number(device), libusb_get_device_address(device));
        std::uint8_t ports[8];
        const int depth = libusb_get_port_numbers(device, ports, sizeof ports);
        if (depth > 0) d.bus_port = bus_port_path(libusb_get_bus_number(device), ports, depth);
        if (with_strings) read_strings(device, d);
        found.push_back(std::move(d));
    }
    return found;
}

std::unique_ptr<pipe> open_libusb_device(const std::string& path, int& error) {
    const auto where = parse_libusb_device_path(path);
    const auto ids = configured_ids(error);
    if (!where || !ids) {
        error = where ? error : ENOENT;
        return nullptr;
    }
    device_list devices;
    if (devices.status() != 0) {
        error = errno_of(devices.status());
        return nullptr;
    }
    for (libusb_device* device : devices) {
        if (libusb_get_bus_number(device) != where->bus ||
            libusb_get_device_address(device) != where->address)
            continue;
        const auto chosen = usable_interface(device, *ids);
        if (!chosen) break;
        libusb_device_handle* handle = nullptr;
        int rc = libusb_open(device, &handle);
        if (rc != 0) {
            error = errno_of(rc);
            return nullptr;
        }
        libusb_set_auto_detach_kernel_driver(handle, 1);
        rc = libusb_claim_interface(handle, chosen->interface_number);
        if (rc == 0 && chosen->alt_setting != 0)
            rc = libusb_set_interface_alt_setting(handle, chosen->interface_number,
                                                  chosen->alt_setting);
        if (rc != 0) {
            libusb_close(handle);
            error = errno_of(rc);
            return nullptr;
        }
        error = 0;
        return std::make_unique<libusb_pipe>(devices.release_context(), handle, *chosen);
    }
    error = ENODEV;
    return nullptr;
}

}  // namespace qx::platform::usb
