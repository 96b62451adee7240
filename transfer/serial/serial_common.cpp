#include "transfer/serial/serial_common.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "transfer/messages.h"

namespace qx::transfer::serial {

namespace pl = qx::platform::serial;

namespace {

void* map_committed(std::size_t size) {
    return ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
}

memory_calls& calls() {
    static memory_calls current{map_committed, ::mlock};
    return current;
}

struct baud {
    unsigned code;
    unsigned bit_rate;
    bool wincomm;
};

constexpr baud bauds[] = {
    {2, 300, false},     {3, 600, false},     {4, 1200, true},     {5, 2400, true},
    {6, 4800, false},    {7, 9600, true},     {8, 19200, true},    {9, 38400, true},
    {10, 57600, true},   {11, 115200, true},
};

std::size_t page_rounded(std::size_t size) {
    const auto page = std::size_t(::sysconf(_SC_PAGESIZE));
    return (size + page - 1) / page * page;
}

}  // namespace

port_record stream_port_defaults() {
    return port_record{};
}

port_record command_port_from(const serial_port_record& chosen) {
    port_record r;
    r.card_port_index = chosen.port_index;
    r.card_mode = chosen.mode_word;
    r.ring_size = chosen.ring_word;
    r.io_base_or_vendor = chosen.pci_card ? chosen.card_vendor : chosen.io_address;
    r.irq_or_device = chosen.pci_card ? chosen.card_device : chosen.irq;
    std::memcpy(r.port_name, chosen.name, sizeof r.port_name);
    r.port_name[sizeof r.port_name - 1] = '\0';
    return r;
}

std::optional<unsigned> wcsc_divisor(unsigned baud_code) {
    for (const baud& b : bauds)
        if (b.code == baud_code) return 1152000 / b.bit_rate;
    return std::nullopt;
}

std::optional<unsigned> wincomm_bit_rate(unsigned baud_code) {
    for (const baud& b : bauds)
        if (b.code == baud_code && b.wincomm) return b.bit_rate;
    return std::nullopt;
}

std::optional<pl::line_settings> line_settings_of(const port_record& record) {
    const auto rate = wincomm_bit_rate(record.baud_code);
    if (!rate || record.parity_code > 4 || record.length_code > 3 || record.stopbit_code > 2)
        return std::nullopt;
    pl::line_settings s;
    s.bit_rate = *rate;
    s.data_bits = 5u + record.length_code;
    s.parity_bits = pl::parity(record.parity_code);
    s.stop = pl::stop_bits(record.stopbit_code);
    return s;
}

std::optional<pl::handshake> handshake_of(const port_record& record) {
    switch (record.protocol_code) {
        case 4: return pl::handshake::none;
        case 0: return pl::handshake::hardware;
        case 7: return pl::handshake::software;
        default: return std::nullopt;
    }
}

memory_calls set_memory_calls(memory_calls replacement) {
    const memory_calls previous = calls();
    calls().map = replacement.map ? replacement.map : map_committed;
    calls().lock = replacement.lock ? replacement.lock : ::mlock;
    return previous;
}

locked_buffer::locked_buffer(locked_buffer&& other) noexcept
    : memory_(std::exchange(other.memory_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapped_(std::exchange(other.mapped_, 0)) {}

locked_buffer& locked_buffer::operator=(locked_buffer&& other) noexcept {
    if (this != &other) {
        release();
        memory_ = std::exchange(other.memory_, nullptr);
        size_ = std::exchange(other.size_, 0);
        mapped_ = std::exchange(other.mapped_, 0);
    }
    return *this;
}

locked_buffer::failure locked_buffer::allocate(std::size_t size, int& error) {
    release();
    const std::size_t mapped = page_rounded(size);
    void* memory = calls().map(mapped);
    if (memory == MAP_FAILED || !memory) {
        error = errno;
        return failure::allocate;
    }
    if (calls().lock(memory, mapped) != 0) {
        error = errno;
        ::munmap(memory, mapped);
        return failure::lock;
    }
    memory_ = memory;
    size_ = size;
    mapped_ = mapped;
    return failure::none;
}

void locked_buffer::release() {
    if (!memory_) return;
    ::munlock(memory_, mapped_);
    ::munmap(memory_, mapped_);
    memory_ = nullptr;
    size_ = mapped_ = 0;
}

bool locked_buffers::allocate() {
    struct wanted {
        locked_buffer* buffer;
        std::size_t size;
        const char* name;
    };
    const wanted all[] = {
        {&command_header, 8, "pLocked_command_header"},
        {&command_data, locked_data_size, "pLocked_command_data"},
        {&response_header, 8, "pLocked_response_header"},
        {&response_data, locked_data_size, "pLocked_response_data"},
    };
    for (const wanted& w : all) {
        int error = 0;
        const auto failed = w.buffer->allocate(w.size, error);
        if (failed == locked_buffer::failure::none) continue;
        show_error("SerialTransferDataToLockedBuffers %s %s failed GetLastError = %08x",
                   failed == locked_buffer::failure::allocate ? "VirtualAlloc" : "VirtualLock", w.name,
                   unsigned(error));
        release();
        return false;
    }
    return true;
}

void locked_buffers::release() {
    command_header.release();
    command_data.release();
    response_header.release();
    response_data.release();
}

std::optional<locked_buffer> lock_one_byte(const char* context, const char* name, bool messages) {
    locked_buffer b;
    int error = 0;
    const auto failed = b.allocate(1, error);
    if (failed == locked_buffer::failure::none) return b;
    if (messages)
        show_error("%s %s %s failed GetLastError = %08x", context,
                   failed == locked_buffer::failure::allocate ? "VirtualAlloc" : "VirtualLock", name,
                   unsigned(error));
    return std::nullopt;
}

void show_always(const char* caption, const char* text) {
    // The sink in use, read by swapping it out and straight back in.
    const message_sink sink = set_message_sink(nullptr);
    set_message_sink(sink);
    sink(caption, text);
}

std::uint16_t header_word(const void* header8, std::size_t index) {
    std::uint16_t w;
    std::memcpy(&w, static_cast<const std::uint8_t*>(header8) + 2 * index, 2);
    return w;
}

void set_header_word(void* header8, std::size_t index, std::uint16_t value) {
    std::memcpy(static_cast<std::uint8_t*>(header8) + 2 * index, &value, 2);
}

}  // namespace qx::transfer::serial
