// A scripted stand-in for the USB-CAN adapter roles, linked in place of platform/can: it
// records every call and answers from queues the test fills. A queued read answer becomes
// due once the link has made `after_writes` writes; before that a read finds no data. A read
// with nothing queued fails, and so does one that keeps finding no data: a test never blocks.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "platform/can/can_adapter.h"

namespace qx::test::fake_adapter {

namespace pc = qx::platform::can;

struct read_answer {
    pc::ucan_status status = pc::ucan_ok;
    std::vector<pc::can_message> messages;
    std::size_t after_writes = 0;
};

struct state {
    // Answers.
    pc::ucan_status init_hardware = pc::ucan_ok;
    pc::ucan_status init_can = pc::ucan_ok;
    std::deque<pc::ucan_status> write_statuses;  // per write; ucan_ok once empty
    std::deque<std::uint32_t> write_limits;      // messages taken per write; all once empty
    std::deque<read_answer> reads;
    pc::controller_state controller = pc::controller_state::active;
    // Calls seen.
    int init_hardware_calls = 0;
    int init_can_calls = 0;
    int deinit_can_calls = 0;
    int deinit_hardware_calls = 0;
    pc::can_init_parameters parameters{};
    std::uint8_t device_number = 0;
    std::vector<std::vector<pc::can_message>> writes;
    std::vector<std::uint32_t> read_capacities;
    int idle_reads = 0;
    pc::event_callback callback = nullptr;
    void* argument = nullptr;
};

state& get();
void reset();

// Read answers: a consecutive frame, a first frame, a flow control frame, from the ECU.
pc::can_message ecu_frame(std::initializer_list<std::uint8_t> data);

}  // namespace qx::test::fake_adapter
