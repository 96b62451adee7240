// The library's one state per process, shared by the exports and the links.
#pragma once

#include <memory>

#include <cstdint>

#include "transfer/link.h"

#include "transfer/trace.h"

namespace qx::transfer {

// The command/response port of the serial links, as the interface flags describe it.
struct serial_port_record {
    char name[16] = "COM0";
    bool pci_card = false;
    std::uint16_t card_vendor = 0;
    std::uint16_t card_device = 0;
    std::uint16_t mode_word = 0;
    std::uint16_t ring_word = 0;
    std::uint8_t port_index = 0;
    std::uint16_t io_address = 0;
    std::uint8_t irq = 0;
};

struct library_state {
    const link_operations* link = nullptr;  // never cleared once chosen
    link_kind kind = link_kind::none;
    bool append_playback_available = false;
    bool host_order_target = false;
    serial_port_record command_port;
    TrelinkCommandHeader command_header{};
    TrelinkResponseHeader response_header{};
    std::uint32_t transport_status = 0;
    std::uint16_t stray_packets = 0;  // read off the USB pipe before the last command
    std::unique_ptr<exchange_trace> trace;  // TRELINK_TRACE; null: no trace, no cost
};

library_state& state();

// The link kind the flags choose, each later rule overriding: serial (only with a port
// number), then USB, USB-CAN, simulator.
link_kind choose_link(unsigned flags);

// Resets the port name to "COM0" and, with a port number in the flags, fills the record.
void fill_command_port(serial_port_record& port, unsigned flags);

}  // namespace qx::transfer
