#include "transfer/serial/wcsc_link.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "platform/serial/wcsc_driver.h"
#include "protocol/layout.h"
#include "protocol/status.h"
#include "transfer/capture.h"
#include "transfer/link.h"
#include "transfer/messages.h"
#include "transfer/trelink.h"

namespace qx::transfer {

const link_operations serial_wcsc_link = {
    "serial (WCSC)",
    serial::wcsc::SerialInitializeInterfaces,
    serial::wcsc::SerialCloseInterfaces,
    serial::wcsc::SerialSendCommandReceiveResponse,
    serial::wcsc::SerialConnectCommandResponseInterface,
    nullptr,
};

namespace serial::wcsc {

namespace {

using namespace qx::protocol;
using namespace qx::platform::serial::wcsc;

constexpr auto retry_pause = std::chrono::milliseconds(1);
constexpr auto connection_answer_delay = std::chrono::milliseconds(20);

struct link_state {
    bool driver_initialised = false;
    bool stream_open = false;
    bool command_open = false;
    port_record stream = stream_port_defaults();
    port_record command;
    locked_buffers buffers;
};

link_state& link() {
    static link_state s;
    return s;
}

unsigned hex(int status) {
    return unsigned(status);
}

// Every byte to and from the ECU passes these two, and the capture sees it as it crossed.
int put_packet(int port, int count, const std::uint8_t* bytes) {
    const int status = WCSCVxDPutPacket(port, count, bytes);
    if (status > 0) capture::record(capture::port::serial, capture::direction::to_ecu, bytes, std::size_t(status));
    return status;
}

int get_packet(int port, int count, std::uint8_t* into) {
    const int status = WCSCVxDGetPacket(port, count, into);
    if (status > 0) capture::record(capture::port::serial, capture::direction::from_ecu, into, std::size_t(status));
    return status;
}

// One byte, retried every millisecond until it comes. False when the line failed; the
// driver's status is in `status`.
bool get_byte(int port, std::uint8_t& byte, int& status) {
    for (;;) {
        status = get_packet(port, 1, &byte);
        if (status == 1) return true;
        if (status < 0) return false;
        std::this_thread::sleep_for(retry_pause);
    }
}

// `count` bytes, taking partial reads with a millisecond's pause after each.
bool get_bytes(int port, std::uint8_t* into, std::size_t count, int& status) {
    std::size_t got = 0;
    while (got < count) {
        status = get_packet(port, int(count - got), into + got);
        if (status < 0) return false;
        got += std::size_t(status);
        if (got < count) std::this_thread::sleep_for(retry_pause);
    }
    return true;
}

void flush_command_port() {
    const int status = WCSCVxDFlush(link().command.port_handle, flush_receive);
    if (status != 0)
        show_error("SerialFlushBuffers WCSCVxDFlush failed WCSC_status = %08x", hex(status));
}

int cleanup(int port_id) {
    const int status = WCSCVxDCleanup(port_id);
    if (status != 0) show_error("  SerialReadThread WCSCVxDCleanup failed WCSC_status = %08x", hex(status));
    return status;
}

}  // namespace

const port_record& stream_port() {
    return link().stream;
}
const port_record& command_port() {
    return link().command;
}
bool command_port_open() {
    return link().command_open;
}

void SerialDebugMetricsDump(int port_id) {
    port_metrics m{};
    const int status = WCSCVxDGetPort(port_id, &m, 1);
    char text[2048];
    if (status != 0) {
        std::snprintf(text, sizeof text, "SerialDebugMetricsDump WCSCVxDGetPort failed WCSC_status = %08x",
                      hex(status));
        show_always("ERROR!", text);
        return;
    }
    const struct {
        const char* name;
        std::uint32_t value;
    } values[] = {
        {"VTotalIn", m.VTotalIn},           {"VTotalOut", m.VTotalOut},
        {"VInBufCnt", m.VInBufCnt},         {"VOutBufCnt", m.VOutBufCnt},
        {"VIRingSize", m.VIRingSize},       {"VORingSize", m.VORingSize},
        {"VMSRIntCnt", m.VMSRIntCnt},       {"VLSRIntCnt", m.VLSRIntCnt},
        {"VXmtIntCnt", m.VXmtIntCnt},       {"VRcvIntCnt", m.VRcvIntCnt},
        {"VRcvLostCnt", m.VRcvLostCnt},     {"VXmtLostCnt", m.VXmtLostCnt},
        {"VOFlushCnt", m.VOFlushCnt},       {"VIFlushCnt", m.VIFlushCnt},
        {"VMSRReg", m.VMSRReg},             {"VLSRReg", m.VLSRReg},
        {"VTypeUART", m.VTypeUART},         {"VCurOverrunCnt", m.VCurOverrunCnt},
        {"VCurParityCnt", m.VCurParityCnt}, {"VCurFramingCnt", m.VCurFramingCnt},
        {"VCurBreakCnt", m.VCurBreakCnt},   {"VBytesRead", m.VBytesRead},
        {"VBytesWrite", m.VBytesWrite},     {"VPort", m.VPort},
        {"VBase", m.VBase},                 {"VIrq", m.VIrq},
        {"VBaud", m.VBaud},                 {"VLength", m.VLength},
        {"VParity", m.VParity},             {"VStopbit", m.VStopbit},
        {"VProtocol", m.VProtocol},
    };
    std::size_t at = 0;
    for (const auto& v : values) {
        at += std::size_t(std::snprintf(text + at, sizeof text - at, "%smy_port_params.%-14s = %08x",
                                        at ? "\n" : "", v.name, unsigned(v.value)));
    }
    show_always("SerialDebugMetricsDump", text);
}

int SerialInitializeComport(port_record& r) {
    link_state& s = link();
    if (!s.driver_initialised) {
        const int status = WCSCVxDInit();
        if (status != 0) {
            show_error("  SerialReadThread WCSCVxDInit failed WCSC_status = %08x", hex(status));
            return status;
        }
        s.driver_initialised = true;
    }
    const int id = WCSCVxDOpenPort(r.port_number, r.io_base_or_vendor, r.irq_or_device, r.card_mode,
                                   r.card_port_index, r.ring_size, 0);
    if (id < 0) {
        show_error("  SerialInitializeComport WCSCVxDOpenPort failed WCSC_status = p_comport->VxDPId = %08x",
                   hex(id));
        return id;
    }
    r.port_handle = id;
    // A port that failed to come up is given back to the driver.
    auto give_up = [&](int status) {
        WCSCVxDCleanup(id);
        r.port_handle = -1;
        return status;
    };
    if (r.io_base_or_vendor == card_vendor && r.irq_or_device == card_device) {
        const auto divisor = wcsc_divisor(r.baud_code);
        const int status = divisor ? WCSCVxDSetBaudDiv(r.baud_code, *divisor) : -EINVAL;
        if (status != 0) {
            show_error("  SerialInitializeComport WCSCVxDSetBaudDiv failed WCSC_status = %08x", hex(status));
            return give_up(status);
        }
    }
    int status = WCSCVxDSetPortCharacteristics(id, r.baud_code, r.parity_code, r.length_code, r.stopbit_code,
                                               r.protocol_code);
    if (status != 0) {
        show_error("  SerialReadThread WCSCVxDSetPortCharacteristics failed WCSC_status = %08x", hex(status));
        return give_up(status);
    }
    SerialDebugMetricsDump(id);
    status = WCSCVxDFlush(id, flush_receive);
    if (status != 0) {
        show_error("  SerialReadThread WCSCVxDFlush failed WCSC_status = %08x", hex(status));
        return give_up(status);
    }
    SerialDebugMetricsDump(id);
    return 0;
}

int SerialInitializeInterfaces(unsigned flags, unsigned char*) {
    link_state& s = link();
    int result = 0;
    if (flags & TRELINK_SERIAL_STREAM_PORT) {
        if (s.stream_open) {
            show_error("SerialInitializeInterfaces SerialInitializeComport STREAM already initialized");
        } else {
            s.stream = stream_port_defaults();
            const int status = SerialInitializeComport(s.stream);
            if (status != 0) {
                show_error("  SerialInitializeInterfaces SerialInitializeComport STREAM failed WCSC_status = %08x",
                           hex(status));
                result = 1;
            } else {
                s.stream_open = true;
            }
        }
    }
    if (flags & TRELINK_SERIAL_COMMAND_PORT) {
        if (s.command_open) {
            show_error(
                "SerialInitializeInterfaces SerialInitializeComport COMMAND_RESPONSE_INTERFACE already initialized");
            return result;
        }
        s.command = command_port_from(state().command_port);
        const int status = SerialInitializeComport(s.command);
        if (status != 0) {
            show_error("  SerialInitializeInterfaces SerialInitializeComport CR failed WCSC_status = %08x",
                       hex(status));
            return 1;
        }
        // Without its locked buffers the port cannot carry an exchange: it is closed again.
        if (!s.buffers.allocate()) {
            WCSCVxDCleanup(s.command.port_handle);
            s.command.port_handle = -1;
            return 1;
        }
        s.command_open = true;
        capture::name_device(capture::port::serial, s.command.port_name);
    }
    return result;
}

int SerialConnectCommandResponseInterface() {
    link_state& s = link();
    if (!s.command_open) {
        show_error("SerialConnectCommandResponseInterface COMMAND_RESPONSE_INTERFACE NOT initialized");
        return 1;
    }
    auto temp = lock_one_byte("SerialConnectCommandResponseInterface", "temp", true);
    if (!temp) return int(STATUS_CR_LOCK_FAILED);
    const int port = s.command.port_handle;
    flush_command_port();
    std::uint8_t* byte = temp->data();
    *byte = INTERFACE_CONNECTION_INDICATOR;
    int status = put_packet(port, 1, byte);
    if (status == 1) {
        std::this_thread::sleep_for(connection_answer_delay);
        *byte = 0;
        status = get_packet(port, 1, byte);
    }
    if (status != 1) {
        show_error("SerialConnectCommandResponseInterface WCSCVxDGetPacket failed WCSC_status = %08x", hex(status));
        return 1;
    }
    if (*byte == HOST_ORDER_CONNECTION_ANSWER) {
        state().host_order_target = true;
        return 0;
    }
    if (*byte == INTERFACE_CONNECTION_INDICATOR) {
        state().host_order_target = false;
        return 0;
    }
    show_error("SerialConnectCommandResponseInterface WCSCVxDGetPacket *temp != (char) INTERFACE_CONNECTION_INDICATOR");
    return 1;
}

int SerialSendCommandReceiveResponse(CommandResponseTransfer* transfer) {
    link_state& s = link();
    if (!s.command_open) {
        show_error("SerialSendCommandReceiveResponse COMMAND_RESPONSE_INTERFACE NOT initialized");
        return int(STATUS_CR_NOT_CONNECTED);
    }
    const std::size_t n = header_word(transfer->command_header, 1);
    const std::size_t m = header_word(transfer->command_header, 2);
    if (n > locked_data_size) {
        show_error("SerialSendCommandReceiveResponse command exceeds maximum transfer size of %04x",
                   unsigned(locked_data_size));
        return int(STATUS_CR_COMMAND_TOO_LARGE);
    }
    // The response must fit both the caller's buffer and the locked one.
    const std::size_t room = std::min(m, locked_data_size);
    const bool host_order = state().host_order_target;
    const int port = s.command.port_handle;

    const CommandResponseTransfer caller = *transfer;
    std::memcpy(s.buffers.command_header.data(), caller.command_header, 8);
    if (n) std::memcpy(s.buffers.command_data.data(), caller.command_data, n);
    std::memset(s.buffers.response_header.data(), 0, 8);
    transfer->command_header = reinterpret_cast<TrelinkCommandHeader*>(s.buffers.command_header.data());
    transfer->command_data = s.buffers.command_data.data();
    transfer->response_header = reinterpret_cast<TrelinkResponseHeader*>(s.buffers.response_header.data());
    transfer->response_data = s.buffers.response_data.data();

    std::size_t received = 0;
    // Copies everything back to the caller and restores the descriptor.
    auto finish = [&](int result) {
        if (!host_order) convert_header(s.buffers.command_header.data());
        std::memcpy(caller.command_header, s.buffers.command_header.data(), 8);
        if (n) std::memcpy(caller.command_data, s.buffers.command_data.data(), n);
        std::memcpy(caller.response_header, s.buffers.response_header.data(), 8);
        const std::size_t back = std::min(received, m);
        if (back && caller.response_data) std::memcpy(caller.response_data, s.buffers.response_data.data(), back);
        *transfer = caller;
        return result;
    };

    auto ack = lock_one_byte("SerialSendCommandReceiveResponse", "ack", true);
    if (!ack) {
        *transfer = caller;
        return int(STATUS_CR_LOCK_FAILED);
    }
    if (!host_order) convert_header(s.buffers.command_header.data());

    int status = put_packet(port, 8, s.buffers.command_header.data());
    if (status != 8) {
        show_error("SerialSendCommandReceiveResponse WCSCVxDPutPacket command header failed WCSC_status = %08x",
                   hex(status));
        return finish(int(STATUS_CR_SERIAL_TRANSFER_FAILED));
    }
    if (n) {
        status = put_packet(port, int(n), s.buffers.command_data.data());
        if (status != int(n)) {
            show_error("SerialSendCommandReceiveResponse WCSCVxDPutPacket command data failed WCSC_status = %08x",
                       hex(status));
            return finish(int(STATUS_CR_SERIAL_TRANSFER_FAILED));
        }
    }

    // A line that hangs up while waiting ends the exchange instead of waiting forever.
    auto line_failed = [&](int why) {
        show_error("SerialSendCommandReceiveResponse WCSCVxDGetPacket failed WCSC_status = %08x", hex(why));
        return finish(int(STATUS_CR_SERIAL_TRANSFER_FAILED));
    };
    std::uint8_t* ack_byte = ack->data();
    if (!get_byte(port, *ack_byte, status)) return line_failed(status);
    if (*ack_byte != COMMAND_TYPE_INDICATOR) {
        show_error("SerialSendCommandReceiveResponse *ack != (char) COMMAND_TYPE_INDICATOR");
        return finish(int(STATUS_CR_SERIAL_TRANSFER_FAILED));
    }

    std::uint8_t* response_header = s.buffers.response_header.data();
    if (!get_bytes(port, response_header, 8, status)) return line_failed(status);
    if (!host_order) convert_header(response_header);
    const std::size_t r = header_word(response_header, 1);

    int result = 0;
    if (r > room) {
        for (std::size_t i = 0; i < r; ++i) {
            std::uint8_t discarded;
            if (!get_byte(port, discarded, status)) return line_failed(status);
        }
        result = int(STATUS_CR_RESPONSE_BUFFER_TOO_SMALL);
    } else {
        if (!get_bytes(port, s.buffers.response_data.data(), r, status)) return line_failed(status);
        received = r;
    }
    *ack_byte = RESPONSE_RECEIVED;
    status = put_packet(port, 1, ack_byte);
    if (status != 1) {
        show_error("  SerialSendCommandReceiveResponse WCSCVxDPutPacket failed WCSC_status = %08x", hex(status));
        // The ECU was not told that its response arrived: the exchange did not complete.
        return finish(int(STATUS_CR_SERIAL_TRANSFER_FAILED));
    }
    if (result == int(STATUS_CR_RESPONSE_BUFFER_TOO_SMALL)) {
        show_error("  SerialSendCommandReceiveResponse STATUS_CR_RESPONSE_BUFFER_TOO_SMALL");
    } else {
        *caller.returned_size = std::uint16_t(r);
    }
    return finish(result);
}

int SerialCloseInterfaces(unsigned flags) {
    link_state& s = link();
    int result = 0;
    if (flags & TRELINK_SERIAL_STREAM_PORT) {
        if (s.stream_open) {
            if (cleanup(s.stream.port_handle) != 0) result = 1;
            s.stream_open = false;
            s.stream.port_handle = -1;
        } else {
            show_error("SerialCloseInterfaces STREAM_INTERFACE NOT initialized");
        }
    }
    if (flags & TRELINK_SERIAL_COMMAND_PORT) {
        if (s.command_open) {
            if (cleanup(s.command.port_handle) != 0) result = 1;
            s.command_open = false;
            s.command.port_handle = -1;
            s.buffers.release();
        } else {
            show_error("SerialCloseInterfaces COMMAND_RESPONSE_INTERFACE NOT initialized");
        }
    }
    if (flags & TRELINK_SERIAL_CLOSE_ALL) {
        for (int id = 0; id <= 2; ++id)
            if (cleanup(id) != 0) result = 1;
        s.stream_open = s.command_open = false;
        s.stream.port_handle = s.command.port_handle = -1;
        // A closed command port keeps no locked memory, however it was closed.
        s.buffers.release();
    }
    return result;
}

}  // namespace serial::wcsc
}  // namespace qx::transfer
