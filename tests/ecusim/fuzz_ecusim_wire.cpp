// The virtual ECU's wire parser against arbitrary host transfers. Input: the first byte picks
// the front (even: the USB framing, big-endian; odd: the simulator's direct call, host order),
// then transfers, each a 2-byte little-endian length (bit 15: truncated) and its bytes. One ECU
// takes them all, so a session can build up. Every answer must frame what it carries.
#include <cstddef>
#include <cstdint>
#include <span>

#include "ecusim/ecu_model.h"
#include "ecusim/usb_framing.h"

namespace {

using namespace ecusim;

void check_answer(const usb_answer& a) {
    if (a.transfers.empty()) {
        if (!a.unplug_instead && a.delay_ms == 0 && !a.replug_ms) __builtin_trap();  // no faults planned
        return;
    }
    if (a.transfers[0].size() != 8) __builtin_trap();
    std::size_t data = 0;
    for (std::size_t i = 1; i < a.transfers.size(); ++i) {
        const std::size_t n = a.transfers[i].size();
        if (n == 0 || n > usb_max_transfer) __builtin_trap();
        data += n;
    }
    if (data != get16(a.transfers[0], 2, byte_order::big)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const bool usb = (data[0] & 1) == 0;
    std::span<const std::uint8_t> in(data + 1, size - 1);
    ecu model{ecu_config{}};
    usb_framing framing;
    while (in.size() >= 2) {
        const std::size_t word = in[0] | std::size_t(in[1]) << 8;
        const std::size_t n = std::min(word & 0x7FFF, in.size() - 2);
        const auto transfer = in.subspan(2, n);
        in = in.subspan(2 + n);
        if (usb) {
            const auto answer = framing.on_transfer(model, transfer, (word & 0x8000) != 0);
            if (answer) check_answer(*answer);
            if (framing.announced_packet() && *framing.announced_packet() > 8 + 0xFFFF) __builtin_trap();
        } else if (transfer.size() >= 4) {
            const reply r = model.process(get16(transfer, 0, byte_order::little), get16(transfer, 2, byte_order::little),
                                          transfer.subspan(4), byte_order::little);
            if (r.data.size() > 0xFFFF) __builtin_trap();
        }
    }
    return 0;
}
