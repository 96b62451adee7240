// The serial link through the communication functions (flag 0x1000): the byte protocol of
// serial_common.h on a port object whose reader thread fills the receive ring. Every read
// waits at most 2 s; the link shows no messages of its own.
#pragma once

#include <chrono>

#include "transfer/serial/comm_port.h"
#include "transfer/serial/serial_common.h"
#include "transfer/simulator/simulator_abi.h"

namespace qx::transfer::serial::wincomm {

inline constexpr auto read_timeout = std::chrono::milliseconds(2000);

int SerialInitializeInterfaces(unsigned flags, unsigned char* data);
int SerialCloseInterfaces(unsigned flags);
int SerialSendCommandReceiveResponse(CommandResponseTransfer* transfer);
int SerialConnectCommandResponseInterface();

// Opens one port from its record: false when it cannot be opened or set up.
bool SerialInitializeComport(comm_port& port, const port_record& record, bool captured);

const port_record& command_port();
bool command_port_open();

}  // namespace qx::transfer::serial::wincomm
