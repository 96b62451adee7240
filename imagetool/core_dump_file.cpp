#include "imagetool/core_dump_file.h"

#include <algorithm>

#include "pak/crc32c.h"
#include "protocol/defines.h"

namespace qx::imagetool {

namespace {

// Fixed part before the prepare answer; per section, the part before its blank map.
constexpr std::size_t header_size = 28;
constexpr std::size_t section_header_size = 12;
constexpr std::size_t crc_size = 4;
// The ECU's dump section table has 14 entries; its answers are at most 4088 bytes.
constexpr std::uint32_t max_sections = 14;
constexpr std::uint32_t max_prepare_answer = protocol::MAX_TRANSFERSTRUCTS_SIZE;

void put(std::vector<std::uint8_t>& out, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(std::uint8_t(v >> (8 * i)));
}

std::uint64_t get(std::span<const std::uint8_t> in, std::size_t at, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | in[at + std::size_t(i)];
    return v;
}

[[noreturn]] void damaged(const std::string& why) { throw core_dump_file_error("damaged core dump file: " + why); }

// A cursor over the file's bytes without its CRC; every take is checked against what is left.
class cursor {
public:
    explicit cursor(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t number(int size, const char* what) { return get(take(std::size_t(size), what), 0, size); }
    std::span<const std::uint8_t> take(std::uint64_t n, const char* what) {
        if (n > bytes_.size() - at_)
            damaged(std::string(what) + " needs " + std::to_string(n) + " bytes, " + std::to_string(bytes_.size() - at_) +
                    " are left");
        const auto part = bytes_.subspan(at_, std::size_t(n));
        at_ += std::size_t(n);
        return part;
    }
    std::size_t left() const { return bytes_.size() - at_; }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

std::string hex8(std::uint32_t v) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s(8, '0');
    for (int i = 7; i >= 0; --i, v >>= 4) s[std::size_t(i)] = digits[v & 0xF];
    return s;
}

}  // namespace

std::vector<std::uint8_t> write_core_dump(const core_dump& dump) {
    if (dump.sections.size() > max_sections) throw core_dump_file_error("a core dump holds at most 14 sections");
    if (dump.prepare_answer.size() > max_prepare_answer) throw core_dump_file_error("prepare answer longer than 4088 bytes");
    std::size_t total = header_size + dump.prepare_answer.size() + crc_size;
    for (const auto& s : dump.sections) {
        if (!s.blank_map.empty() && s.blank_map.size() != s.data.size())
            throw core_dump_file_error("the blank map of section " + hex8(s.address) + " does not cover its bytes");
        if (s.data.size() > 0xFFFFFFFFu) throw core_dump_file_error("section " + hex8(s.address) + " is over 4 GB");
        total += section_header_size + s.blank_map.size() + s.data.size();
    }
    std::vector<std::uint8_t> out;
    out.reserve(total);
    put(out, protocol::QXDUMP_TAG, 4);
    put(out, core_dump_format_version, 2);
    put(out, 0, 2);
    out.insert(out.end(), dump.serial_number.begin(), dump.serial_number.end());
    put(out, std::uint64_t(dump.time), 8);
    put(out, dump.sections.size(), 4);
    put(out, dump.prepare_answer.size(), 4);
    out.insert(out.end(), dump.prepare_answer.begin(), dump.prepare_answer.end());
    for (const auto& s : dump.sections) {
        put(out, s.address, 4);
        put(out, s.data.size(), 4);
        put(out, s.blank_map.size(), 4);
        out.insert(out.end(), s.blank_map.begin(), s.blank_map.end());
        out.insert(out.end(), s.data.begin(), s.data.end());
    }
    put(out, crc32c(out), 4);
    return out;
}

core_dump read_core_dump(std::span<const std::uint8_t> file) {
    if (file.size() < 4) throw core_dump_file_error("not a core dump file: " + std::to_string(file.size()) + " bytes");
    const auto tag = std::uint32_t(get(file, 0, 4));
    if (tag == protocol::QXDUMP_TAG_SWAPPED) throw core_dump_file_error("not a core dump file: its tag is in the other byte order");
    if (tag != protocol::QXDUMP_TAG) throw core_dump_file_error("not a core dump file: tag " + hex8(tag));
    if (file.size() < header_size + crc_size) damaged("shorter than its header (" + std::to_string(file.size()) + " bytes)");
    const auto body = file.first(file.size() - crc_size);
    const auto stored = std::uint32_t(get(file, body.size(), 4));
    if (const std::uint32_t computed = crc32c(body); computed != stored)
        damaged("CRC-32C " + hex8(computed) + " does not match the stored " + hex8(stored));

    cursor c(body);
    c.take(4, "the tag");
    if (const auto version = c.number(2, "the format version"); version != core_dump_format_version)
        throw core_dump_file_error("core dump file format version " + std::to_string(version) + " is not supported");
    if (c.number(2, "the reserved field") != 0) damaged("the reserved field is not 0");
    core_dump dump;
    const auto serial = c.take(4, "the serial number");
    std::copy(serial.begin(), serial.end(), dump.serial_number.begin());
    dump.time = std::int64_t(c.number(8, "the time"));
    const auto sections = c.number(4, "the section count");
    if (sections > max_sections) damaged(std::to_string(sections) + " sections (at most 14)");
    const auto answer_size = c.number(4, "the prepare answer's length");
    if (answer_size > max_prepare_answer) damaged("a prepare answer of " + std::to_string(answer_size) + " bytes");
    const auto answer = c.take(answer_size, "the prepare answer");
    dump.prepare_answer.assign(answer.begin(), answer.end());
    for (std::uint64_t i = 0; i < sections; ++i) {
        core_dump_section s;
        s.address = std::uint32_t(c.number(4, "a section's address"));
        const auto size = c.number(4, "a section's size");
        const auto map_size = c.number(4, "a section's blank map length");
        if (map_size != 0 && map_size != size)
            damaged("section " + hex8(s.address) + " has a blank map of " + std::to_string(map_size) + " bytes for " +
                    std::to_string(size));
        const auto map = c.take(map_size, "a blank map");
        if (std::any_of(map.begin(), map.end(), [](std::uint8_t b) { return b != 0x00 && b != 0xFF; }))
            damaged("the blank map of section " + hex8(s.address) + " holds bytes other than 00 and FF");
        const auto data = c.take(size, "a section's bytes");
        s.blank_map.assign(map.begin(), map.end());
        s.data.assign(data.begin(), data.end());
        dump.sections.push_back(std::move(s));
    }
    if (c.left() != 0) damaged(std::to_string(c.left()) + " bytes after the last section");
    return dump;
}

double blank_share(std::span<const std::uint8_t> blank_map) {
    if (blank_map.empty()) return 0;
    return double(std::count(blank_map.begin(), blank_map.end(), std::uint8_t(0))) / double(blank_map.size());
}

}  // namespace qx::imagetool
