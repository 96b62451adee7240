/* Trelink: the data-transfer library between the host program and the ECU.
 * Six plain C exports; all results are 32-bit statuses, 0 = success. The library handles one
 * exchange at a time and takes no lock: callers serialise every call. */
#ifndef TRELINK_TRELINK_H
#define TRELINK_TRELINK_H

#include <stdint.h>

#define TRELINK_EXPORT __attribute__((visibility("default")))

/* Flags of KesInitializeInterfaces and KesCloseInterfaces. */
#define TRELINK_SERIAL_STREAM_PORT 0x00000001u  /* serial: open the stream port */
#define TRELINK_SERIAL_COMMAND_PORT 0x00000002u /* serial: open the command/response port */
#define TRELINK_SERIAL_CLOSE_ALL 0x00000004u    /* serial, on close: close all ports */
#define TRELINK_WCSC_PCI_CARD 0x00000008u       /* WCSC: port of the PCI serial card */
#define TRELINK_WCSC_ALTERNATE 0x00000080u      /* WCSC: card port 0, or the port at 0x3F8 */
#define TRELINK_LINK_USB 0x00000020u
#define TRELINK_LINK_USBCAN 0x00000100u
#define TRELINK_LINK_SIMULATOR 0x00000200u
#define TRELINK_LINK_SERIAL_WINCOMM 0x00001000u
#define TRELINK_LINK_SERIAL_WCSC 0x00002000u
#define TRELINK_SERIAL_PORT_MASK 0x000F0000u /* serial port number 1 to 15 */
#define TRELINK_SERIAL_PORT_SHIFT 16
#define TRELINK_HOST_ORDER_TARGET 0x80000000u /* the ECU keeps host byte order */

#ifdef __cplusplus
extern "C" {
#endif

/* Non-zero shows the library's error messages, 0 suppresses them. */
TRELINK_EXPORT int EnableErrorMessages(int enable);

/* Selects the link by the flags and opens it. For the simulator link, data[0] is the
 * simulator's own and data + 1 the simulator library's file name. For the USB link, data is
 * null or a terminated device path (what a device arrival names): that device is opened, and
 * no other. */
TRELINK_EXPORT int KesInitializeInterfaces(unsigned flags, unsigned char* data);

/* Connects the command/response port (serial links); 1 when no link was ever selected. */
TRELINK_EXPORT int KesConnectCommandResponseInterface(void);

/* One exchange. Only the low byte of command_code is used. The request is given and given
 * back in host order; the response arrives in host order. returned_size is set only when the
 * response carried data: set it to 0 beforehand. */
TRELINK_EXPORT int KesSendCommand(unsigned command_code, void* command_data,
                                  uint16_t command_data_size, void* response_data,
                                  uint16_t response_data_buffer_size, uint16_t* returned_size);

/* Closes the selected link; 1 when no link was ever selected. */
TRELINK_EXPORT int KesCloseInterfaces(unsigned flags);

/* Hands playback data to the simulator; 1 without a simulator that takes it. */
TRELINK_EXPORT int KesAppendPlayback(const void* playback, uint32_t size);

#ifdef __cplusplus
}
#endif

#endif
