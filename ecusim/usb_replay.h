// ecusim replay: a USB device that answers each command with the answer a capture
// (TRELINK_CAPTURE) holds for it. Commands are matched in the order the capture has them;
// the first one that differs from its captured request is reported (exchange, command, first
// differing byte) and answered, like every later one, with header status replay_mismatch.
// Its own reading of the wire bytes: no product code (the capture file is read by the
// platform's pcapng reader, which knows nothing of the protocol).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ecusim/usb_framing.h"

namespace ecusim {

namespace status {
// Header status of a command the replay has no captured answer for.
inline constexpr std::uint16_t replay_mismatch = 0x0003;
}  // namespace status

class usb_replay : public usb_responder {
public:
    // The USB exchanges of the capture at `path`. Throws std::runtime_error when it cannot be
    // read or holds no USB command. `report` gets the line about the first difference.
    usb_replay(const std::string& path, std::function<void(const std::string&)> report);

    std::optional<usb_answer> on_transfer(std::span<const std::uint8_t> transfer, bool truncated) override;
    std::optional<std::size_t> announced_packet() const override;
    void reset() override;

    std::size_t captured() const { return exchanges_.size(); }
    // The one-line result: how many exchanges were answered as captured, and the difference.
    std::string summary() const;
    // Every captured exchange was asked for, and each as captured.
    bool complete() const;
    // A note about the capture (cut short, stray transfers); empty when there is none.
    const std::string& capture_note() const { return note_; }

private:
    struct exchange {
        bytes command;                // the command packet: header and request
        std::vector<bytes> answer;    // the ECU's transfers until the next command
    };
    usb_answer refuse(std::span<const std::uint8_t> command) const;

    std::vector<exchange> exchanges_;
    std::string note_;
    std::function<void(const std::string&)> report_;
    mutable std::mutex mutex_;
    std::optional<std::uint16_t> announced_;
    std::size_t next_ = 0;    // the exchange the next command must match
    std::size_t matched_ = 0;
    std::string difference_;  // the first; empty while every command matched
};

}  // namespace ecusim
