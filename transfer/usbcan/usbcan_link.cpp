#include "transfer/usbcan/usbcan_link.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "platform/can/can_adapter.h"
#include "platform/environment.h"
#include "protocol/framing.h"
#include "protocol/layout.h"
#include "protocol/status.h"
#include "transfer/capture.h"
#include "transfer/link.h"
#include "transfer/messages.h"

namespace qx::transfer {

const link_operations usbcan_link = {
    "usbcan",
    usbcan::UsbCanSystecInitializeInterfaces,
    usbcan::UsbCanSystecCloseInterfaces,
    usbcan::UsbCanSystecSendCommandReceiveResponse,
    usbcan::UsbCanSystecConnectCommandResponseInterface,
    nullptr,
};

namespace usbcan {

namespace {

namespace pc = qx::platform::can;
namespace pl = qx::platform;
using namespace qx::protocol;

constexpr std::uint8_t first_frame = framing::can_first_frame;
constexpr std::uint8_t consecutive_frame = framing::can_consecutive_frame;
constexpr std::uint8_t flow_control = framing::can_flow_control;
constexpr int protocol_error = int(STATUS_CR_NO_INTERFACE);

// The receive event: manual reset, set by the adapter's event callback on its own thread.
class receive_event {
public:
    void create() {
        std::lock_guard lock(mutex_);
        created_ = true;
        signalled_ = false;
    }
    void close() {
        std::lock_guard lock(mutex_);
        created_ = false;
    }
    bool set() {
        std::lock_guard lock(mutex_);
        if (!created_) return false;
        signalled_ = true;
        changed_.notify_all();
        return true;
    }
    void reset() {
        std::lock_guard lock(mutex_);
        signalled_ = false;
    }
    // The adapter sets the event for every frame and when the bus fails. False when `deadline_ms`
    // (negative: none) passed first.
    bool wait(int deadline_ms) {
        std::unique_lock lock(mutex_);
        const auto woken = [this] { return signalled_ || !created_; };
        if (deadline_ms < 0) {
            changed_.wait(lock, woken);
            return true;
        }
        return changed_.wait_for(lock, std::chrono::milliseconds(deadline_ms), woken);
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool created_ = false;
    bool signalled_ = false;
};

std::uint8_t adapter_handle = pc::no_handle;
int answer_deadline_ms = -1;  // how long a read waits for the next frame; negative: no limit
bool hardware_initialised = false;
bool can_active = false;
receive_event received;
std::array<pc::can_message, transmit_frames> transmit;
std::array<pc::can_message, receive_frames> receive_array;
// One packet in either direction, padded to whole frames.
std::array<std::uint8_t, max_packet_size + 7> packet;

constexpr pc::can_init_parameters can_parameters() {
    pc::can_init_parameters p;
    p.size = 24;
    p.mode = 0;
    p.btr0 = 0x00;
    p.btr1 = 0x1C;  // 500 kbit/s
    p.output_control = 0x1A;
    p.acceptance_mask = 0x00000007;
    p.acceptance_code = 0xB3333338;  // ecu_to_host_id << 3: nothing else is received
    p.baud_rate = 0;
    p.rx_buffer_entries = 4096;
    p.tx_buffer_entries = 4096;
    return p;
}
static_assert(can_parameters().acceptance_code == ecu_to_host_id << 3);

void ignore_connect_event(std::uint32_t, std::uint32_t, void*) {}

void on_adapter_event(std::uint8_t, std::uint32_t event, std::uint8_t, void*) {
    if (event != pc::event_receive) return;
    if (!received.set())
        show_error("UsbCanSystec USBCAN_EVENT_RECEIVE: SetEvent failed exitcode = %08x", unsigned(EBADF));
}

pc::can_message host_frame() {
    pc::can_message m;
    m.id = host_to_ecu_id;
    m.frame_format = pc::frame_format_extended;
    m.data_length = 8;
    return m;
}

// Hands `count` messages to the adapter. A warning other than "not all sent" is accepted; the
// adapter must also have taken every message, or the ECU would wait for the missing ones.
// Every frame to and from the adapter passes these two, and the capture sees it.
pc::ucan_status write_frames(const pc::can_message* messages, std::uint32_t& count) {
    const pc::ucan_status s = pc::UcanWriteCanMsgEx(adapter_handle, 0, messages, &count);
    if (s == pc::ucan_ok || pc::is_warning(s))
        for (std::uint32_t i = 0; i < count; ++i) capture::record_can(capture::direction::to_ecu, messages[i]);
    return s;
}

pc::ucan_status read_frames(std::uint32_t& count) {
    std::uint8_t channel = 0;
    const pc::ucan_status s = pc::UcanReadCanMsgEx(adapter_handle, &channel, receive_array.data(), &count);
    if (s == pc::ucan_ok)
        for (std::uint32_t i = 0; i < count && i < receive_array.size(); ++i)
            capture::record_can(capture::direction::from_ecu, receive_array[i]);
    return s;
}

bool send_block(const pc::can_message* messages, std::uint32_t count) {
    std::uint32_t sent = count;
    const pc::ucan_status s = write_frames(messages, sent);
    const bool accepted = s == pc::ucan_ok || (pc::is_warning(s) && s != pc::ucan_warning_tx_incomplete);
    return accepted && sent == count;
}

// Up to `capacity` messages; waits until there is at least one. False when the adapter fails,
// and likewise when no frame came within the answer deadline.
bool receive(std::uint32_t capacity, std::uint32_t& got) {
    for (;;) {
        received.reset();
        std::uint32_t count = capacity;
        const pc::ucan_status s = read_frames(count);
        if (s == pc::ucan_ok && count > 0) {
            got = std::min(count, capacity);
            return true;
        }
        if (s != pc::ucan_ok && !pc::is_warning(s)) return false;
        if (!received.wait(answer_deadline_ms)) return false;
    }
}

// Frames left over from an exchange that ended early belong to no later one.
void discard_stale_frames() {
    std::uint32_t count = receive_frames;
    while (read_frames(count) == pc::ucan_ok && count) count = receive_frames;
}

// The adapter failed the exchange: when the controller is not error-active, its state says why
// (a bus-off controller, or one whose frames nobody acknowledges).
int adapter_failure() {
    pc::controller_state state = pc::controller_state::active;
    if (pc::UcanGetStatus(adapter_handle, &state) == pc::ucan_ok && state != pc::controller_state::active)
        show_error("UsbCanSystecSendCommandReceiveResponse: the CAN controller is %s", pc::state_name(state));
    return link_error;
}

std::uint8_t kind_of(const pc::can_message& m) { return std::uint8_t(m.data[0] >> 4); }

// Cuts packet[0, length) into the transmit messages; the number of frames.
std::size_t prepare_frames(std::size_t length) {
    const std::size_t frames = frames_for(length);
    std::fill(packet.begin() + std::ptrdiff_t(length), packet.end(), std::uint8_t(0));
    pc::can_message& ff = transmit[0];
    ff.data[0] = std::uint8_t(first_frame << 4 | ((length >> 8) & 0xF));
    ff.data[1] = std::uint8_t(length & 0xFF);
    std::memcpy(ff.data + 2, packet.data(), 6);
    for (std::size_t k = 1; k < frames; ++k) {
        pc::can_message& cf = transmit[k];
        cf.data[0] = std::uint8_t(consecutive_frame << 4 | (k & 0xF));
        std::memcpy(cf.data + 1, packet.data() + 6 + 7 * (k - 1), 7);
    }
    return frames;
}

// Takes the packet bytes of a consecutive frame: it must carry the expected sequence number
// and the bytes it is to hold.
bool take_consecutive(const pc::can_message& m, std::size_t sequence, std::size_t& taken,
                      std::size_t length) {
    const std::size_t bytes = std::min<std::size_t>(7, length - taken);
    if (m.data[0] != (consecutive_frame << 4 | (sequence & 0xF)) || m.data_length < 1 + bytes) return false;
    std::memcpy(packet.data() + taken, m.data + 1, bytes);
    taken += bytes;
    return true;
}

}  // namespace

int UsbCanSystecInitializeInterfaces(unsigned, unsigned char*) {
    if (hardware_initialised) return 0;
    answer_deadline_ms = pl::environment::answer_timeout_ms();
    pc::UcanInitHwConnectControlEx(ignore_connect_event, nullptr);
    pc::UcanGetVersionEx(1);
    // Before the adapter opens, so that no early frame finds the event missing.
    received.create();
    if (pc::UcanInitHardwareEx(&adapter_handle, pc::any_adapter, on_adapter_event, nullptr) != pc::ucan_ok) {
        adapter_handle = pc::no_handle;
        return int(STATUS_CR_NOT_CONNECTED);
    }
    const pc::can_init_parameters parameters = can_parameters();
    if (pc::UcanInitCanEx2(adapter_handle, 0, &parameters) != pc::ucan_ok) {
        pc::UcanDeinitHardware(adapter_handle);
        adapter_handle = pc::no_handle;
        return int(STATUS_CR_NOT_CONNECTED);
    }
    hardware_initialised = true;
    can_active = true;
    const std::string vcan = pl::environment::virtual_can();
    capture::name_device(capture::port::usb_can, vcan.empty() ? pl::environment::can_interface() : vcan);
    transmit.fill(host_frame());
    return 0;
}

int UsbCanSystecCloseInterfaces(unsigned) {
    if (can_active) {
        pc::UcanDeinitCanEx(adapter_handle, 0);
        pc::UcanDeinitHardware(adapter_handle);
        adapter_handle = pc::no_handle;
        received.close();
        can_active = false;
        hardware_initialised = false;
    }
    return 0;
}

int UsbCanSystecConnectCommandResponseInterface() {
    return 0;
}

int UsbCanSystecSendCommandReceiveResponse(CommandResponseTransfer* transfer) {
    TrelinkCommandHeader* command_header = transfer->command_header;
    const std::size_t n = command_header->command_data_size;
    const std::size_t m = command_header->response_data_buffer_size;
    convert_header(command_header);
    if (!can_active) return int(STATUS_CR_NOT_CONNECTED);

    const std::size_t length = 8 + n;
    if (length > max_packet_size) {
        show_error("UsbCanSystecSendCommandReceiveResponse: %04x", unsigned(max_packet_size));
        return int(STATUS_CR_COMMAND_TOO_LARGE);
    }
    std::memcpy(packet.data(), command_header, 8);
    if (n) std::memcpy(packet.data() + 8, transfer->command_data, n);
    const std::size_t frames = prepare_frames(length);

    discard_stale_frames();
    if (!send_block(transmit.data(), 1)) return adapter_failure();
    std::uint32_t got = 0;
    if (!receive(1, got)) return adapter_failure();
    const pc::can_message& control = receive_array[0];
    if (kind_of(control) != flow_control || control.data_length < 2) return protocol_error;
    const std::size_t block_size = control.data[1];
    for (std::size_t at = 1; at < frames;) {
        const std::size_t left = frames - at;
        const std::size_t k = block_size == 0 || block_size >= left ? left : block_size;
        if (!send_block(transmit.data() + at, std::uint32_t(k))) return adapter_failure();
        at += k;
    }

    // The response: a first frame, our flow control, then consecutive frames.
    if (!receive(1, got)) return adapter_failure();
    const pc::can_message first = receive_array[0];
    if (kind_of(first) != first_frame || first.data_length < 8) return protocol_error;
    pc::can_message go_on = host_frame();
    go_on.data[0] = flow_control << 4;  // block size 0: everything at once
    if (!send_block(&go_on, 1)) return adapter_failure();

    const std::size_t r = std::size_t(first.data[0] & 0xF) << 8 | first.data[1];
    if (r < 8) return protocol_error;  // the header cannot be complete
    const std::size_t expected = frames_for(r);
    std::memcpy(packet.data(), first.data + 2, 6);
    std::size_t taken = 6;
    for (std::size_t frame = 1; frame < expected;) {
        const std::uint32_t capacity = frame == 1 ? 1 : std::uint32_t(std::min(receive_frames, expected - frame));
        if (!receive(capacity, got)) return adapter_failure();
        for (std::uint32_t i = 0; i < got; ++i, ++frame)
            if (!take_consecutive(receive_array[i], frame, taken, r)) return protocol_error;
    }

    auto* response_header = transfer->response_header;
    std::memcpy(response_header, packet.data(), 8);
    convert_header(response_header);
    const std::size_t returning = response_header->response_data_returning_size;
    // The header must announce exactly the data the frames carried.
    if (8 + returning != r) return protocol_error;
    if (returning > m) {
        if (m) std::memcpy(transfer->response_data, packet.data() + 8, m);
        return int(STATUS_CR_RESPONSE_BUFFER_TOO_SMALL);
    }
    if (returning) std::memcpy(transfer->response_data, packet.data() + 8, returning);
    *transfer->returned_size = std::uint16_t(returning);
    return 0;
}

}  // namespace usbcan
}  // namespace qx::transfer
