// The USB-CAN link's segmentation and reassembly against arbitrary adapter answers, through the
// scripted adapter. Input: command data size and response buffer size (2 bytes each,
// little-endian, 12 bits), then reads, each a byte (bits 0..5: frames - 1; bit 6: a warning
// status; bit 7: the adapter fails) and 9 bytes per frame (data length, 8 data bytes).
// Invariants: a known status; the frames written carry exactly the command packet; a
// successful exchange returns what fits the buffer and says so in its header.
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <vector>

#include "protocol/layout.h"
#include "protocol/status.h"
#include "tests/transfer/usbcan_fake_adapter.h"
#include "transfer/messages.h"
#include "transfer/usbcan/usbcan_link.h"

namespace {

namespace fa = qx::test::fake_adapter;
namespace pc = qx::platform::can;
using namespace qx::transfer::usbcan;
using namespace qx::protocol;

void quiet(std::string_view, std::string_view) {}

// The command packet as the written frames carry it (flow control frames left out), as far
// as they carry it; `length` is what the first frame announced.
std::vector<std::uint8_t> written_packet(std::size_t& length) {
    std::vector<std::uint8_t> packet;
    length = 0;
    for (const auto& write : fa::get().writes)
        for (const pc::can_message& m : write) {
            if (m.id != host_to_ecu_id || m.data_length != 8) __builtin_trap();
            const int kind = m.data[0] >> 4;
            if (kind == 1) {
                length = std::size_t(m.data[0] & 0xF) << 8 | m.data[1];
                packet.assign(m.data + 2, m.data + 8);
            } else if (kind == 2) {
                packet.insert(packet.end(), m.data + 1, m.data + 8);
            } else if (kind != 3) {
                __builtin_trap();
            }
        }
    if (packet.size() > length) packet.resize(length);
    return packet;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool once = (qx::transfer::set_message_sink(quiet), true);
    (void)once;
    if (size < 4) return 0;
    const std::uint16_t n = (data[0] | data[1] << 8) & 0xFFF;
    const std::uint16_t m = (data[2] | data[3] << 8) & 0xFFF;
    fa::reset();
    for (std::size_t at = 4; at < size;) {
        const std::uint8_t control = data[at++];
        fa::read_answer read;
        read.status = control & 0x80 ? pc::ucan_error_bus : control & 0x40 ? pc::ucan_warning_no_data : pc::ucan_ok;
        read.after_writes = 1;  // none is stale: each comes once the command has begun
        for (std::size_t k = 0; k <= (control & 0x3Fu) && at + 9 <= size; ++k, at += 9) {
            pc::can_message msg = fa::ecu_frame({});
            msg.data_length = data[at];
            std::memcpy(msg.data, data + at + 1, 8);
            read.messages.push_back(msg);
        }
        // An adapter that has nothing says so with a warning; a plain success always brings frames.
        if (read.messages.empty() && read.status == pc::ucan_ok) read.status = pc::ucan_warning_no_data;
        fa::get().reads.push_back(std::move(read));
        if (at + 9 > size) break;
    }

    std::vector<std::uint8_t> request(n), response(m);
    for (std::size_t i = 0; i < n; ++i) request[i] = std::uint8_t(i * 7 + 1);
    TrelinkCommandHeader command{0xCD4F, n, m, 0};
    TrelinkResponseHeader response_header{};
    std::uint16_t returned = 0xBEEF;
    std::uint32_t transport = 0;
    CommandResponseTransfer t{&command, request.data(), &response_header, response.data(), &returned, &transport};
    if (UsbCanSystecInitializeInterfaces(0x100, nullptr) != 0) __builtin_trap();
    const int status = UsbCanSystecSendCommandReceiveResponse(&t);
    UsbCanSystecCloseInterfaces(0);

    if (status == int(STATUS_CR_COMMAND_TOO_LARGE)) {
        if (8u + n <= max_packet_size || !fa::get().writes.empty()) __builtin_trap();
        return 0;
    }
    if (status != 0 && status != link_error && status != int(STATUS_CR_NO_INTERFACE) &&
        status != int(STATUS_CR_RESPONSE_BUFFER_TOO_SMALL))
        __builtin_trap();
    if (!fa::get().writes.empty()) {
        std::size_t length = 0;
        const auto packet = written_packet(length);
        const bool answered = status == 0 || status == int(STATUS_CR_RESPONSE_BUFFER_TOO_SMALL);
        if (length != 8u + n || (answered && packet.size() != length)) __builtin_trap();
        std::vector<std::uint8_t> expected(8 + n);
        std::memcpy(expected.data(), &command, 8);  // the link turned it to ECU order in place
        if (n) std::memcpy(expected.data() + 8, request.data(), n);
        if (!std::equal(packet.begin(), packet.end(), expected.begin())) __builtin_trap();
    }
    if (status == 0 && (returned > m || returned != response_header.response_data_returning_size)) __builtin_trap();
    return 0;
}
