#include "app/console/capture_exchanges.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <span>

#include "protocol/framing.h"

namespace qx::console {

namespace {

namespace pc = platform::pcapng;
namespace fr = protocol::framing;
using bytes = std::vector<std::uint8_t>;
using protocol::wire_order;

std::uint16_t word(std::span<const std::uint8_t> b, std::size_t at, wire_order o) {
    return o == wire_order::big ? std::uint16_t(b[at] << 8 | b[at + 1]) : std::uint16_t(b[at + 1] << 8 | b[at]);
}

// One link's exchanges as its transfers come: a command opens one, its answer closes it.
class assembler {
public:
    assembler(std::uint32_t link, capture_reading& out) : link_(link), out_(out) {}

    // A command packet: the 8-byte header and the request.
    void command(std::span<const std::uint8_t> packet, std::uint64_t t, wire_order o) {
        end_open("no answer came before the next command");
        captured_exchange e;
        e.link = link_;
        e.sent_ns = t;
        e.order = o;
        e.command_type = word(packet, 0, o);
        const std::size_t announced = word(packet, 2, o);
        e.request.assign(packet.begin() + 8, packet.end());
        if (announced != e.request.size())
            e.note = "the command header announces " + std::to_string(announced) + " request bytes, " +
                     std::to_string(e.request.size()) + " followed";
        open_ = std::move(e);
        awaiting_ = 0;
        header_seen_ = false;
    }
    // The answer's header; the data announced follows in data().
    void answer_header(std::span<const std::uint8_t> header, std::uint64_t t) {
        if (!open_) {
            stray(header.size(), t);
            return;
        }
        open_->status = word(header, 4, open_->order);
        awaiting_ = word(header, 2, open_->order);
        header_seen_ = true;
        open_->answered_ns = t;
        if (awaiting_ == 0) close_answered();
    }
    void data(std::span<const std::uint8_t> b, std::uint64_t t) {
        if (!open_ || !header_seen_) {
            stray(b.size(), t);
            return;
        }
        open_->response.insert(open_->response.end(), b.begin(), b.end());
        open_->answered_ns = t;
        if (open_->response.size() >= awaiting_) {
            if (open_->response.size() > awaiting_) {
                add_note("the answer header announces " + std::to_string(awaiting_) + " bytes, " +
                         std::to_string(open_->response.size()) + " came");
                open_->response.resize(awaiting_);
            }
            close_answered();
        }
    }
    bool expects_header() const { return open_ && !header_seen_; }
    bool expects_data() const { return open_ && header_seen_; }
    void stray(std::size_t size, std::uint64_t t) {
        char text[160];
        std::snprintf(text, sizeof text, "%zu bytes from the ECU outside any exchange (link %u, at %llu ns)", size,
                      unsigned(link_), static_cast<unsigned long long>(t));
        out_.notes.push_back(text);
    }
    void note(const std::string& text) { out_.notes.push_back(text + " (link " + std::to_string(link_) + ")"); }
    void end_open(const std::string& why) {
        if (!open_) return;
        if (header_seen_)
            add_note("the answer ends after " + std::to_string(open_->response.size()) + " of its " +
                     std::to_string(awaiting_) + " bytes");
        else
            add_note(why);
        out_.exchanges.push_back(std::move(*open_));
        open_.reset();
    }

private:
    void add_note(const std::string& text) { open_->note += (open_->note.empty() ? "" : "; ") + text; }
    void close_answered() {
        open_->answered = true;
        out_.exchanges.push_back(std::move(*open_));
        open_.reset();
    }

