#include "pak/pak_file.h"

#include <array>
#include <cstring>
#include <fstream>

#include "pak/crc32c.h"
#include "pak/pak_source.h"

namespace qx {

namespace {

using pak_detail::pak_source;

constexpr std::array<std::string_view, 6> type_names = {
    "Firmware", "Fixed Model", "Dynamic Model", "Boot Module", "Power Control Module", "Play Back Module"};

[[noreturn]] void invalid() { throw pak_file::exception_invalid("Pak file invalid."); }

// One package read: the stream, the checksum register and the two records being filled.
class package_reader {
public:
    package_reader(pak_file& header, pak_image& image, std::istream& stream, std::streamoff position)
        : header_(header), image_(image), source_(stream, position) {
        if (!source_.positioned())
            throw pak_file::exception_out_of_bounds("Position in file is invalid.");
    }

    void layout1_header() {
        serial_number();
        header_.author = text(fed_word(), 1, pak_author_max);
        header_.image_type = fed_word();
        if (optional_tag(pak_tag::VERS)) header_.version = fed_word();
        header_.date = text(fed_word(), pak_date_min, pak_date_max);
        if (optional_tag(pak_tag::DESC)) description();
        if (optional_tag(pak_tag::CSUM)) checksum_value();
        header_.body_position = source_.position();
        header_.layout = 1;
    }

    void layout2_header() {
        chunk_scan(pak_tag::PVER);
        serial_number();
        header_.author = text(fed_word(), 1, pak_author_max);
        header_.image_type = fed_word();
        header_.version = fed_word();
        header_.date = text(fed_word(), pak_date_min, pak_date_max);
        chunk_scan(pak_tag::CSUM);
        header_.layout = 2;
    }

    void body() {
        buffer(image_.certificate);
        buffer(image_.aux_data);
        fed_word();  // reserved
        for (auto& block : image_.key_blocks) {
            if (fed_word() != pak_key_block_size) invalid();
            bytes(block.data(), block.size());
        }
        const std::uint32_t image_size = word();
        if (image_size % pak_image_block_size != 0) invalid();
        feed_word(image_size);
        sized_buffer(image_.image_data, image_size);
        if (header_.has_checksum && header_.running_checksum != header_.stored_checksum)
            throw pak_file::exception_invalid("Pak file checksum error.");
        image_.layout = header_.layout;
    }

private:
    void feed(const void* data, std::size_t size) {
        reg_ = crc32c_update(reg_, data, size);
        header_.running_checksum = ~reg_;
    }
    void feed_word(std::uint32_t w) {
        const std::uint8_t b[4] = {std::uint8_t(w), std::uint8_t(w >> 8), std::uint8_t(w >> 16), std::uint8_t(w >> 24)};
        feed(b, sizeof b);
    }

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
        feed(into, size);
    }

    // A text of `length` bytes, checked against its limits; it ends at its first zero byte.
    std::string text(std::uint32_t length, std::uint32_t min, std::uint32_t max) {
        if (length < min || length > max) invalid();
        char buffer[pak_date_max];
        bytes(buffer, length);
        return std::string(buffer, ::strnlen(buffer, length));
    }

    void serial_number() {
        char serial[pak_serial_size];
        bytes(serial, sizeof serial);
        header_.serial_number.assign(serial, ::strnlen(serial, sizeof serial));
    }

    bool optional_tag(std::uint32_t tag) {
        if (!source_.take_tag(tag)) return false;
        feed_word(tag);
        return true;
    }

    void description() { header_.description = text(fed_word(), 1, pak_description_max); }

    // The stored value counts as four zero bytes.
    void checksum_value() {
        feed_word(0);
        header_.stored_checksum = word();
        header_.has_checksum = true;
    }

    void chunk_scan(std::uint32_t wanted) {
        for (;;) {
            if (fed_word() != pak_tag::FLAG) invalid();
            const std::uint32_t sub_tag = fed_word();
            const std::uint32_t length = fed_word();
            switch (sub_tag) {
            case pak_tag::PVER: fed_word(); break;
            case pak_tag::FLSH:
                header_.flash_word_0 = fed_word();
                header_.flash_word_1 = fed_word();
                break;
            case pak_tag::DESC: description(); break;
            case pak_tag::CSUM: checksum_value(); break;
            default:
                if (!source_.skip(length)) invalid();  // unknown content: not checksummed
                break;
            }
            if (sub_tag == wanted) return;
        }
    }

    void buffer(pak_buffer& into) { sized_buffer(into, fed_word()); }

    void sized_buffer(pak_buffer& into, std::uint32_t size) {
        // A size beyond the end of the file cannot be read: refuse it before allocating, and
        // leave the stream as the short read would have.
        if (size > source_.remaining()) {
            source_.exhaust();
            invalid();
        }
        if (!into.allocate(size)) throw pak_file::exception_out_of_memory("Cannot allocate enough memory.");
        bytes(into.data(), size);
    }

    pak_file& header_;
    pak_image& image_;
    pak_source source_;
    std::uint32_t reg_ = 0xFFFFFFFF;  // raw CRC-32C register; the first byte starts from the initial value
};

void begin(pak_file& header, std::istream& stream, pak_image& image) {
    image.release();
    header.reset();
    if (!pak_detail::stream_is_open(stream)) throw pak_file::exception_file_not_found("File not opened.");
}

std::ifstream open_package(const std::string& path, pak_file& header, pak_image& image) {
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        image.release();
        header.reset();
        throw pak_file::exception_file_not_found("Cannot open pak file '" + path + "'.");
    }
    return file;
}

}  // namespace

std::string_view image_type_name(std::uint32_t code) {
    return code < type_names.size() ? type_names[code] : std::string_view{};
}

std::string_view image_type_display_name(std::uint32_t code) {
    if (code == 3) return "Boot Loader";
    return code < 3 ? type_names[code] : std::string_view{};
}

void pak_file::reset() { *this = pak_file{}; }

void pak_file::read_layout1(std::istream& stream, std::streamoff position, pak_image& image) {
    begin(*this, stream, image);
    package_reader reader(*this, image, stream, position);
    reader.layout1_header();
    reader.body();
}

void pak_file::read_layout2(std::istream& stream, std::streamoff position, pak_image& image) {
    begin(*this, stream, image);
    package_reader reader(*this, image, stream, position);
    reader.layout2_header();
    reader.body();
}

void pak_file::load_layout1(const std::string& path, pak_image& image) {
    std::ifstream file = open_package(path, *this, image);
    read_layout1(file, 0, image);
}

void pak_file::load_layout2(const std::string& path, pak_image& image) {
    std::ifstream file = open_package(path, *this, image);
    read_layout2(file, 0, image);
}

}  // namespace qx
