// The six exports: link selection and the command exchange with its byte-order steps.
#include "transfer/trelink.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "protocol/codec.h"
#include "protocol/commands.h"
#include "protocol/status.h"
#include "transfer/capture.h"
#include "transfer/library_state.h"
#include "transfer/messages.h"
#include "platform/environment.h"

namespace qx::transfer {

library_state& state() {
    static library_state instance;
    return instance;
}

link_kind choose_link(unsigned flags) {
    link_kind kind = link_kind::none;
    if (flags & TRELINK_SERIAL_PORT_MASK) {
        if (flags & TRELINK_LINK_SERIAL_WCSC)
            kind = link_kind::serial_wcsc;
        else if (flags & TRELINK_LINK_SERIAL_WINCOMM)
            kind = link_kind::serial_wincomm;
    }
    if (flags & TRELINK_LINK_USB) kind = link_kind::usb;
    if (flags & TRELINK_LINK_USBCAN) kind = link_kind::usbcan;
    if (flags & TRELINK_LINK_SIMULATOR) kind = link_kind::simulator;
    return kind;
}

void fill_command_port(serial_port_record& port, unsigned flags) {
    std::snprintf(port.name, sizeof port.name, "COM%d", 0);
    if (!(flags & TRELINK_SERIAL_PORT_MASK)) return;
    const bool alternate = flags & TRELINK_WCSC_ALTERNATE;
    if (flags & TRELINK_WCSC_PCI_CARD) {
        port.pci_card = true;
        port.card_vendor = 0x1415;
        port.card_device = 0x9501;
        port.mode_word = 1;
        port.ring_word = 0x1000;
        port.port_index = alternate ? 0 : 2;
        port.io_address = 0;
        port.irq = 0;
    } else {
        port.pci_card = false;
        port.card_vendor = 0;
        port.card_device = 0;
        port.mode_word = 0;
        port.ring_word = 0;
        port.port_index = 0;
        port.io_address = alternate ? 0x3F8 : 0x2F8;
        port.irq = alternate ? 4 : 3;
    }
}

}  // namespace qx::transfer

using namespace qx::transfer;
namespace protocol = qx::protocol;

extern "C" {

int EnableErrorMessages(int enable) {
    set_messages_suppressed(enable == 0);
    return 0;
}

int KesInitializeInterfaces(unsigned flags, unsigned char* data) {
    library_state& s = state();
    if (const std::string path = qx::platform::environment::trace_file(); !path.empty())
        s.trace = exchange_trace::open(path);
    else
        s.trace.reset();
    capture::start_from_environment();
    fill_command_port(s.command_port, flags);
    const link_kind kind = choose_link(flags);
    if (kind != link_kind::none) {
        s.kind = kind;
        s.link = operations_of(kind);
    }
    s.append_playback_available = kind == link_kind::simulator;
    if (kind == link_kind::simulator) flags |= TRELINK_HOST_ORDER_TARGET;
    s.host_order_target = (flags & TRELINK_HOST_ORDER_TARGET) != 0;
    // Flags that name no kind before any link was chosen leave nothing to initialise.
    if (!s.link) return int(protocol::STATUS_CR_NO_INTERFACE);
    return s.link->initialize_interfaces(flags, data);
}

int KesConnectCommandResponseInterface(void) {
    const library_state& s = state();
    return s.link ? s.link->connect_command_response_interface() : 1;
}

int KesCloseInterfaces(unsigned flags) {
    const library_state& s = state();
    return s.link ? s.link->close_interfaces(flags) : 1;
}

int KesAppendPlayback(const void* playback, uint32_t size) {
    const library_state& s = state();
    if (!s.link || !s.append_playback_available || !s.link->append_playback) return 1;
    return s.link->append_playback(playback, size);
}

static int send_command(unsigned command_code, void* command_data, uint16_t command_data_size,
                        void* response_data, uint16_t response_data_buffer_size,
                        uint16_t* returned_size);

int KesSendCommand(unsigned command_code, void* command_data, uint16_t command_data_size,
                   void* response_data, uint16_t response_data_buffer_size,
                   uint16_t* returned_size) {
    exchange_trace* trace = state().trace.get();
    if (!trace)
        return send_command(command_code, command_data, command_data_size, response_data,
                            response_data_buffer_size, returned_size);
    std::uint16_t returned = 0;
    const auto start = std::chrono::steady_clock::now();
    const int result = send_command(command_code, command_data, command_data_size, response_data,
                                    response_data_buffer_size, &returned);
    const library_state& s = state();
    trace->record({command_code, std::uint16_t(command_data ? command_data_size : 0), returned, result,
                   std::chrono::steady_clock::now() - start, s.response_header.response_type, s.stray_packets});
    if (returned_size) *returned_size = returned;
    return result;
}

static int send_command(unsigned command_code, void* command_data, uint16_t command_data_size,
                        void* response_data, uint16_t response_data_buffer_size,
                        uint16_t* returned_size) {
    library_state& s = state();
    if (!s.link) {
        show_error("KesSendCommand Error ! No interface initialized");
        return int(protocol::STATUS_CR_NO_INTERFACE);
    }
    // A missing buffer has no bytes: the header never announces bytes that are not there.
    if (!command_data) command_data_size = 0;
    if (!response_data) response_data_buffer_size = 0;
    std::uint16_t unused_size = 0;
    if (!returned_size) returned_size = &unused_size;

    const std::uint8_t code = std::uint8_t(command_code & 0xFF);
    s.command_header = {protocol::command_type(code), command_data_size, response_data_buffer_size,
                        0};
    s.response_header = {};
    s.stray_packets = 0;

    // Codes above the command table have no row and go out unconverted.
    const protocol::codec_row* row = protocol::find_codec(code);
    auto* request = static_cast<std::uint8_t*>(command_data);
    auto* response = static_cast<std::uint8_t*>(response_data);
    const bool convert = !s.host_order_target && row;
    if (convert) row->convert_request(request, command_data_size);

    CommandResponseTransfer transfer{&s.command_header, command_data,  &s.response_header,
                                     response_data,     returned_size, &s.transport_status};
    const int link_status = s.link->send_command_receive_response(&transfer);
    int result;
    if (link_status != 0) {
        show_error("KesSendCommand SendCommandReceiveResponse failed return_status = %08x",
                   unsigned(link_status));
        result = link_status;
    } else {
        result = s.response_header.status;
        if (result == 0 && row) {
            // Only the bytes that arrived are laid out and converted.
            const std::size_t received =
                std::min<std::size_t>({s.response_header.response_data_returning_size,
                                       *returned_size, response_data_buffer_size});
            // A response whose arrays cannot all be laid out in the bytes that came is left as
            // it came: an array slot the ECU wrote would name bytes at random to convert.
            const bool laid_out = row->layout_response(response, received) != protocol::TS_LAYOUT_ERROR;
            if (laid_out && !s.host_order_target) row->convert_response(response, received);
        }
    }
    if (convert) row->convert_request(request, command_data_size);
    return result;
}

}  // extern "C"
