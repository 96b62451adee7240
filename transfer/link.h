// The operation set of a link: one table of functions per link kind, chosen once by
// KesInitializeInterfaces and used by every later call.
#pragma once

#include <cstdint>

#include "transfer/simulator/simulator_abi.h"

namespace qx::transfer {

struct link_operations {
    const char* name;
    int (*initialize_interfaces)(unsigned flags, unsigned char* data);
    int (*close_interfaces)(unsigned flags);
    int (*send_command_receive_response)(CommandResponseTransfer* transfer);
    int (*connect_command_response_interface)();
    // Only the simulator has one; null elsewhere.
    int (*append_playback)(const void* playback, std::uint32_t size);
    // Ends the open link's running and later exchanges at once, as an unplug does; from any
    // thread. Null for links whose exchanges never wait without end.
    int (*break_link)() = nullptr;
};

enum class link_kind : std::uint8_t {
    none,
    serial_wcsc,     // serial port through the WCSC driver library
    serial_wincomm,  // serial port through the communication functions
    usb,
    usbcan,
    simulator,
};

// The operation set of a kind; for a kind whose link is not built into this library, the
// set of an absent link (opening it fails with STATUS_CR_NOT_CONNECTED). Null for none.
const link_operations* operations_of(link_kind kind);
// Breaks every built link that can be broken (KesCloseInterfaces with TRELINK_BREAK_LINK).
int break_links();

// The links this library is built with. A link defines its table in its own folder.
extern const link_operations usb_link;
extern const link_operations simulator_link;
extern const link_operations usbcan_link;
extern const link_operations serial_wcsc_link;
extern const link_operations serial_wincomm_link;
extern const link_operations absent_link;

}  // namespace qx::transfer
