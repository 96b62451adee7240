#include "tests/transfer/usbcan_fake_adapter.h"

#include <algorithm>

namespace qx::test::fake_adapter {

state& get() {
    static state s;
    return s;
}

void reset() { get() = state{}; }

pc::can_message ecu_frame(std::initializer_list<std::uint8_t> data) {
    pc::can_message m;
    m.id = 0x16666667;
    m.frame_format = pc::frame_format_extended;
    m.data_length = 8;
    std::copy(data.begin(), data.end(), m.data);
    return m;
}

}  // namespace qx::test::fake_adapter

namespace qx::platform::can {

using qx::test::fake_adapter::get;

ucan_status UcanInitHwConnectControlEx(connect_control_callback, void*) { return ucan_ok; }

std::uint32_t UcanGetVersionEx(std::uint32_t) { return 0; }

ucan_status UcanInitHardwareEx(std::uint8_t* handle, std::uint8_t device_number, event_callback callback,
                               void* argument) {
    auto& s = get();
    ++s.init_hardware_calls;
    s.device_number = device_number;
    s.callback = callback;
    s.argument = argument;
    if (s.init_hardware == ucan_ok) *handle = 7;
    return s.init_hardware;
}

ucan_status UcanInitCanEx2(std::uint8_t handle, std::uint8_t channel, const can_init_parameters* parameters) {
    auto& s = get();
    ++s.init_can_calls;
    if (handle != 7 || channel != 0) return ucan_error_handle;
    s.parameters = *parameters;
    return s.init_can;
}

ucan_status UcanWriteCanMsgEx(std::uint8_t handle, std::uint8_t channel, const can_message* messages,
                              std::uint32_t* count) {
    auto& s = get();
    if (handle != 7 || channel != 0) return ucan_error_handle;
    std::uint32_t taken = *count;
    if (!s.write_limits.empty()) {
        taken = std::min(taken, s.write_limits.front());
        s.write_limits.pop_front();
    }
    s.writes.emplace_back(messages, messages + *count);
    *count = taken;
    if (s.write_statuses.empty()) return ucan_ok;
    const ucan_status status = s.write_statuses.front();
    s.write_statuses.pop_front();
    return status;
}

ucan_status UcanReadCanMsgEx(std::uint8_t handle, std::uint8_t* channel, can_message* messages,
                             std::uint32_t* count) {
    auto& s = get();
    if (handle != 7 || !channel) return ucan_error_handle;
    s.read_capacities.push_back(*count);
    const std::uint32_t capacity = *count;
    *count = 0;
    if (s.reads.empty()) return ucan_error_bus;
    if (s.writes.size() < s.reads.front().after_writes) {
        // Not due yet. Waking the link again and again would spin; a link that waits for
        // an answer it has not asked for is failed instead.
        if (++s.idle_reads > 1000) return ucan_error_bus;
        if (s.callback) s.callback(7, event_receive, 0, s.argument);
        return ucan_warning_no_data;
    }
    s.idle_reads = 0;
    auto answer = std::move(s.reads.front());
    s.reads.pop_front();
    const std::uint32_t n = std::min<std::uint32_t>(capacity, std::uint32_t(answer.messages.size()));
    std::copy_n(answer.messages.begin(), n, messages);
    // What did not fit stays for the next read.
    if (n < answer.messages.size())
        s.reads.push_front({ucan_ok, {answer.messages.begin() + n, answer.messages.end()}, 0});
    *count = n;
    // A warning answer: the adapter has more to come, so the link is woken to read again.
    if (is_warning(answer.status) && s.callback) s.callback(7, event_receive, 0, s.argument);
    return answer.status;
}

ucan_status UcanGetStatus(std::uint8_t handle, controller_state* state) {
    if (handle != 7 || !state) return ucan_error_handle;
    *state = get().controller;
    return ucan_ok;
}

ucan_status UcanDeinitCanEx(std::uint8_t, std::uint8_t) {
    ++get().deinit_can_calls;
    return ucan_ok;
}

ucan_status UcanDeinitHardware(std::uint8_t) {
    ++get().deinit_hardware_calls;
    return ucan_ok;
}

}  // namespace qx::platform::can
