#include "platform/can/can_adapter.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include "platform/can/bus_port.h"
#include "platform/can/can_frames.h"
#include "platform/environment.h"

namespace qx::platform::can {

namespace {

constexpr std::uint8_t the_handle = 0;
constexpr std::uint32_t layer_version = 0x01000000;  // 1.0.0
constexpr std::size_t default_rx_entries = 4096;

class adapter {
public:
    adapter(std::unique_ptr<bus_port> port, event_callback callback, void* argument)
        : port_(std::move(port)), callback_(callback), argument_(argument) {
        wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wake_fd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
        try {
            reader_ = std::thread([this] { read_bus(); });
        } catch (...) {
            ::close(wake_fd_);
            throw;
        }
    }
    ~adapter() {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake_fd_, &one, sizeof one);
        reader_.join();
        ::close(wake_fd_);
    }
    adapter(const adapter&) = delete;
    adapter& operator=(const adapter&) = delete;

    void init_can(const can_init_parameters& p) {
        port_->apply_filter(p);
        // A controller that was bus-off or down before we came sends no report of it.
        const controller_state shown = port_->interface_state().value_or(controller_state::active);
        std::lock_guard lock(mutex_);
        parameters_ = p;
        capacity_ = p.rx_buffer_entries ? p.rx_buffer_entries : default_rx_entries;
        received_.clear();
        started_ = std::chrono::steady_clock::now();
        can_active_ = true;
        state_ = shown;
        alarm_ = false;
    }
    void deinit_can() {
        std::lock_guard lock(mutex_);
        can_active_ = false;
        received_.clear();
    }
    bool can_active() const {
        std::lock_guard lock(mutex_);
        return can_active_;
    }
    bool failed() const {
        std::lock_guard lock(mutex_);
        return failed_ || state_ == controller_state::bus_off || state_ == controller_state::stopped;
    }
    controller_state state() const {
        const std::optional<controller_state> shown = port_->interface_state();
        std::lock_guard lock(mutex_);
        return shown ? *shown : state_;
    }

    ucan_status write(const can_message* messages, std::uint32_t& count) {
        const std::uint32_t wanted = count;
        count = 0;
        if (!can_active()) return ucan_error_not_initialised;
        if (failed()) return ucan_error_bus;
        for (std::uint32_t i = 0; i < wanted; ++i) {
            if (!sendable(messages[i])) return ucan_error_parameter;
            if (port_->send(messages[i]) != 0) return count ? ucan_warning_tx_incomplete : ucan_error_bus;
            ++count;
        }
        return ucan_ok;
    }

    ucan_status read(can_message* messages, std::uint32_t& count) {
        const std::uint32_t capacity = count;
        count = 0;
        std::lock_guard lock(mutex_);
        if (!can_active_) return ucan_error_not_initialised;
        if (received_.empty()) {
            if (failed_ || state_ == controller_state::bus_off || state_ == controller_state::stopped)
                return ucan_error_bus;
            if (alarm_) {
                alarm_ = false;
                return ucan_error_bus;
            }
            return ucan_warning_no_data;
        }
        while (count < capacity && !received_.empty()) {
            messages[count++] = received_.front();
            received_.pop_front();
        }
        return ucan_ok;
    }

private:
    // Takes every frame off the bus until the adapter closes or the bus fails.
    void read_bus() {
        bool bus_open = true;
        for (;;) {
            pollfd fds[2] = {{wake_fd_, POLLIN, 0}, {bus_open ? port_->fd() : -1, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                fail();
                return;
            }
            if (fds[0].revents) return;
            if (!fds[1].revents) continue;
            can_message m;
            controller_state reported = controller_state::active;
            const bus_port::received r = port_->receive(m, reported);
            if (r == bus_port::received::gone) {
                bus_open = false;
                fail();
                continue;
            }
            if (r == bus_port::received::report) {
                report(reported);
                continue;
            }
            if (r == bus_port::received::frame && keep(m)) callback_(the_handle, event_receive, 0, argument_);
        }
    }

    bool keep(can_message& m) {
        std::lock_guard lock(mutex_);
        if (!can_active_ || !accepted(parameters_, m)) return false;
        if (received_.size() >= capacity_) return false;
        m.time = std::uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - started_)
                                   .count());
        received_.push_back(m);
        return true;
    }

    // Going error-passive or bus-off ends the read that waits (once); bus-off ends every read
    // until the controller is restarted.
    void report(controller_state s) {
        {
            std::lock_guard lock(mutex_);
            if (s == state_) return;
            if (s == controller_state::passive || s == controller_state::bus_off) alarm_ = true;
            state_ = s;
        }
        callback_(the_handle, event_receive, 0, argument_);
    }