    std::uint32_t link_;
    capture_reading& out_;
    std::optional<captured_exchange> open_;
    std::size_t awaiting_ = 0;
    bool header_seen_ = false;
};

// USB: one bulk transfer per packet.
void read_usb(const std::vector<const pc::packet*>& packets, assembler& a) {
    for (const pc::packet* p : packets) {
        const std::span<const std::uint8_t> b = p->data;
        if (p->dir == pc::direction::outbound) {
            if (b.size() == fr::usb_announcement_size && word(b, 0, wire_order::big) == fr::usb_announcement_type)
                continue;
            if (b.size() >= 8) a.command(b, p->time_ns, wire_order::big);
            else a.note("a " + std::to_string(b.size()) + "-byte packet to the ECU that is no command");
        } else if (a.expects_header()) {
            if (b.size() == 8) {
                a.answer_header(b, p->time_ns);
            } else {
                a.end_open("the answer header is " + std::to_string(b.size()) + " bytes, not 8");
            }
        } else {
            a.data(b, p->time_ns);
        }
    }
}

// Serial: bytes in both directions, the exchange's framing bytes around headers and data.
void read_serial(const std::vector<const pc::packet*>& packets, assembler& a) {
    wire_order order = wire_order::big;
    bytes command;        // a command being gathered
    std::size_t command_want = 8;
    bytes answer_header;  // an answer header being gathered
    bool ack_seen = false;
    for (const pc::packet* p : packets) {
        for (const std::uint8_t byte : p->data) {
            if (p->dir == pc::direction::outbound) {
                if (command.empty() && (byte == fr::serial_connection_request || byte == fr::serial_response_received))
                    continue;
                command.push_back(byte);
                if (command.size() == 8) command_want = 8 + word(command, 2, order);
                if (command.size() == command_want) {
                    a.command(command, p->time_ns, order);
                    command.clear();
                    command_want = 8;
                    ack_seen = false;
                    answer_header.clear();
                }
                continue;
            }
            if (a.expects_header()) {
                if (!ack_seen) {
                    if (byte == fr::serial_command_received) ack_seen = true;
                    else a.stray(1, p->time_ns);
                    continue;
                }
                answer_header.push_back(byte);
                if (answer_header.size() == 8) a.answer_header(answer_header, p->time_ns);
            } else if (a.expects_data()) {
                const std::uint8_t one[1] = {byte};
                a.data(one, p->time_ns);
            } else if (byte == fr::serial_host_order_answer) {
                order = wire_order::little;
            } else if (byte == fr::serial_connection_request) {
                order = wire_order::big;
            } else {
                a.stray(1, p->time_ns);
            }
        }
    }
    if (!command.empty()) a.note("a command cut short after " + std::to_string(command.size()) + " bytes");
}

// USB-CAN: ISO 15765-2 frames; each direction's packet is put together from its frames.
void read_can(const std::vector<const pc::packet*>& packets, assembler& a) {
    struct reassembly {
        bytes packet;
        std::size_t length = 0;
        std::uint8_t next = 1;
        bool active = false;
    };
    reassembly both[2];  // [0] to the ECU, [1] from it
    auto done = [&](bool outbound, const bytes& packet, std::uint64_t t) {
        if (packet.size() < 8) {
            a.note("a CAN packet of " + std::to_string(packet.size()) + " bytes, shorter than a header");
        } else if (outbound) {
            a.command(packet, t, wire_order::big);
        } else if (a.expects_header()) {
            a.answer_header(std::span(packet).first(8), t);
            if (packet.size() > 8) a.data(std::span(packet).subspan(8), t);
            else if (a.expects_data()) a.end_open("");
        } else {
            a.stray(packet.size(), t);
        }
    };
    for (const pc::packet* p : packets) {
        if (p->data.size() < pc::socketcan_frame_size) {
            a.note("a CAN frame record of " + std::to_string(p->data.size()) + " bytes");
            continue;
        }
        const bool outbound = p->dir == pc::direction::outbound;
        reassembly& r = both[outbound ? 0 : 1];
        const std::size_t length = std::min<std::size_t>(p->data[4], 8);
        const std::span<const std::uint8_t> d = std::span(p->data).subspan(8, length);
        if (d.empty()) continue;
        const std::uint8_t kind = d[0] >> 4;
        if (kind == fr::can_flow_control) continue;
        if (kind == fr::can_single_frame) {
            const std::size_t n = std::min<std::size_t>(d[0] & 0xF, d.size() - 1);
            done(outbound, bytes(d.begin() + 1, d.begin() + 1 + std::ptrdiff_t(n)), p->time_ns);
            r.active = false;
        } else if (kind == fr::can_first_frame && d.size() >= 2) {
            r.length = std::size_t(d[0] & 0xF) << 8 | d[1];
            r.packet.assign(d.begin() + 2, d.end());
            r.next = 1;
            r.active = true;
        } else if (kind == fr::can_consecutive_frame && r.active && (d[0] & 0xF) == (r.next & 0xF)) {
            r.packet.insert(r.packet.end(), d.begin() + 1, d.end());
            ++r.next;
        } else {
            a.note("a CAN frame out of its sequence");
            r.active = false;
            continue;
        }
        if (r.active && r.packet.size() >= r.length) {
            r.packet.resize(r.length);
            r.active = false;
            done(outbound, r.packet, p->time_ns);
        }
    }
}

// The simulator: each call's header and data, host order.
void read_simulator(const std::vector<const pc::packet*>& packets, assembler& a) {
    for (const pc::packet* p : packets) {
        const std::span<const std::uint8_t> b = p->data;
        if (b.size() < 8) {
            a.note("a " + std::to_string(b.size()) + "-byte simulator transfer, shorter than a header");
        } else if (p->dir == pc::direction::outbound) {
            a.command(b, p->time_ns, wire_order::little);
        } else if (a.expects_header()) {
            a.answer_header(b.first(8), p->time_ns);
            if (b.size() > 8) a.data(b.subspan(8), p->time_ns);
            else if (a.expects_data()) a.end_open("");
        } else {
            a.stray(b.size(), p->time_ns);
        }
    }
}

}  // namespace

std::string command_name_of(std::uint16_t command_type) {
    char text[16];
    if ((command_type & 0xFF00) != protocol::command_type_base) {
        std::snprintf(text, sizeof text, "0x%04X", unsigned(command_type));
        return text;
    }
    const unsigned code = command_type & 0xFF;
    if (code < protocol::commands.size()) return std::string(protocol::commands[code].name);
    return "COMMAND_" + std::to_string(code);
}

protocol::structure_ref structure_of(std::uint16_t command_type, bool response) {
    const unsigned code = command_type & 0xFF;
    if ((command_type & 0xFF00) != protocol::command_type_base || code >= protocol::commands.size())
        return {protocol::structure_ref::none, "NULL"};
    return response ? protocol::commands[code].response : protocol::commands[code].request;
}

capture_reading read_exchanges(const pc::capture& capture) {
    capture_reading out;
    std::map<std::uint32_t, std::vector<const pc::packet*>> by_link;
    for (const pc::packet& p : capture.packets) by_link[p.interface].push_back(&p);
    for (const auto& [link, packets] : by_link) {
        assembler a(link, out);
        switch (capture.interfaces[link].linktype) {
            case pc::linktype_usb_packets: read_usb(packets, a); break;
            case pc::linktype_serial_bytes: read_serial(packets, a); break;
            case pc::linktype_can_socketcan: read_can(packets, a); break;
            case pc::linktype_simulator: read_simulator(packets, a); break;
            default:
                a.note("link type " + std::to_string(capture.interfaces[link].linktype) + " is not one of Trelink's");
                continue;
        }
        a.end_open("no answer came");
    }
    std::stable_sort(out.exchanges.begin(), out.exchanges.end(),
                     [](const captured_exchange& x, const captured_exchange& y) { return x.sent_ns < y.sent_ns; });
    return out;
}

}  // namespace qx::console
