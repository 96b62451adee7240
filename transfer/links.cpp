// Which link serves which kind. A new link adds its table to `built_links`.
#include <array>

#include "protocol/status.h"
#include "transfer/link.h"

namespace qx::transfer {

namespace {

using protocol::STATUS_CR_NOT_CONNECTED;

int absent_initialize(unsigned, unsigned char*) {
    return int(STATUS_CR_NOT_CONNECTED);
}
int absent_close(unsigned) {
    return 0;
}
int absent_send(CommandResponseTransfer*) {
    return int(STATUS_CR_NOT_CONNECTED);
}
int absent_connect() {
    return int(STATUS_CR_NOT_CONNECTED);
}

struct built_link {
    link_kind kind;
    const link_operations* operations;
};

const std::array built_links = {
    built_link{link_kind::serial_wcsc, &serial_wcsc_link},
    built_link{link_kind::serial_wincomm, &serial_wincomm_link},
    built_link{link_kind::usb, &usb_link},
    built_link{link_kind::simulator, &simulator_link},
    built_link{link_kind::usbcan, &usbcan_link},
};

}  // namespace

// A kind whose link this build lacks: it never opens, so every exchange finds it closed.
const link_operations absent_link = {
    "absent", absent_initialize, absent_close, absent_send, absent_connect, nullptr,
};

const link_operations* operations_of(link_kind kind) {
    if (kind == link_kind::none) return nullptr;
    for (const auto& link : built_links)
        if (link.kind == kind) return link.operations;
    return &absent_link;
}

int break_links() {
    for (const auto& link : built_links)
        if (link.operations->break_link) link.operations->break_link();
    return 0;
}

}  // namespace qx::transfer