    void fail() {
        {
            std::lock_guard lock(mutex_);
            failed_ = true;
        }
        callback_(the_handle, event_receive, 0, argument_);
    }

    std::unique_ptr<bus_port> port_;
    event_callback callback_;
    void* argument_;
    int wake_fd_ = -1;
    mutable std::mutex mutex_;  // everything below
    can_init_parameters parameters_;
    std::size_t capacity_ = default_rx_entries;
    std::deque<can_message> received_;
    std::chrono::steady_clock::time_point started_;
    bool can_active_ = false;
    bool failed_ = false;
    controller_state state_ = controller_state::active;
    bool alarm_ = false;  // the state turned to error-passive or bus-off since the last read
    std::thread reader_;  // last: starts once the rest is there
};

std::mutex adapters_mutex;
std::unique_ptr<adapter> open_adapter;

void ignore_event(std::uint8_t, std::uint32_t, std::uint8_t, void*) {}

adapter* find(std::uint8_t handle) { return handle == the_handle ? open_adapter.get() : nullptr; }

std::unique_ptr<bus_port> open_port(int& error) {
    if (const std::string vcan = environment::virtual_can(); !vcan.empty()) return open_virtual_bus(vcan, error);
    const std::string name = environment::can_interface();
    return open_socketcan(name.empty() ? "can0" : name, error);
}

}  // namespace

ucan_status UcanInitHwConnectControlEx(connect_control_callback, void*) { return ucan_ok; }

std::uint32_t UcanGetVersionEx(std::uint32_t) { return layer_version; }

ucan_status UcanInitHardwareEx(std::uint8_t* handle, std::uint8_t device_number, event_callback callback,
                               void* argument) {
    if (!handle) return ucan_error_parameter;
    *handle = no_handle;
    if (device_number != any_adapter && device_number != 0) return ucan_error_no_adapter;
    std::lock_guard lock(adapters_mutex);
    if (open_adapter) return ucan_error_busy;
    int error = 0;
    std::unique_ptr<bus_port> port = open_port(error);
    if (!port) return ucan_error_no_adapter;
    try {
        open_adapter = std::make_unique<adapter>(std::move(port), callback ? callback : ignore_event, argument);
    } catch (const std::exception&) {
        return ucan_error_resource;
    }
    *handle = the_handle;
    return ucan_ok;
}

ucan_status UcanInitCanEx2(std::uint8_t handle, std::uint8_t channel, const can_init_parameters* parameters) {
    std::lock_guard lock(adapters_mutex);
    adapter* a = find(handle);
    if (!a) return ucan_error_handle;
    if (channel != 0 || !parameters || parameters->size != sizeof(can_init_parameters)) return ucan_error_parameter;
    a->init_can(*parameters);
    return ucan_ok;
}

ucan_status UcanWriteCanMsgEx(std::uint8_t handle, std::uint8_t channel, const can_message* messages,
                              std::uint32_t* count) {
    std::lock_guard lock(adapters_mutex);
    adapter* a = find(handle);
    if (!a) return ucan_error_handle;
    if (channel != 0 || !count || (*count && !messages)) return ucan_error_parameter;
    return a->write(messages, *count);
}

ucan_status UcanReadCanMsgEx(std::uint8_t handle, std::uint8_t* channel, can_message* messages,
                             std::uint32_t* count) {
    std::lock_guard lock(adapters_mutex);
    adapter* a = find(handle);
    if (!a) return ucan_error_handle;
    if (!count || (*count && !messages)) return ucan_error_parameter;
    if (channel) *channel = 0;
    return a->read(messages, *count);
}

ucan_status UcanGetStatus(std::uint8_t handle, controller_state* state) {
    std::lock_guard lock(adapters_mutex);
    adapter* a = find(handle);
    if (!a) return ucan_error_handle;
    if (!state) return ucan_error_parameter;
    *state = a->state();
    return ucan_ok;
}

ucan_status UcanDeinitCanEx(std::uint8_t handle, std::uint8_t channel) {
    std::lock_guard lock(adapters_mutex);
    adapter* a = find(handle);
    if (!a) return ucan_error_handle;
    if (channel != 0) return ucan_error_parameter;
    a->deinit_can();
    return ucan_ok;
}

ucan_status UcanDeinitHardware(std::uint8_t handle) {
    std::unique_ptr<adapter> closing;
    {
        std::lock_guard lock(adapters_mutex);
        if (!find(handle)) return ucan_error_handle;
        closing = std::move(open_adapter);
    }
    closing.reset();  // joins the reader: no callback after this
    return ucan_ok;
}

}  // namespace qx::platform::can
