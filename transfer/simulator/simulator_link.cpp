#include "transfer/simulator/simulator_link.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/dynload/dynamic_library.h"
#include "transfer/capture.h"
#include "transfer/link.h"

namespace qx::transfer {

const link_operations simulator_link = {
    "simulator",
    simulator::SimulatorInitializeInterfaces,
    simulator::SimulatorCloseInterfaces,
    simulator::SimulatorSendCommandReceiveResponse,
    simulator::SimulatorConnectCommandResponseInterface,
    simulator::SimulatorLinkAppendPlayback,
};

namespace simulator {

namespace {

platform::dynamic_library library;
SimulatorStart_t start = nullptr;
SimulatorCommandProcessor_t command_processor = nullptr;
SimulatorAppendPlayback_t append_playback = nullptr;

// A transfer across the call as the capture keeps it: the 8-byte header, then its data.
void record(capture::direction d, const void* header, const void* data, std::size_t size) {
    std::vector<std::uint8_t> packet(8 + size);
    std::memcpy(packet.data(), header, 8);
    if (size) std::memcpy(packet.data() + 8, data, size);
    capture::record(capture::port::simulator, d, packet.data(), packet.size());
}

void forget_entry_points() {
    start = nullptr;
    command_processor = nullptr;
    append_playback = nullptr;
}

}  // namespace

int SimulatorInitializeInterfaces(unsigned, unsigned char* data) {
    // A simulator loaded before is replaced, not leaked.
    forget_entry_points();
    if (library.loaded()) library.unload();
    if (!data || !library.load(reinterpret_cast<const char*>(data + 1))) return 1;
    capture::name_device(capture::port::simulator, reinterpret_cast<const char*>(data + 1));
    start = library.entry<SimulatorStart_t>("SimulatorStart");
    command_processor = library.entry<SimulatorCommandProcessor_t>("SimulatorCommandProcessor");
    append_playback = library.entry<SimulatorAppendPlayback_t>("SimulatorAppendPlayback");
    if (start) start(data);
    return command_processor ? 0 : 1;
}

int SimulatorCloseInterfaces(unsigned) {
    forget_entry_points();
    return library.unload() ? 0 : 1;
}

int SimulatorSendCommandReceiveResponse(CommandResponseTransfer* transfer) {
    if (!command_processor) {
        *transfer->transport_status = 1;
        transfer->response_header->status = 1;
        return 1;
    }
    const bool captured = capture::on();
    const TrelinkCommandHeader& command = *transfer->command_header;
    if (captured)
        record(capture::direction::to_ecu, &command, transfer->command_data,
               transfer->command_data ? command.command_data_size : 0);
    command_processor(transfer);
    if (captured) {
        const TrelinkResponseHeader& response = *transfer->response_header;
        const std::size_t size = transfer->response_data ? std::min(response.response_data_returning_size,
                                                                     command.response_data_buffer_size)
                                                         : 0;
        record(capture::direction::from_ecu, &response, transfer->response_data, size);
    }
    *transfer->transport_status = 0;
    transfer->response_header->status = 0;
    return 0;
}

int SimulatorConnectCommandResponseInterface() {
    return 0;
}

int SimulatorLinkAppendPlayback(const void* playback, std::uint32_t size) {
    return append_playback ? append_playback(playback, size) : 1;
}

}  // namespace simulator
}  // namespace qx::transfer
