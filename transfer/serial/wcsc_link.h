// The serial link through the WCSC driver (flag 0x2000): the byte protocol of serial_common.h
// on the driver's ports, with no thread of its own. It waits without limit for the ECU's
// acknowledgement and response bytes; only a line that hangs up ends the wait.
#pragma once

#include "transfer/serial/serial_common.h"
#include "transfer/simulator/simulator_abi.h"

namespace qx::transfer::serial::wcsc {

int SerialInitializeInterfaces(unsigned flags, unsigned char* data);
int SerialCloseInterfaces(unsigned flags);
int SerialSendCommandReceiveResponse(CommandResponseTransfer* transfer);
int SerialConnectCommandResponseInterface();

// Opens one port from its record (keeps the port id in it): 0 or the WCSC status.
int SerialInitializeComport(port_record& record);
// The port metrics box (SerialDebugMetricsDump), shown whether or not messages are enabled.
void SerialDebugMetricsDump(int port_id);

// The records as the link holds them.
const port_record& stream_port();
const port_record& command_port();
bool command_port_open();

}  // namespace qx::transfer::serial::wcsc
