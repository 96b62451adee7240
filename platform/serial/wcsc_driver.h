// The WCSC serial driver's calls, by the roles the serial link relies on, over termios ports.
//
// A port is chosen by the words of its open call: a standard port at I/O address 0x3F8 with
// IRQ 4 is COM1, one at 0x2F8 with IRQ 3 is COM2 (see port_names.h); port k of the PCI card
// (card mode 1, vendor 0x1415, device 0x9501) is the device named by $TRELINK_WCSC_CARD<k>.
// Port ids are small numbers from 0; a device is open at most once.
//
// Failures are negative: the errno negated (-ENOENT, -EBUSY, ...), or -EINVAL for words the
// driver does not know and -EBADF for a port id that is not open.
#pragma once

#include <cstdint>

namespace qx::platform::serial::wcsc {

inline constexpr std::uint16_t card_vendor = 0x1415;
inline constexpr std::uint16_t card_device = 0x9501;
inline constexpr unsigned card_clock = 1152000;  // divisor = card_clock / bit rate
inline constexpr int max_ports = 8;

// What WCSCVxDFlush empties.
inline constexpr int flush_transmit = 1;
inline constexpr int flush_receive = 2;

// The metrics block of WCSCVxDGetPort, in the driver's order.
struct port_metrics {
    std::uint32_t VTotalIn, VTotalOut, VInBufCnt, VOutBufCnt, VIRingSize, VORingSize, VMSRIntCnt,
        VLSRIntCnt, VXmtIntCnt, VRcvIntCnt, VRcvLostCnt, VXmtLostCnt, VOFlushCnt, VIFlushCnt,
        VMSRReg, VLSRReg, VTypeUART, VCurOverrunCnt, VCurParityCnt, VCurFramingCnt, VCurBreakCnt,
        VBytesRead, VBytesWrite, VPort, VBase, VIrq, VBaud, VLength, VParity, VStopbit, VProtocol;
};

int WCSCVxDInit();
// Returns the port id (>= 0).
int WCSCVxDOpenPort(int port_number, std::uint16_t io_base_or_vendor, std::uint16_t irq_or_device,
                    std::uint16_t card_mode, std::uint16_t card_port_index, std::uint16_t ring_size,
                    int reserved);
// The divisor card ports use for a baud code from now on.
int WCSCVxDSetBaudDiv(int baud_code, unsigned divisor);
// Baud codes 2..11 (300 .. 115200 bit/s; a card port runs at card_clock / its divisor),
// parity 0 none, 1 odd, 2 even, 3 mark, 4 space; length 0..3 = 5..8 data bits; stop bits
// 0 one, 1 one and a half, 2 two; protocol 4 none, 0 hardware, 7 software (XON/XOFF).
int WCSCVxDSetPortCharacteristics(int port_id, int baud_code, int parity_code, int length_code,
                                  int stopbit_code, int protocol_code);
int WCSCVxDFlush(int port_id, int what);
// what = 1: fills the metrics block.
int WCSCVxDGetPort(int port_id, port_metrics* block, int what);
// Bytes written / read (fewer than asked, or 0 when nothing is waiting); negative on failure,
// -EPIPE once the line has hung up. With TRELINK_ANSWER_TIMEOUT_MS set, reads that find nothing
// for that long hang the port up.
int WCSCVxDPutPacket(int port_id, int count, const void* bytes);
int WCSCVxDGetPacket(int port_id, int count, void* buffer);
// Closes the port; an id in range that is not open is already clean.
int WCSCVxDCleanup(int port_id);

}  // namespace qx::platform::serial::wcsc
