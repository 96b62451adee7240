// The USB-CAN adapter roles the USB-CAN link relies on: init hardware, init CAN with the
// parameters given, write messages, read messages (with a receive event through the event
// callback), deinit CAN, deinit hardware.
//
// The controller's error reports (SocketCAN error frames; the same images on the virtual bus)
// move its state. Reads end once the controller goes error-passive or bus-off, so that a bus
// on which nobody acknowledges no longer holds an exchange that waits for an answer.
//
// Back-ends, chosen by UcanInitHardwareEx:
//   1. the virtual bus at $TRELINK_VCAN, when set: a SOCK_SEQPACKET Unix socket that the bus
//      owner (ecusim, or a test) binds and listens on; the adapter connects to it. One CAN
//      frame per message (layout in can_frames.h). The connection ending is the bus failing.
//   2. Linux SocketCAN on the interface $TRELINK_CAN_IF (default can0); the bit rate is the
//      interface's own, the bus timing registers are not applied.
//
// One adapter at a time (handle 0). A reader thread of the adapter's own takes every frame
// off the bus, keeps those the acceptance filter admits (up to the receive buffer entries)
// and calls the event callback with event_receive; the callback runs on that thread. Frames
// beyond the receive buffer entries are lost, as on the adapter.
#pragma once

#include <cstdint>

namespace qx::platform::can {

// One CAN message as the adapter hands it over.
struct can_message {
    std::uint32_t id = 0;            // 11-bit or 29-bit identifier
    std::uint8_t frame_format = 0;   // frame_format_* bits
    std::uint8_t data_length = 0;    // 0..8
    std::uint8_t data[8] = {};
    std::uint32_t time = 0;          // milliseconds since the CAN channel was initialised
};

inline constexpr std::uint8_t frame_format_extended = 0x80;  // 29-bit identifier
inline constexpr std::uint8_t frame_format_remote = 0x40;    // remote transmission request

// CAN channel parameters (24 bytes, as `size` says).
struct can_init_parameters {
    std::uint32_t size = sizeof(can_init_parameters);
    std::uint8_t mode = 0;  // 0 normal
    std::uint8_t btr0 = 0;
    std::uint8_t btr1 = 0;
    std::uint8_t output_control = 0;
    // SJA1000 single filter: for a 29-bit frame the compared word is id << 3 | RTR << 2; a mask
    // bit of 1 means "don't care". For an 11-bit frame it is id << 21 | RTR << 20, and the bits
    // below 20 are not compared.
    std::uint32_t acceptance_mask = 0xFFFFFFFF;
    std::uint32_t acceptance_code = 0;
    std::uint32_t baud_rate = 0;  // 0: the bus timing registers apply
    std::uint16_t rx_buffer_entries = 4096;
    std::uint16_t tx_buffer_entries = 4096;
};
static_assert(sizeof(can_init_parameters) == 24);

// The CAN controller's fault-confinement state, as its error reports and its interface tell it.
// A controller whose frames nobody acknowledges (no other node on the bus) goes error-passive;
// one that keeps failing goes bus-off and takes no part in the bus until it is restarted; a
// stopped one is down.
enum class controller_state : std::uint8_t { active, warning, passive, bus_off, stopped };
constexpr const char* state_name(controller_state s) {
    switch (s) {
        case controller_state::active: return "error-active";
        case controller_state::warning: return "error-warning";
        case controller_state::passive: return "error-passive";
        case controller_state::bus_off: return "bus-off";
        case controller_state::stopped: return "stopped";
    }
    return "unknown";
}

// Results: 0 success, 0x01..0x7F errors, 0x80 and above warnings.
using ucan_status = std::uint8_t;
inline constexpr ucan_status ucan_ok = 0x00;
inline constexpr ucan_status ucan_error_resource = 0x01;       // out of memory or threads
inline constexpr ucan_status ucan_error_busy = 0x02;           // an adapter is open already
inline constexpr ucan_status ucan_error_handle = 0x03;         // no such open adapter
inline constexpr ucan_status ucan_error_no_adapter = 0x04;     // the back-end cannot be opened
inline constexpr ucan_status ucan_error_not_initialised = 0x05;  // CAN channel not initialised
inline constexpr ucan_status ucan_error_parameter = 0x06;      // bad channel, message or size
inline constexpr ucan_status ucan_error_bus = 0x07;            // the bus connection failed
inline constexpr ucan_status ucan_warning_no_data = 0x80;      // nothing received yet
inline constexpr ucan_status ucan_warning_tx_incomplete = 0x91;  // not every message was sent

constexpr bool is_warning(ucan_status s) { return (s & 0x80) != 0; }

inline constexpr std::uint8_t any_adapter = 255;
inline constexpr std::uint8_t no_handle = 255;

// Event callback: (handle, event, channel, argument).
using event_callback = void (*)(std::uint8_t handle, std::uint32_t event, std::uint8_t channel,
                                void* argument);
// A message was received, the bus failed or the controller's state changed: a read is due (it
// then reports the failure).
inline constexpr std::uint32_t event_receive = 2;

// Connect-control callback: (event, parameter, argument). The back-ends raise no events.
using connect_control_callback = void (*)(std::uint32_t event, std::uint32_t parameter,
                                          void* argument);

ucan_status UcanInitHwConnectControlEx(connect_control_callback callback, void* argument);
// Version of this adapter layer: major << 24 | minor << 16 | revision (type 1: the library).
std::uint32_t UcanGetVersionEx(std::uint32_t type);
// Opens the adapter; `*handle` is set on success, else left no_handle.
ucan_status UcanInitHardwareEx(std::uint8_t* handle, std::uint8_t device_number,
                               event_callback callback, void* argument);
// Channel 0 only. Applies the acceptance filter and the receive buffer size.
ucan_status UcanInitCanEx2(std::uint8_t handle, std::uint8_t channel,
                           const can_init_parameters* parameters);
// in `*count`: messages to send; out: messages sent. A write that sends fewer than asked
// answers ucan_warning_tx_incomplete.
ucan_status UcanWriteCanMsgEx(std::uint8_t handle, std::uint8_t channel,
                              const can_message* messages, std::uint32_t* count);
// in `*count`: capacity; out: messages read (oldest first). ucan_warning_no_data when none
// is waiting; ucan_error_bus, when nothing is left to read, once the bus has failed, while the
// controller is bus-off, and once after the controller went error-passive or bus-off.
ucan_status UcanReadCanMsgEx(std::uint8_t handle, std::uint8_t* channel, can_message* messages,
                             std::uint32_t* count);
// The controller's state now: its last error report, or its interface's state when that tells
// more (a SocketCAN controller that was bus-off or down before the adapter opened).
ucan_status UcanGetStatus(std::uint8_t handle, controller_state* state);
ucan_status UcanDeinitCanEx(std::uint8_t handle, std::uint8_t channel);
// Closes the adapter; the event callback is not called any more once this returns.
ucan_status UcanDeinitHardware(std::uint8_t handle);

}  // namespace qx::platform::can
