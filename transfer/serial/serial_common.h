// What the two serial links share: the port records, the baud codes, the page-locked buffers
// and the byte protocol around one exchange.
//
//   host -> ECU  0xC5             connection request; the ECU answers 0xC5 (big-endian
//                                 structures) or 0xCC (host byte order)
//   host -> ECU  header, data     the 8-byte command header and command_data_size bytes
//   ECU -> host  0xCD             the command was received
//   ECU -> host  header, data     the 8-byte response header, response_data_returning_size bytes
//   host -> ECU  0xDC             the response was received
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/serial/serial_port.h"
#include "protocol/framing.h"
#include "transfer/library_state.h"

namespace qx::transfer::serial {

inline constexpr std::uint8_t INTERFACE_CONNECTION_INDICATOR = protocol::framing::serial_connection_request;
inline constexpr std::uint8_t HOST_ORDER_CONNECTION_ANSWER = protocol::framing::serial_host_order_answer;
inline constexpr std::uint8_t COMMAND_TYPE_INDICATOR = protocol::framing::serial_command_received;
inline constexpr std::uint8_t RESPONSE_RECEIVED = protocol::framing::serial_response_received;

// Each locked data buffer holds this much; longer commands are refused, longer responses
// drained as too large for the buffer.
inline constexpr std::size_t locked_data_size = 0x4000;

struct port_record {
    std::uint16_t port_number = 0;
    std::uint16_t card_port_index = 0;
    std::uint16_t card_mode = 1;
    std::uint16_t ring_size = 0x1000;
    std::uint16_t io_base_or_vendor = 0x1415;
    std::uint16_t irq_or_device = 0x9501;
    std::uint16_t baud_code = 10;
    std::uint16_t parity_code = 0;
    std::uint16_t length_code = 3;
    std::uint16_t stopbit_code = 0;
    std::uint16_t protocol_code = 4;
    char port_name[16] = "";
    std::int32_t port_handle = -1;  // WCSC port id
};

// The stream port: port 0 of the PCI card, 57600 bit/s 8N1, no handshake.
port_record stream_port_defaults();
// The command/response port as KesInitializeInterfaces described it, with the same line
// defaults as the stream port.
port_record command_port_from(const serial_port_record& chosen);

// The WCSC divisor of a baud code (1,152,000 / bit rate; code 4 = 1200 bit/s = 960).
std::optional<unsigned> wcsc_divisor(unsigned baud_code);
// The bit rate the communication functions support for a baud code.
std::optional<unsigned> wincomm_bit_rate(unsigned baud_code);
// Line settings of a record's codes; nullopt for a code without meaning.
std::optional<platform::serial::line_settings> line_settings_of(const port_record& record);
std::optional<platform::serial::handshake> handshake_of(const port_record& record);

// Page-locked memory: mapped committed and read-write, then locked.
class locked_buffer {
public:
    enum class failure : std::uint8_t { none, allocate, lock };

    locked_buffer() = default;
    ~locked_buffer() { release(); }
    locked_buffer(locked_buffer&& other) noexcept;
    locked_buffer& operator=(locked_buffer&& other) noexcept;
    locked_buffer(const locked_buffer&) = delete;
    locked_buffer& operator=(const locked_buffer&) = delete;

    // Which step failed; the errno is in `error`.
    failure allocate(std::size_t size, int& error);
    void release();
    std::uint8_t* data() const { return static_cast<std::uint8_t*>(memory_); }
    std::size_t size() const { return size_; }
    explicit operator bool() const { return memory_ != nullptr; }

private:
    void* memory_ = nullptr;
    std::size_t size_ = 0;
    std::size_t mapped_ = 0;
};

// The calls that map and lock, replaceable so that tests can make them fail. Null restores
// mmap and mlock. Returns the previous pair through the arguments' types.
using map_call = void* (*)(std::size_t size);  // MAP_FAILED on failure, errno set
using lock_call = int (*)(const void* address, std::size_t size);
struct memory_calls {
    map_call map = nullptr;
    lock_call lock = nullptr;
};
memory_calls set_memory_calls(memory_calls calls);

// The four buffers that exist while the command/response port is open.
struct locked_buffers {
    locked_buffer command_header;
    locked_buffer command_data;
    locked_buffer response_header;
    locked_buffer response_data;

    // SerialTransferDataToLockedBuffers: all four or none; each failure shows its message.
    bool allocate();
    void release();
    bool ready() const { return command_header && command_data && response_header && response_data; }
};

// A one-byte acknowledgement buffer; shows `context` "VirtualAlloc ack" / "VirtualLock ack"
// style messages only when `messages` is set.
std::optional<locked_buffer> lock_one_byte(const char* context, const char* name, bool messages);

// A box shown whether or not messages are enabled (the port metrics).
void show_always(const char* caption, const char* text);

std::uint16_t header_word(const void* header8, std::size_t index);
void set_header_word(void* header8, std::size_t index, std::uint16_t value);

}  // namespace qx::transfer::serial
