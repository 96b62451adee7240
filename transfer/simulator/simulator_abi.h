/* The contract between Trelink's simulator link and a simulator library.
 *
 * A simulator library exports, as plain C functions:
 *   int SimulatorStart(unsigned char* data);                       optional, once after loading
 *   int SimulatorCommandProcessor(CommandResponseTransfer* t);     once per exchange
 *   int SimulatorAppendPlayback(const void* playback, uint32_t size);   optional
 * data is the block given to KesInitializeInterfaces (data + 1: the library's file name). The
 * results of SimulatorStart and SimulatorCommandProcessor are not looked at.
 *
 * The command processor gets everything in host byte order. It fills the response header
 * (response_type, response_data_returning_size), at most response_data_buffer_size bytes of
 * response data and the returned-size word. The library then sets the response status to 0. */
#ifndef TRELINK_SIMULATOR_ABI_H
#define TRELINK_SIMULATOR_ABI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The two 8-byte headers of every exchange, field for field. */
typedef struct TrelinkCommandHeader {
    uint16_t command_type; /* 0xCD00 + command code */
    uint16_t command_data_size;
    uint16_t response_data_buffer_size;
    uint16_t dummy;
} TrelinkCommandHeader;

typedef struct TrelinkResponseHeader {
    uint16_t response_type;
    uint16_t response_data_returning_size;
    uint16_t status;
    uint16_t dummy;
} TrelinkResponseHeader;

/* One exchange, as handed to a link and to the simulator's command processor. */
typedef struct CommandResponseTransfer {
    TrelinkCommandHeader* command_header;
    void* command_data; /* command_data_size bytes */
    TrelinkResponseHeader* response_header;
    void* response_data;        /* response_data_buffer_size bytes */
    uint16_t* returned_size;    /* response data bytes received */
    uint32_t* transport_status; /* set by links that report one */
} CommandResponseTransfer;

typedef int (*SimulatorStart_t)(unsigned char* data);
typedef int (*SimulatorCommandProcessor_t)(CommandResponseTransfer* transfer);
typedef int (*SimulatorAppendPlayback_t)(const void* playback, uint32_t size);

#ifdef __cplusplus
}
#endif

#endif
