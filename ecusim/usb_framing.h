// The virtual ECU's side of the USB bulk pipe, whatever carries the transfers (a registry
// socket or a real gadget endpoint pair).
//
// From the host: an optional 32-byte announcement (command type 0xCD07 and the size of the
// command data that follows), then the command packet (8-byte header and the request).
// To the host: the 8-byte response header as one transfer, then the data in transfers of at
// most 4096 bytes. All of it big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ecusim/ecu_model.h"

namespace ecusim {

inline constexpr std::size_t usb_max_transfer = 4096;
inline constexpr std::size_t usb_announcement_size = 32;

// What the device does about one command.
struct usb_answer {
    unsigned delay_ms = 0;              // before anything is sent
    bool unplug_instead = false;        // no answer: leave at once
    std::vector<bytes> transfers;       // bulk IN transfers, in order
    enum class then { stay, unplug, reset } after = then::stay;
    std::optional<unsigned> replug_ms;  // come back this long after a fault unplugged it
    // Packets nobody asked for follow the answer (a fault): they are all to be waiting before
    // the host can act on the answer.
    bool strays = false;
};

class usb_framing {
public:
    // One bulk OUT transfer (`truncated`: longer than what was read of it). Nothing for an
    // announcement; otherwise the model's answer (the caller holds the model).
    std::optional<usb_answer> on_transfer(ecu& model, std::span<const std::uint8_t> transfer, bool truncated);
    // The size of the command packet an announcement promised for the next transfer.
    std::optional<std::size_t> announced_packet() const;
    // A new host session: nothing announced.
    void reset() { announced_.reset(); }

private:
    usb_answer answer_of(const reply& r);

    std::optional<std::uint16_t> announced_;
    bytes last_header_;  // of the answer before, for a stray copy of it
};

// What answers the host in place of the model's framing (ecusim replay): the same three calls.
class usb_responder {
public:
    virtual ~usb_responder() = default;
    virtual std::optional<usb_answer> on_transfer(std::span<const std::uint8_t> transfer, bool truncated) = 0;
    virtual std::optional<std::size_t> announced_packet() const = 0;
    virtual void reset() = 0;
};

// Writes the model's state as JSON to `path` through a temporary file (no-op for an empty path).
void write_state_file(const std::string& path, const std::string& json);

}  // namespace ecusim
