#include "transfer/serial/wincomm_link.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "protocol/layout.h"
#include "protocol/status.h"
#include "transfer/link.h"
#include "transfer/trelink.h"

namespace qx::transfer {

const link_operations serial_wincomm_link = {
    "serial (communication functions)",
    serial::wincomm::SerialInitializeInterfaces,
    serial::wincomm::SerialCloseInterfaces,
    serial::wincomm::SerialSendCommandReceiveResponse,
    serial::wincomm::SerialConnectCommandResponseInterface,
    nullptr,
};

namespace serial::wincomm {

namespace {

using namespace qx::protocol;

struct link_state {
    bool stream_open = false;
    bool command_open = false;
    port_record stream = stream_port_defaults();
    port_record command;
    // Created on first use, kept for the process.
    std::unique_ptr<comm_port> stream_object;
    std::unique_ptr<comm_port> command_object;
    locked_buffers buffers;
};

link_state& link() {
    static link_state s;
    return s;
}

comm_port& object(std::unique_ptr<comm_port>& slot) {
    if (!slot) slot = std::make_unique<comm_port>();
    return *slot;
}

// `count` bytes once that many are waiting; nothing on a time-out.
bool read_bytes(comm_port& port, std::uint8_t* into, std::size_t count) {
    if (!port.ring().wait_for_waiting(count, read_timeout)) return false;
    return port.ring().take(into, count) == count;
}

// `count` bytes as they come, more than the ring holds at once if need be; false when 2 s pass
// without the next byte.
bool read_stream(comm_port& port, std::uint8_t* into, std::size_t count) {
    std::size_t got = 0;
    while (got < count) {
        if (!port.ring().wait_for_waiting(1, read_timeout)) return false;
        got += port.ring().take(into + got, count - got);
    }
    return true;
}

}  // namespace

const port_record& command_port() {
    return link().command;
}
bool command_port_open() {
    return link().command_open;
}

bool SerialInitializeComport(comm_port& port, const port_record& record, bool captured) {
    if (!port.open(record.port_name, captured)) return false;
    const auto settings = line_settings_of(record);
    const auto mode = handshake_of(record);
    // A line that cannot take the record's settings would carry garbage: it is not opened.
    if (!settings || !mode || !port.setup(*settings) || !port.set_handshake(*mode)) {
        port.close();
        return false;
    }
    port.discard_input();
    return true;
}

int SerialInitializeInterfaces(unsigned flags, unsigned char*) {
    link_state& s = link();
    int result = 0;
    if ((flags & TRELINK_SERIAL_STREAM_PORT) && !s.stream_open) {
        if (SerialInitializeComport(object(s.stream_object), s.stream, false))
            s.stream_open = true;
        else
            result = 1;
    }
    if ((flags & TRELINK_SERIAL_COMMAND_PORT) && !s.command_open) {
        s.command = command_port_from(state().command_port);
        const unsigned number = (flags & TRELINK_SERIAL_PORT_MASK) >> TRELINK_SERIAL_PORT_SHIFT;
        std::snprintf(s.command.port_name, sizeof s.command.port_name, "COM%d", int(number));
        std::snprintf(state().command_port.name, sizeof state().command_port.name, "COM%d", int(number));
        comm_port& port = object(s.command_object);
        if (!SerialInitializeComport(port, s.command, true)) return 1;
        if (!s.buffers.allocate()) {
            port.close();
            return 1;
        }
        s.command_open = true;
    }
    return result;
}

int SerialConnectCommandResponseInterface() {
    link_state& s = link();
    if (!s.command_open) return 1;
    comm_port& port = *s.command_object;
    port.discard_input();
    const std::uint8_t request = INTERFACE_CONNECTION_INDICATOR;
    if (port.write(&request, 1) != 1) return 1;
    std::uint8_t answer = 0;
    if (!read_bytes(port, &answer, 1) || answer != HOST_ORDER_CONNECTION_ANSWER) return 1;
    state().host_order_target = true;
    return 0;
}

int SerialSendCommandReceiveResponse(CommandResponseTransfer* transfer) {
    link_state& s = link();
    if (!s.command_open) return int(STATUS_CR_NOT_CONNECTED);
    const std::size_t n = header_word(transfer->command_header, 1);
    const std::size_t m = header_word(transfer->command_header, 2);
    if (n > locked_data_size) return int(STATUS_CR_COMMAND_TOO_LARGE);
    const std::size_t room = std::min(m, locked_data_size);
    const bool host_order = state().host_order_target;
    comm_port& port = *s.command_object;

    const CommandResponseTransfer caller = *transfer;
    std::memcpy(s.buffers.command_header.data(), caller.command_header, 8);
    if (n) std::memcpy(s.buffers.command_data.data(), caller.command_data, n);
    std::uint8_t* response_header = s.buffers.response_header.data();
    std::memset(response_header, 0, 8);
    transfer->command_header = reinterpret_cast<TrelinkCommandHeader*>(s.buffers.command_header.data());
    transfer->command_data = s.buffers.command_data.data();
    transfer->response_header = reinterpret_cast<TrelinkResponseHeader*>(response_header);
    transfer->response_data = s.buffers.response_data.data();

    std::size_t received = 0;
    auto finish = [&](int result) {
        if (!host_order) convert_header(s.buffers.command_header.data());
        std::memcpy(caller.command_header, s.buffers.command_header.data(), 8);
        if (n) std::memcpy(caller.command_data, s.buffers.command_data.data(), n);
        std::memcpy(caller.response_header, response_header, 8);
        const std::size_t back = std::min(received, m);
        if (back && caller.response_data) std::memcpy(caller.response_data, s.buffers.response_data.data(), back);
        *transfer = caller;
        return result;
    };

    auto ack = lock_one_byte("SerialSendCommandReceiveResponse", "ack", false);
    if (!ack) {
        *transfer = caller;
        return int(STATUS_CR_LOCK_FAILED);
    }
    if (!host_order) convert_header(s.buffers.command_header.data());
    port.discard_input();
    if (port.write(s.buffers.command_header.data(), 8) != 8)
        return finish(int(STATUS_CR_SERIAL_TRANSFER_FAILED));
    if (n && port.write(s.buffers.command_data.data(), n) != n)
        return finish(int(STATUS_CR_SERIAL_TRANSFER_FAILED));

    // The acknowledgement's value is not examined, but it must come.
    if (!read_bytes(port, ack->data(), 1)) return finish(int(STATUS_CR_SERIAL_TRANSFER_FAILED));

    // A header that does not come leaves status 0xFFFF for the caller.
    set_header_word(response_header, 0, 0);
    set_header_word(response_header, 1, 0);
    set_header_word(response_header, 2, 0xFFFF);
    set_header_word(response_header, 3, 0);
    std::uint8_t header[8];
    if (read_bytes(port, header, 8)) std::memcpy(response_header, header, 8);
    if (!host_order) convert_header(response_header);
    const std::size_t r = header_word(response_header, 1);

    int result = 0;
    if (r > room) {
        for (std::size_t i = 0; i < r; ++i) {
            std::uint8_t discarded;
            if (!read_bytes(port, &discarded, 1)) break;
        }
        result = int(STATUS_CR_RESPONSE_BUFFER_TOO_SMALL);
    } else if (!read_stream(port, s.buffers.response_data.data(), r)) {
        // Part of the response never came: not a success with data missing.
        return finish(int(STATUS_CR_SERIAL_TRANSFER_FAILED));
    } else {
        received = r;
    }
    *ack->data() = RESPONSE_RECEIVED;
    if (port.write(ack->data(), 1) != 1) return finish(int(STATUS_CR_SERIAL_TRANSFER_FAILED));
    if (result == 0) *caller.returned_size = std::uint16_t(r);
    return finish(result);
}

int SerialCloseInterfaces(unsigned flags) {
    link_state& s = link();
    bool closed = true;
    auto close_stream = [&] {
        if (s.stream_open) closed = s.stream_object->close() && closed;
        s.stream_open = false;
    };
    auto close_command = [&] {
        if (s.command_open) closed = s.command_object->close() && closed;
        s.command_open = false;
        s.buffers.release();
    };
    if (flags & TRELINK_SERIAL_STREAM_PORT) close_stream();
    if (flags & TRELINK_SERIAL_COMMAND_PORT) close_command();
    if (flags & TRELINK_SERIAL_CLOSE_ALL) {
        close_stream();
        close_command();
    }
    return closed ? 0 : 1;
}

}  // namespace serial::wincomm
}  // namespace qx::transfer
