// The exchanges of a capture (TRELINK_CAPTURE): each command with its answer, put together
// from its link's transfers as they crossed the link. The transfers are the ECU's and are not
// trusted: whatever does not make an exchange becomes a note, never a failure.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/capture/pcapng.h"
#include "protocol/wire_fields.h"

namespace qx::console {

struct captured_exchange {
    std::uint32_t link = 0;       // the interface, an index into the capture's interfaces
    std::uint64_t sent_ns = 0;    // the command's last transfer
    std::uint16_t command_type = 0;
    std::vector<std::uint8_t> request;  // the bytes behind the command header
    bool answered = false;        // a whole answer came: header and announced data
    std::uint16_t status = 0;     // the answer header's status
    std::vector<std::uint8_t> response;  // the bytes behind the answer header that came
    std::uint64_t answered_ns = 0;       // the answer's last transfer
    protocol::wire_order order = protocol::wire_order::big;
    std::string note;  // what did not fit the framing
};

struct capture_reading {
    std::vector<captured_exchange> exchanges;  // in the order their commands were sent
    std::vector<std::string> notes;            // transfers that belong to no exchange
};

capture_reading read_exchanges(const platform::pcapng::capture& capture);

// "GET_TARGET_VERSION", "COMMAND_200" beyond the table, "0x1234" for what is not a command.
std::string command_name_of(std::uint16_t command_type);

// What follows the header of the command's request or response; none beyond the table.
protocol::structure_ref structure_of(std::uint16_t command_type, bool response);

}  // namespace qx::console
