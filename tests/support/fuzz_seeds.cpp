// Writes the seed corpora of the fuzz targets that no program already writes: fuzz_seeds DIR
// makes DIR/<target>/<name> for the structure layouts (one per catalogue entry and per
// configuration item type), raw log disks, core dumps, host transfers to the virtual ECU,
// USB-CAN and USB exchanges, response views, receive ring runs, station records, exchange
// traces and captures of every link. Packages, groups and certificates
// come from `ecusim make-packages` (scripts/fuzz.sh --seed).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "app/console/ecu_record.h"
#include "ecusim/raw_log_disk.h"
#include "imagetool/core_dump_file.h"
#include "platform/capture/pcapng.h"
#include "protocol/commands.h"
#include "protocol/layout.h"

namespace {

namespace fs = std::filesystem;
using bytes = std::vector<std::uint8_t>;
using namespace qx::protocol;

fs::path root;

void seed(const std::string& target, const std::string& name, const bytes& b) {
    fs::create_directories(root / target);
    std::ofstream(root / target / name, std::ios::binary).write(reinterpret_cast<const char*>(b.data()),
                                                                  std::streamsize(b.size()));
}

void put16be(bytes& b, std::uint16_t v) {
    b.push_back(std::uint8_t(v >> 8));
    b.push_back(std::uint8_t(v));
}

// A structure laid out with two 4-byte elements in each array, trimmed to its transfer size.
bytes laid_out(const structure_layout& l, std::uint8_t cfgitem_type = 0) {
    bytes block(l.fixed_size + 16 * l.arrays.size() + 16, 0);
    if (l.fixed_size > cfgitem_type_offset) block[cfgitem_type_offset] = cfgitem_type;
    for (const array_placement& a : l.arrays) set_descriptor(block.data() + a.element_size_at, 4, 2);
    set_pointers(l, block.data(), block.size());
    const std::uint16_t n = transfer_size(l, block.data(), block.size());
    if (n && n <= block.size()) block.resize(n);
    for (std::size_t i = l.fixed_size; i < block.size(); ++i) block[i] = std::uint8_t(i);
    return block;
}

void layouts() {
    const auto& all = all_layouts();
    for (std::size_t i = 0; i < all.size() && i < 256; ++i) {
        bytes b{std::uint8_t(i)};
        const bytes block = laid_out(all[i]);
        b.insert(b.end(), block.begin(), block.end());
        seed("fuzz_layout", all[i].name, b);
    }
    std::set<std::string> items;
    for (unsigned type = 0; type < 256; ++type) {
        const structure_layout& l = cfgitem_layout(std::uint8_t(type));
        if (!items.insert(l.name).second) continue;
        bytes b{0xFF};
        const bytes block = laid_out(l, std::uint8_t(type));
        b.insert(b.end(), block.begin(), block.end());
        seed("fuzz_layout", "cfgitem_" + l.name, b);
    }
}

void raw_disks() {
    std::vector<ecusim::raw_file> files(2);
    files[0].data.assign(1500, 0x41);
    files[1].data.assign(300, 0x42);
    files[1].open = true;
    for (auto o : {ecusim::byte_order::big, ecusim::byte_order::little}) {
        bytes b{std::uint8_t(o == ecusim::byte_order::little)};  // the target's host-order flag
        const bytes disk = ecusim::build_raw_disk(files, 2, o);
        b.insert(b.end(), disk.begin(), disk.end());
        seed("fuzz_raw_log_disk", o == ecusim::byte_order::big ? "two_files_ecu_order" : "two_files_host_order", b);
    }
}

void core_dumps() {
    qx::imagetool::core_dump d;
    d.serial_number = {0x1A, 0x2B, 0x3C, 0x4D};
    d.time = 1700000000;
    d.prepare_answer = {0, 0, 0, 2};
    qx::imagetool::core_dump_section flash{0x80000000, bytes(64, 0xFF), bytes(64, 0x5A)};
    flash.blank_map[3] = 0;
    d.sections = {flash, {0x20000000, {}, bytes(40, 0x11)}};
    seed("fuzz_core_dump_file", "two_sections", qx::imagetool::write_core_dump(d));
}

// One transfer in the wire target's framing: 2-byte little-endian length, then the bytes.
void frame(bytes& out, const bytes& transfer) {
    out.push_back(std::uint8_t(transfer.size()));
    out.push_back(std::uint8_t(transfer.size() >> 8));
    out.insert(out.end(), transfer.begin(), transfer.end());
}

// Every command once, its request laid out and in ECU order, announced when longer than 32
// bytes; and the same on the simulator's direct call in host order.
void ecusim_wire() {
    for (const command_info& c : commands) {
        bytes request;
        if (c.request.kind == structure_ref::structure)
            if (const structure_layout* l = find_layout(c.request.name)) {
                request = laid_out(*l);
                convert(*l, request.data(), request.size());
            }
        bytes packet;
        put16be(packet, command_type(c.code));
        put16be(packet, std::uint16_t(request.size()));
        put16be(packet, 4096);
        put16be(packet, 0);
        packet.insert(packet.end(), request.begin(), request.end());
        bytes usb{0};
        if (packet.size() > 32) {
            bytes announcement(32, 0);
            announcement[0] = 0xCD;
            announcement[1] = 0x07;
            announcement[2] = std::uint8_t(request.size() >> 8);
            announcement[3] = std::uint8_t(request.size());
            frame(usb, announcement);
        }
        frame(usb, packet);
        seed("fuzz_ecusim_wire", "usb_" + std::string(c.name), usb);
    }
    // The dictionary: every command type as it lies on the wire and in host order.
    std::ofstream dict(root / "fuzz_ecusim_wire.dict");
    dict << "# Command types of the command table, written by fuzz_seeds.\n";
    char line[64];
    for (const command_info& c : commands) {
        const unsigned type = command_type(c.code);
        std::snprintf(line, sizeof line, "\"\\x%02X\\x%02X\"\n\"\\x%02X\\x%02X\"\n", type >> 8, type & 0xFF,
                      type & 0xFF, type >> 8);
        dict << line;
    }
    bytes direct{1};
    frame(direct, {0x00, 0xCD, 0x00, 0x10});
    seed("fuzz_ecusim_wire", "direct_first_command", direct);
}

// The exchange of an n-byte command answered by an r-byte response, as the target reads it.
void usbcan_exchange(std::uint16_t n, std::uint16_t r, std::uint8_t block_size, const std::string& name) {
    bytes b{std::uint8_t(n), std::uint8_t(n >> 8), 0x00, 0x01};  // a 256-byte buffer
    auto frame_of = [&b](std::initializer_list<std::uint8_t> d) {
        b.push_back(8);
        bytes data(d);
        data.resize(8, 0);
        b.insert(b.end(), data.begin(), data.end());
    };
    b.push_back(0);
    frame_of({0x30, block_size});
    b.push_back(0);
    const std::uint16_t length = std::uint16_t(8 + r);
    frame_of({std::uint8_t(0x10 | length >> 8), std::uint8_t(length), 0xCD, 0x4F, std::uint8_t(r >> 8), std::uint8_t(r), 0, 0});
    const std::size_t frames = length / 7;
    b.push_back(std::uint8_t(frames ? frames - 1 : 0));
    for (std::size_t k = 1; k <= frames; ++k) frame_of({std::uint8_t(0x20 | (k & 0xF)), 1, 2, 3, 4, 5, 6, 7});
    seed("fuzz_usbcan_link", name, b);
}

void response_views() {
    // fixed size 12, descriptor at 4, slot at 8, load at 8; then the block: 3 two-byte elements
    bytes b{12, 0, 4, 8, 8, 0};
    const bytes block{0, 0, 0, 0, 2, 0, 3, 0, 12, 0, 0, 0, 'a', 'b', 'c', 0, 'e', 'f'};
    b.insert(b.end(), block.begin(), block.end());
    seed("fuzz_response_view", "three_elements", b);
    seed("fuzz_response_view", "empty_array", {8, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
}

void serial_ring() {
    seed("fuzz_serial_ring", "fill_take_wrap", {0, 200, 1, 100, 0, 200, 1, 250, 0, 50, 2, 0, 0, 10, 1, 2});
}

// The ECU's bytes for one serial exchange as the target reads them: shape, room (its top bit:
// the communication-functions link), then the acknowledgement, the response header in the
// line's order and r data bytes.
void serial_exchange(bool host_order, std::uint8_t n, std::uint16_t room, std::uint16_t r, std::uint8_t ack,
                     const std::string& name) {
    bytes b{std::uint8_t(n << 1 | (host_order ? 1 : 0)), std::uint8_t(room), std::uint8_t(room >> 8), ack};
    const std::uint16_t words[4] = {0xCD4F, r, 0, 0};
    for (std::uint16_t w : words) {
        if (host_order) {
            b.push_back(std::uint8_t(w));
            b.push_back(std::uint8_t(w >> 8));
        } else {
            put16be(b, w);
        }
    }
    for (std::uint16_t i = 0; i < r; ++i) b.push_back(std::uint8_t(i));
    seed("fuzz_serial_link", name, b);
}

// The device's messages for one USB exchange as the target reads them: shape (command size,
// code), room, then the response header and r data bytes in messages of at most 4096 bytes,
// each after its length less one.
void usb_exchange(std::uint8_t n, std::uint16_t room, std::uint16_t r, const std::string& name) {
    bytes b{n, std::uint8_t(room), std::uint8_t(room >> 8)};
    const auto message = [&b](const bytes& m) {
        b.push_back(std::uint8_t(m.size() - 1));
        b.push_back(std::uint8_t((m.size() - 1) >> 8));
        b.insert(b.end(), m.begin(), m.end());
    };
    bytes header;
    for (std::uint16_t w : {std::uint16_t(0xCD4F), r, std::uint16_t(0), std::uint16_t(0)}) put16be(header, w);
    message(header);
    for (std::uint16_t at = 0; at < r; at = std::uint16_t(at + std::min(r - at, 4096))) {
        bytes piece(std::min(r - at, 4096));
        for (std::size_t i = 0; i < piece.size(); ++i) piece[i] = std::uint8_t(at + i);
        message(piece);
    }
    seed("fuzz_usb_link", name, b);
}

// Station records: a successful update with its images, a failed program, an ECU that never
// answered.
void records() {
    qx::console::ecu_record updated;
    updated.begin("update");
    updated.device = "1-2.3";
    updated.serial_number = "0A0B0C0D";
    updated.target_mode = "boot";
    updated.firmware_version = 0x01020304;
    updated.images = {{"Firmware", "Firmware", "Velmar Service", "2024-03-01 12:00:00 UTC", 7, 4096, 0x12345678},
                      {"Fixed Model", "Fixed Model", "Velmar Service", "2024-03-01 12:00:00 UTC", 7, 2048, 0x9ABCDEF0}};
    updated.finish(true, "Update Success! (100%)");
    qx::console::ecu_record failed;
    failed.begin("program");
    failed.serial_number = "0A0B0C0D";
    failed.target_mode = "boot";
    failed.images = {{"Firmware", "firmware.pak", "Velmar Service", "2024-03-01 12:00:00 UTC", {}, {}, {}}};
    failed.finish(false, "Could not connect:\nThe specified interface is not connected");
    qx::console::ecu_record mute;
    mute.begin("update");
    mute.finish(false, "No ECU answered after 12 connection attempts.");
    const auto text = [](const std::string& s) { return bytes(s.begin(), s.end()); };
    seed("fuzz_ecu_record", "updated", text(qx::console::record_line(updated) + "\n"));
    seed("fuzz_ecu_record", "failed", text(qx::console::record_line(failed) + "\n"));
    seed("fuzz_ecu_record", "three_ecus",
         text(qx::console::record_line(updated) + "\n" + qx::console::record_line(failed) + "\n" +
              qx::console::record_line(mute) + "\n"));
}

// Exchange traces as the library writes them: a line per exchange, tab-separated.
void traces() {
    std::string all;
    unsigned us = 100;
    for (const command_info& c : commands) {
        char line[160];
        std::snprintf(line, sizeof line, "2024-03-01T12:00:00.%03uZ\t%s\t%u\t%u\t%08x\t%u\n", us % 1000,
                      std::string(c.name).c_str(), 8u, 64u, 0u, us);
        all += line;
        us += 37;
    }
    seed("fuzz_trace_show", "every_command", bytes(all.begin(), all.end()));
    const std::string one = "2024-03-01T12:00:00.000Z\tGET_TARGET_VERSION\t0\t8\t00000000\t120\n";
    seed("fuzz_trace_show", "one_exchange", bytes(one.begin(), one.end()));
}

}  // namespace

// One GET_TARGET_VERSION and one SECURITY_COMMAND as each link's capture holds them.
void captures() {
    namespace pc = qx::platform::pcapng;
    struct transfer {
        bool out;
        bytes b;
    };
    const auto header = [](std::uint16_t a, std::uint16_t b, std::uint16_t c, bool big) {
        bytes h;
        for (const std::uint16_t w : {a, b, c, std::uint16_t(0)}) {
            if (big) put16be(h, w);
            else h.insert(h.end(), {std::uint8_t(w), std::uint8_t(w >> 8)});
        }
        return h;
    };
    const auto structure = [](const char* name, bool big) {
        bytes b = laid_out(*find_layout(name));
        if (big) convert(*find_layout(name), b.data(), b.size());
        return b;
    };
    const auto packet = [](bytes h, const bytes& data) {
        h.insert(h.end(), data.begin(), data.end());
        return h;
    };
    const auto write = [](const std::string& name, std::uint16_t linktype, const std::vector<transfer>& transfers) {
        const fs::path file = fs::temp_directory_path() / ("fuzz-seed-" + name + ".pcapng");
        fs::remove(file);
        int error = 0;
        auto w = pc::writer::create(file.string(), "fuzz_seeds", error);
        std::uint32_t id = 0;
        w->add_interface({linktype, "link", "Trelink", "fuzz_seeds"}, id);
        std::uint64_t t = 1700000000000000000u;
        for (const transfer& x : transfers)
            w->add_packet(id, t += 1000, x.out ? pc::direction::outbound : pc::direction::inbound, x.b.data(), x.b.size());
        w.reset();
        std::ifstream in(file, std::ios::binary);
        seed("fuzz_capture_reader", name, bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
        fs::remove(file);
    };
    for (const bool big : {true, false}) {
        const bytes request = structure("Security_BlockRequest_DTS", big);
        const bytes answer = structure("GenericStatusStringResponse_DTS", big);
        const bytes command = packet(header(0xCD06, std::uint16_t(request.size()), 4088, big), request);
        const bytes response = packet(header(0xCD06, std::uint16_t(answer.size()), 0, big), answer);
        const bytes version = header(0xCD00, 0, 8, big), version_answer = packet(header(0xCD00, 8, 0, big), bytes(8, 3));
        if (big) {
            bytes announcement;
            put16be(announcement, 0xCD07);
            put16be(announcement, std::uint16_t(request.size()));
            announcement.resize(32, 0);
            write("usb", pc::linktype_usb_packets,
                  {{true, version}, {false, bytes(version_answer.begin(), version_answer.begin() + 8)},
                   {false, bytes(version_answer.begin() + 8, version_answer.end())}, {true, announcement}, {true, command},
                   {false, bytes(response.begin(), response.begin() + 8)}, {false, bytes(response.begin() + 8, response.end())}});
            // ISO 15765-2 frames of each packet, with the other side's flow control between.
            const auto frames = [](const bytes& p, bool out, std::vector<transfer>& into) {
                const auto frame = [&](const bytes& data) {
                    bytes f(16, 0);
                    const std::uint32_t id = (out ? 0x16666666u : 0x16666667u) | pc::socketcan_extended_flag;
                    for (int i = 0; i < 4; ++i) f[std::size_t(i)] = std::uint8_t(id >> (24 - 8 * i));
                    f[4] = 8;
                    std::copy(data.begin(), data.end(), f.begin() + 8);
                    return f;
                };
                into.push_back({out, frame({std::uint8_t(0x10 | p.size() >> 8), std::uint8_t(p.size()), p[0], p[1], p[2], p[3], p[4], p[5]})});
                into.push_back({!out, frame({0x30, 0, 0, 0, 0, 0, 0, 0})});
                for (std::size_t at = 6, k = 1; at < p.size(); at += 7, ++k) {
                    bytes d{std::uint8_t(0x20 | (k & 0xF))};
                    for (std::size_t i = at; i < at + 7; ++i) d.push_back(i < p.size() ? p[i] : 0);
                    into.push_back({out, frame(d)});
                }
            };
            std::vector<transfer> can;
            for (const auto& [p, out] : {std::pair{version, true}, {version_answer, false}, {command, true}, {response, false}})
                frames(p, out, can);
            write("usb_can", pc::linktype_can_socketcan, can);
        } else {
            write("simulator", pc::linktype_simulator, {{true, version}, {false, version_answer}, {true, command}, {false, response}});
        }
        write(big ? "serial_big_endian" : "serial_host_order", pc::linktype_serial_bytes,
              {{true, {0xC5}}, {false, {std::uint8_t(big ? 0xC5 : 0xCC)}}, {true, version}, {false, {0xCD}},
               {false, version_answer}, {true, {0xDC}}, {true, command}, {false, {0xCD}}, {false, response},
               {true, {0xDC}}});
    }
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: fuzz_seeds DIR\n";
        return 2;
    }
    root = argv[1];
    layouts();
    raw_disks();
    core_dumps();
    ecusim_wire();
    usbcan_exchange(0, 0, 0, "empty_command_empty_answer");
    usbcan_exchange(40, 20, 2, "short_command_block_size_2");
    usbcan_exchange(300, 120, 0, "long_command_long_answer");
    usbcan_exchange(4000, 0, 8, "command_too_large");
    response_views();
    serial_ring();
    serial_exchange(false, 0, 8, 8, 0xCD, "target_version_big_endian");
    serial_exchange(true, 0, 8, 8, 0xCD, "target_version_host_order");
    serial_exchange(false, 40, 256, 0, 0xCD, "command_with_data_empty_answer");
    serial_exchange(false, 4, 16, 64, 0xCD, "answer_larger_than_the_room");
    serial_exchange(true, 0, 8, 8, 0xCC, "wrong_acknowledgement");
    serial_exchange(true, 0, 0x8000 | 8, 8, 0xCD, "wincomm_target_version");
    serial_exchange(true, 4, 0x8000 | 16, 64, 0xCD, "wincomm_answer_larger_than_the_room");
    captures();
    usb_exchange(0, 8, 8, "target_version");
    usb_exchange(40, 256, 0, "announced_command_empty_answer");
    usb_exchange(4, 16, 64, "answer_larger_than_the_room");
    usb_exchange(1, 6000, 5000, "answer_in_two_messages");
    records();
    traces();
    return 0;
}
