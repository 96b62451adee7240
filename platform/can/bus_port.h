// The adapter's back-ends: one open connection to a bus, read by the adapter's reader thread.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/can/can_adapter.h"

namespace qx::platform::can {

class bus_port {
public:
    virtual ~bus_port() = default;
    // Readable when a frame, or the end of the connection, is waiting.
    virtual int fd() const = 0;
    // 0, or an errno value: EAGAIN when the bus took nothing within the send time-out.
    virtual int send(const can_message& m) = 0;
    enum class received { frame, nothing, gone, report };
    // Without blocking. `nothing` also for a message that is no well-formed frame and for an
    // error report that names no state; `report` with the state the controller reported.
    virtual received receive(can_message& m, controller_state& reported) = 0;
    // What the controller's interface shows, where the back-end can tell: stopped (down), or
    // bus-off (up without carrier, as a SocketCAN controller driver marks it).
    virtual std::optional<controller_state> interface_state() const { return std::nullopt; }
    // Narrows what the bus hands over; the adapter filters every frame itself as well.
    virtual void apply_filter(const can_init_parameters&) {}
};

// Connects to the virtual bus socket at `path`. Null with `error` set on failure.
std::unique_ptr<bus_port> open_virtual_bus(const std::string& path, int& error);
// Binds a CAN_RAW socket to the interface. Null with `error` set on failure.
std::unique_ptr<bus_port> open_socketcan(const std::string& interface_name, int& error);

}  // namespace qx::platform::can
