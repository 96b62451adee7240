// What the test simulator library records, read by the tests through TestSimulatorRecord.
#pragma once

#include <cstdint>

#include "transfer/simulator/simulator_abi.h"

struct test_simulator_record {
    int starts = 0;
    unsigned char* start_data = nullptr;
    int exchanges = 0;
    TrelinkCommandHeader last_header{};
    std::uint8_t last_request[64] = {};
    std::uint16_t written_status = 0x1234;  // what the processor writes as the response status
    const void* playback = nullptr;
    std::uint32_t playback_size = 0;
    int playback_result = 17;
};

extern "C" test_simulator_record* TestSimulatorRecord();
