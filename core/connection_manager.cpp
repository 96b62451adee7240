#include "core/connection_manager.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <tuple>

#include "core/response_view.h"
#include "protocol/codec.h"
#include "protocol/commands.h"
#include "protocol/defines.h"
#include "protocol/status.h"
#include "transfer/trelink.h"

namespace qx {

namespace {

std::atomic<std::chrono::milliseconds::rep> answer_deadline_ms{0};
std::atomic<unsigned long> answers_missed{0};
std::atomic<bool> exchanges_stopped_for_good{false};
std::atomic<bool> a_link_missed{false};

// Looked up at connect, in this order.
constexpr const char* status_channel_names[] = {"ModChangeState [bool]", "ConfigurationDirty",
                                                 "ConfigurationRunning [bool]", "LoggingActive [bool]"};

// Whether the flags choose one of the serial links: a port number, a serial kind, and no kind
// that wins over them.
bool serial_link(unsigned flags) {
    return (flags & TRELINK_SERIAL_PORT_MASK) && (flags & (TRELINK_LINK_SERIAL_WCSC | TRELINK_LINK_SERIAL_WINCOMM)) &&
           !(flags & (TRELINK_LINK_USB | TRELINK_LINK_USBCAN | TRELINK_LINK_SIMULATOR));
}

}  // namespace

// The description is built when something first reads it: no job of the program does, and
// none pays for it.
connection_manager::connection_manager(link_choice link) : link_(std::move(link)) { EnableErrorMessages(0); }

connection_manager::~connection_manager() {
    if (interface_flags) disconnect();
}

void connection_manager::set_answer_deadline(std::chrono::milliseconds deadline) {
    answer_deadline_ms = deadline.count();
    answers_missed = 0;
}

bool connection_manager::answer_missed() {
    return answers_missed != 0;
}

unsigned long connection_manager::missed_answers() {
    return answers_missed;
}

void connection_manager::stop_exchanges() {
    exchanges_stopped_for_good = true;
}

bool connection_manager::exchanges_stopped() {
    return exchanges_stopped_for_good;
}

bool connection_manager::link_missed() {
    return a_link_missed;
}

int connection_manager::library_exchange(std::uint32_t code, void* request, std::uint16_t request_size,
                                         void* response, std::uint16_t response_size, std::uint16_t& returned) {
    std::lock_guard lock(exchange_lock);
    returned = 0;
    // Checked under the lock: the exchange that holds it ends with its answer, the next one
    // is never sent.
    if (exchanges_stopped_for_good) return int(protocol::STATUS_CR_NOT_CONNECTED);
    // Broken since this connection began: the link is as good as unplugged.
    if (breaks_.load() != breaks_at_connect_) return int(protocol::STATUS_CR_NOT_CONNECTED);
    const auto started = std::chrono::steady_clock::now();
    const int result = KesSendCommand(code, request, request_size, response, response_size, &returned);
    const auto deadline = std::chrono::milliseconds(answer_deadline_ms.load());
    // Every read of the exchange waits at most the deadline, and the ECU's answer (its status
    // included) comes in the first read: a failure that took that long is a read that timed out.
    if (result != 0 && deadline.count() > 0 && std::chrono::steady_clock::now() - started >= deadline)
        ++answers_missed;
    return result;
}

std::uint16_t connection_manager::exchange(std::uint32_t code, void* request, std::uint16_t request_size,
                                           void* response, std::uint16_t response_size) {
    if (!interface_flags) throw exception_not_connected("Not connected");
    std::uint16_t returned = 0;
    const int result = library_exchange(code, request, request_size, response, response_size, returned);
    if (result != 0) throw exception_communication_error("SendCommand failed", std::uint32_t(result));
    if (response && response_size != 0 && returned == 0) throw exception_communication_error("SendCommand failed");
    // A response whose arrays do not fit the bytes that came holds no usable answer.
    if (const protocol::codec_row* row = protocol::find_codec(code);
        row && response && returned != 0 &&
        row->layout_response(static_cast<std::uint8_t*>(response), std::min(returned, response_size)) ==
            protocol::TS_LAYOUT_ERROR)
        throw exception_communication_error("SendCommand failed");
    return returned;
}

void connection_manager::send_command(std::uint32_t code, void* request, std::uint16_t request_size,
                                      void* response, std::uint16_t response_size) {
    exchange(code, request, request_size, response, response_size);
}

std::pair<std::uint32_t, std::uint32_t> connection_manager::read_target_version() {
    protocol::TargetVersionResponse_TS v{};
    const std::uint16_t got = exchange(protocol::GET_TARGET_VERSION, nullptr, 0, &v, sizeof v);
    if (got < sizeof v) malformed_response();
    return {v.transferstructs_version, v.firmware_version};
}

void connection_manager::connect() {
    std::lock_guard lock(exchange_lock);
    if (interface_flags) throw exception_already_connected("Already connected");
    breaks_at_connect_ = breaks_.load();
    try {
        unsigned char* data = link_.data.empty() ? nullptr : link_.data.data();
        // The USB link takes the device to open as a terminated path.
        std::vector<unsigned char> device_path;
        if (!device_.empty() && (link_.flags & (TRELINK_LINK_USB | TRELINK_LINK_USBCAN | TRELINK_LINK_SIMULATOR)) == TRELINK_LINK_USB) {
            device_path.assign(device_.begin(), device_.end());
            device_path.push_back(0);
            data = device_path.data();
        }
        if (KesInitializeInterfaces(link_.flags, data) != 0) {
            a_link_missed = true;
            throw exception_connection_failed("The specified interface is not connected");
        }
        std::atomic_ref<std::uint32_t>(interface_flags).store(link_.flags);
        // The serial links learn the ECU's byte order from its answer to a connection request.
        if (serial_link(link_.flags) && KesConnectCommandResponseInterface() != 0)
            throw exception_connection_failed("The ECU did not answer the connection request");

        std::tie(transferstructs_version, firmware_version) = read_target_version();
        if (transferstructs_version == 0) {
            target_mode = mode_boot_loader;
            return;
        }
        target_mode = mode_application;
        if (transferstructs_version < protocol::TRANSFERSTRUCTS_VERSION)
            throw exception_target_version_older("Target version not supported by this software version");
        if (transferstructs_version > protocol::TRANSFERSTRUCTS_VERSION)
            throw exception_target_version_newer("Target version not supported by this software version");

        std::array<std::uint8_t, protocol::MAX_TRANSFERSTRUCTS_SIZE> descriptor{};
        const std::uint16_t got = exchange(protocol::GET_SYSTEM_DESCRIPTOR, nullptr, 0, descriptor.data(),
                                           std::uint16_t(descriptor.size()));
        const std::span<const std::uint8_t> received(descriptor.data(), got);
        max_configuration_channels =
            load<std::uint16_t>(received, offsetof(protocol::SystemDescriptor_TS, MaxNumberOfConfigurationChannels));
        // BoardModel is 8 characters, zero-terminated when shorter: never read into the next field.
        board_model = text_of(received.first(std::min<std::size_t>(received.size(), sizeof protocol::Peripheral_BoardDescriptor_TS::BoardModel)));

        status_channels.assign(4, 0);
        status_values.assign(4, 0.0f);
        for (std::size_t i = 0; i < 4; ++i) status_channels[i] = find_channel(status_channel_names[i]);
        time_high_channel = find_channel("TimeHigh [us/10]");
        time_low_channel = find_channel("TimeLow [us/10]");
    } catch (const exception_target_version_mismatch&) {
        throw;
    } catch (const exception& e) {
        disconnect();
        throw exception_connection_failed("Could not connect:\n" + e.message);
    }
}

void connection_manager::break_link() {
    // Counted first: a link that opens after the library looked for it is refused by the count.
    ++breaks_;
    KesCloseInterfaces(TRELINK_BREAK_LINK);
}

void connection_manager::disconnect() {
    std::lock_guard lock(exchange_lock);
    KesCloseInterfaces(interface_flags);
    std::atomic_ref<std::uint32_t>(interface_flags).store(0);
    transferstructs_version = 0;
    firmware_version = 0;
    target_mode = mode_not_connected;
    board_model.clear();
    cache_channel_values = true;
    max_configuration_channels = 0;
}

}  // namespace qx
