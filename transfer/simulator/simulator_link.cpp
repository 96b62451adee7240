#include "transfer/simulator/simulator_link.h"

#include <cstring>

#include "platform/dynload/dynamic_library.h"
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
    command_processor(transfer);
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
