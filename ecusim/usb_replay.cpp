#include "ecusim/usb_replay.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "ecusim/command_codes.h"
#include "platform/capture/pcapng.h"

namespace ecusim {

namespace {

namespace pc = qx::platform::pcapng;
constexpr auto be = byte_order::big;
constexpr std::uint16_t announcement_type = cmd::command_type_base | cmd::larger_than_default;

bool is_announcement(std::span<const std::uint8_t> t) {
    return t.size() == usb_announcement_size && get16(t, 0, be) == announcement_type;
}

std::string command_text(std::span<const std::uint8_t> command) {
    char text[32];
    if (command.size() < 2) return "no command";
    std::snprintf(text, sizeof text, "command 0x%04X", unsigned(get16(command, 0, be)));
    return text;
}

}  // namespace

usb_replay::usb_replay(const std::string& path, std::function<void(const std::string&)> report)
    : report_(std::move(report)) {
    const pc::capture c = pc::read_file(path);
    if (!c.damage.empty()) note_ = path + " is " + c.damage + "; replayed up to there";
    std::size_t stray = 0;
    for (const pc::packet& p : c.packets) {
        if (c.interfaces[p.interface].linktype != pc::linktype_usb_packets) continue;
        if (p.dir == pc::direction::outbound) {
            if (!is_announcement(p.data)) exchanges_.push_back({p.data, {}});
        } else if (exchanges_.empty()) {
            ++stray;
        } else {
            exchanges_.back().answer.push_back(p.data);
        }
    }
    if (stray) note_ += (note_.empty() ? "" : "; ") + std::to_string(stray) + " transfers from the ECU before the first command are left out";
    if (exchanges_.empty()) throw std::runtime_error(path + " holds no command on a USB link");
}

usb_answer usb_replay::refuse(std::span<const std::uint8_t> command) const {
    bytes header(8, 0);
    put16(header, 0, command.size() >= 2 ? get16(command, 0, be) : 0, be);
    put16(header, 4, status::replay_mismatch, be);
    usb_answer a;
    a.transfers.push_back(std::move(header));
    return a;
}

std::optional<usb_answer> usb_replay::on_transfer(std::span<const std::uint8_t> t, bool truncated) {
    std::string line;
    usb_answer a;
    {
        std::lock_guard lock(mutex_);
        if (!truncated && is_announcement(t)) {
            announced_ = get16(t, 2, be);
            return std::nullopt;
        }
        announced_.reset();
        const std::size_t index = next_++;
        if (!difference_.empty()) return refuse(t);
        if (index >= exchanges_.size()) {
            difference_ = "exchange " + std::to_string(index + 1) + " (" + command_text(t) + "): the capture ends after " +
                          std::to_string(exchanges_.size()) + " exchanges";
        } else {
            const bytes& want = exchanges_[index].command;
            const auto [got_end, want_end] = std::mismatch(t.begin(), t.end(), want.begin(), want.end());
            if (got_end == t.end() && want_end == want.end() && !truncated) {
                ++matched_;
                a.transfers = exchanges_[index].answer;
                return a;
            }
            const auto at = std::size_t(got_end - t.begin());
            char text[200];
            if (got_end != t.end() && want_end != want.end())
                std::snprintf(text, sizeof text, "first differs at byte %zu of the command packet: 0x%02X, captured 0x%02X",
                              at, unsigned(*got_end), unsigned(*want_end));
            else
                std::snprintf(text, sizeof text, "first differs at byte %zu of the command packet: it is %zu bytes, captured %zu",
                              at, t.size(), want.size());
            difference_ = "exchange " + std::to_string(index + 1) + " (" + command_text(want) + "): the request " + text;
        }
        line = difference_;
    }
    report_(line);
    return refuse(t);
}

std::optional<std::size_t> usb_replay::announced_packet() const {
    std::lock_guard lock(mutex_);
    if (!announced_) return std::nullopt;
    return 8 + std::size_t(*announced_);
}

void usb_replay::reset() {
    std::lock_guard lock(mutex_);
    announced_.reset();
}

bool usb_replay::complete() const {
    std::lock_guard lock(mutex_);
    return difference_.empty() && matched_ == exchanges_.size();
}

std::string usb_replay::summary() const {
    std::lock_guard lock(mutex_);
    std::string s = std::to_string(matched_) + " of " + std::to_string(exchanges_.size()) +
                    " captured exchanges answered as captured";
    if (!difference_.empty()) s += "; " + difference_;
    return s;
}

}  // namespace ecusim
