// A simulator library for the tests: echoes the request as the response and records each
// call. Built three ways: complete, without SimulatorStart, without SimulatorCommandProcessor.
#include <algorithm>
#include <cstring>

#include "tests/transfer/test_simulator.h"

namespace {
test_simulator_record record;
}

extern "C" {

__attribute__((visibility("default"))) test_simulator_record* TestSimulatorRecord() {
    return &record;
}

#ifndef WITHOUT_START
__attribute__((visibility("default"))) int SimulatorStart(unsigned char* data) {
    ++record.starts;
    record.start_data = data;
    return 99;
}
#endif

#ifndef WITHOUT_PROCESSOR
__attribute__((visibility("default"))) int SimulatorCommandProcessor(CommandResponseTransfer* t) {
    ++record.exchanges;
    record.last_header = *t->command_header;
    const std::uint16_t n = t->command_header->command_data_size;
    std::memcpy(record.last_request, t->command_data,
                std::min<std::size_t>(n, sizeof record.last_request));
    const std::uint16_t echoed = std::min(n, t->command_header->response_data_buffer_size);
    if (echoed) std::memcpy(t->response_data, t->command_data, echoed);
    t->response_header->response_type = t->command_header->command_type;
    t->response_header->response_data_returning_size = echoed;
    t->response_header->status = record.written_status;
    *t->returned_size = echoed;
    *t->transport_status = 0xEEEE;
    return 5;
}
#endif

__attribute__((visibility("default"))) int SimulatorAppendPlayback(const void* playback,
                                                                   std::uint32_t size) {
    record.playback = playback;
    record.playback_size = size;
    return record.playback_result;
}

}  // extern "C"
