#include "pak/pak_group_file.h"

#include <cstring>
#include <fstream>
#include <utility>

#include "pak/crc32c.h"
#include "pak/pak_source.h"

namespace qx {

namespace {

[[noreturn]] void invalid() { throw pak_group_file::exception_invalid("Pak group file invalid."); }

// The group's own fields, read through the same source as its packages.
class group_reader {
public:
    explicit group_reader(pak_detail::pak_source& source) : source_(source) {}

    std::uint32_t word() {
        std::uint32_t w = 0;
        if (!source_.read_word(w)) invalid();
        return w;
    }
    std::uint32_t fed_word() {
        const std::uint32_t w = word();
        feed_word(w);
        return w;
    }
    void bytes(void* into, std::size_t size) {
        if (!source_.read(into, size)) invalid();
    }
    std::string text(std::size_t length) {
        char buffer[pak_group_name_max];
        bytes(buffer, length);
        return std::string(buffer, ::strnlen(buffer, length));
    }

    void feed(const void* data, std::size_t size) { reg_ = crc32c_update(reg_, data, size); }
    void feed_word(std::uint32_t w) {
        const std::uint8_t b[4] = {std::uint8_t(w), std::uint8_t(w >> 8), std::uint8_t(w >> 16), std::uint8_t(w >> 24)};
        feed(b, sizeof b);
    }
    std::uint32_t checksum() const { return ~reg_; }

private:
    pak_detail::pak_source& source_;
    std::uint32_t reg_ = 0xFFFFFFFF;
};

// Reads the embedded package at `position`, layout 2 first; false when it is invalid in both.
// A package whose first word is no "GALF" fails layout 2 at that word: it is read as layout 1
// at once, without the throw.
bool read_package(pak_detail::pak_source& source, std::streamoff position, pak_file& header, pak_body_sizes& body) {
    try {
        if (source.next_is(pak_tag::FLAG)) {
            pak_detail::check_package(header, source, position, 2, body);
            return true;
        }
    } catch (const pak_file::exception_invalid&) {
    }
    try {
        pak_detail::check_package(header, source, position, 1, body);
        return true;
    } catch (const pak_file::exception_invalid&) {
        return false;
    }
}

}  // namespace

pak_group_file::pak_group_file(std::string requested_serial_number)
    : requested_serial(std::move(requested_serial_number)) {}

void pak_group_file::forget() {
    loaded = false;
    declared_count = 0;
    entries.clear();
    path.clear();
    serial_number.clear();
}

void pak_group_file::open(const std::string& file_path) {
    forget();
    std::ifstream file;
    file.rdbuf()->pubsetbuf(nullptr, 0);  // every byte passes through the reader's own buffer
    file.open(file_path, std::ios::binary);
    if (!file.is_open()) throw exception_file_not_found("Pak group file not found.");
    load(file);
    path = file_path;
}

void pak_group_file::read(std::istream& stream) {
    forget();
    load(stream);
}

void pak_group_file::load(std::istream& stream) {
    if (!pak_detail::stream_is_open(stream)) throw exception_file_not_found("Group file not found.");
    // One read buffer for the whole file: the group's fields and every package pass through it.
    pak_detail::read_buffer buffer;
    pak_detail::pak_source source(stream, buffer);
    buffer.fit(source.remaining());
    if (!source.has_buffer()) throw pak_file::exception_out_of_memory("Cannot allocate enough memory.");
    group_reader in(source);
    for (std::uint32_t magic : {pak_group_tag::MAGIC_1, pak_group_tag::MAGIC_2, pak_group_tag::MAGIC_3,
                                pak_group_tag::MAGIC_4})
        if (in.fed_word() != magic) invalid();

    std::string group_serial;
    std::uint32_t word = in.fed_word();
    if (word == pak_group_tag::SERIAL) {
        char serial[pak_serial_size];
        in.bytes(serial, sizeof serial);
        in.feed(serial, sizeof serial);
        group_serial.assign(serial, ::strnlen(serial, sizeof serial));
        word = in.fed_word();
    }
    if (word == pak_group_tag::CSUM) {
        in.feed_word(0);  // the stored value counts as zeros
        const std::uint32_t stored = in.word();
        word = in.fed_word();
        if (in.checksum() != stored) throw exception_invalid("Pak group file checksum invalid.");
    }
    const std::uint32_t count = word;
    if (count == 0 || count > pak_group_max_entries) invalid();

    std::vector<pak_group_entry> accepted;
    for (std::uint32_t i = 0; i < count; ++i) {
        pak_group_entry e;
        const std::uint32_t name_length = in.word();
        if (name_length == 0 || name_length > pak_group_name_max) invalid();
        e.name = in.text(name_length);
        e.entry_type = in.word();
        e.entry_word = in.word();
        e.package_position = source.position();
        if (!read_package(source, e.package_position, e.header, e.body)) continue;  // dropped
        if (group_serial.empty()) group_serial = e.header.serial_number;
        if (e.entry_type != e.header.image_type) invalid();
        if (e.header.serial_number != group_serial) invalid();
        accepted.push_back(std::move(e));
    }

    declared_count = count;
    entries = std::move(accepted);
    serial_number = std::move(group_serial);
    loaded = true;
}

const pak_group_entry& pak_group_file::entry(std::size_t index) const {
    if (index >= entries.size()) throw exception_out_of_bounds("Requested pak file location invalid.");
    return entries[index];
}

}  // namespace qx
