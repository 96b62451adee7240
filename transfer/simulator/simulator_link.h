// The simulator link: every exchange goes unchanged, in host byte order, to a simulator
// library loaded at run time (its contract: simulator_abi.h).
#pragma once

#include <cstdint>

#include "transfer/simulator/simulator_abi.h"

namespace qx::transfer::simulator {

int SimulatorInitializeInterfaces(unsigned flags, unsigned char* data);
int SimulatorCloseInterfaces(unsigned flags);
int SimulatorSendCommandReceiveResponse(CommandResponseTransfer* transfer);
int SimulatorConnectCommandResponseInterface();
int SimulatorLinkAppendPlayback(const void* playback, std::uint32_t size);

}  // namespace qx::transfer::simulator
