#include "ecusim/usb_framing.h"

#include <filesystem>
#include <fstream>

#include "ecusim/command_codes.h"

namespace ecusim {

namespace {

constexpr std::uint16_t announcement_type = cmd::command_type_base | cmd::larger_than_default;
constexpr auto be = byte_order::big;

bytes empty_header(std::uint16_t response_type) {
    bytes h(8, 0);
    put16(h, 0, response_type, be);
    return h;
}

}  // namespace

usb_answer usb_framing::answer_of(const reply& r) {
    const fault_actions& f = r.faults;
    usb_answer a;
    a.replug_ms = f.replug_ms;
    if (f.mute) return a;
    if (f.unplug) {
        a.unplug_instead = true;
        return a;
    }
    a.delay_ms = f.delay_ms;
    bytes header(8, 0);
    put16(header, 0, r.response_type, be);
    put16(header, 2, std::uint16_t(r.data.size()), be);
    put16(header, 4, r.status, be);
    if (f.short_header) header.resize(4);
    const bytes stray = last_header_.empty() ? empty_header(r.response_type) : last_header_;
    last_header_ = header;
    const std::size_t first = a.transfers.size();
    a.transfers.push_back(std::move(header));
    for (std::size_t at = 0; at < r.data.size(); at += usb_max_transfer) {
        const auto from = r.data.begin() + std::ptrdiff_t(at);
        a.transfers.emplace_back(from, from + std::ptrdiff_t(std::min(usb_max_transfer, r.data.size() - at)));
    }
    if (f.twice) {
        const std::size_t last = a.transfers.size();
        for (std::size_t i = first; i < last; ++i) a.transfers.push_back(a.transfers[i]);
    }
    if (f.extra) a.transfers.push_back(stray);
    a.strays = f.twice || f.extra;
    if (r.reset) a.after = usb_answer::then::reset;
    else if (f.unplug_after) a.after = usb_answer::then::unplug;
    return a;
}

std::optional<usb_answer> usb_framing::on_transfer(ecu& model, std::span<const std::uint8_t> msg, bool truncated) {
    if (!truncated && msg.size() == usb_announcement_size && get16(msg, 0, be) == announcement_type) {
        if (announced_) model.record_framing_error();
        announced_ = get16(msg, 2, be);
        return std::nullopt;
    }
    const std::optional<std::uint16_t> announced = announced_;
    announced_.reset();
    // A command must be 8 bytes of header plus exactly its data, and one longer than 32 bytes
    // must have been announced with its size.
    bool framing_ok = !truncated && msg.size() >= 8;
    if (framing_ok) {
        const std::size_t n = get16(msg, 2, be);
        framing_ok = msg.size() == 8 + n &&
                     (msg.size() > usb_announcement_size ? announced && *announced == n : !announced);
    }
    reply r;
    if (!framing_ok) {
        model.record_framing_error();
        r.response_type = msg.size() >= 2 ? get16(msg, 0, be) : 0;
        r.status = status::header_malformed;
    } else {
        r = model.process(get16(msg, 0, be), get16(msg, 4, be), msg.subspan(8), be);
    }
    return answer_of(r);
}

std::optional<std::size_t> usb_framing::announced_packet() const {
    if (!announced_) return std::nullopt;
    return 8 + std::size_t(*announced_);
}

void write_state_file(const std::string& path, const std::string& json) {
    if (path.empty()) return;
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::trunc);
        out << json << '\n';
        if (!out) return;
    }
    std::filesystem::rename(tmp, path);
}

}  // namespace ecusim
