#include "pak/pak_file.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <string.h>  // explicit_bzero

#include "pak/crc32c.h"
#include "pak/pak_source.h"

namespace qx {

namespace {

using pak_detail::pak_source;

constexpr std::array<std::string_view, 6> type_names = {
    "Firmware", "Fixed Model", "Dynamic Model", "Boot Module", "Power Control Module", "Play Back Module"};

[[noreturn]] void invalid() { throw pak_file::exception_invalid("Pak file invalid."); }
[[noreturn]] void out_of_memory() { throw pak_file::exception_out_of_memory("Cannot allocate enough memory."); }

// Bodies that are kept are read straight into their buffers in pieces of this size, and each
// piece is checksummed while it is still in the cache.
constexpr std::size_t piece_size = pak_detail::read_buffer::default_capacity;

// One package read: the source, the checksum register and the records being filled. Without
// an image record the body is checksummed in the source's read buffer and only its sizes are
// kept.
class package_reader {
public:
    package_reader(pak_file& header, pak_image* image, pak_body_sizes& sizes, pak_source& source,
                   std::streamoff position)
        : header_(header), image_(image), sizes_(sizes), source_(source) {
        if (!source_.seek(position)) throw pak_file::exception_out_of_bounds("Position in file is invalid.");
        if (!source_.has_buffer()) out_of_memory();
    }
    package_reader(const package_reader&) = delete;
    package_reader& operator=(const package_reader&) = delete;

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
        sizes_.certificate = fed_word();
        body_buffer(image_ ? &image_->certificate : nullptr, sizes_.certificate);
        sizes_.aux_data = fed_word();
        body_buffer(image_ ? &image_->aux_data : nullptr, sizes_.aux_data);
        fed_word();  // reserved
        for (std::size_t i = 0; i < pak_key_block_count; ++i) {
            if (fed_word() != pak_key_block_size) invalid();
            if (image_)
                bytes(image_->key_blocks[i].data(), pak_key_block_size);
            else
                pass(pak_key_block_size);
        }
        const std::uint32_t image_size = word();
        if (image_size % pak_image_block_size != 0) invalid();
        feed_word(image_size);
        sizes_.image_data = image_size;
        body_buffer(image_ ? &image_->image_data : nullptr, image_size);
        if (header_.has_checksum && header_.running_checksum != header_.stored_checksum)
            throw pak_file::exception_invalid("Pak file checksum error.");
        if (image_) image_->layout = header_.layout;
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

    // A body buffer of `size` bytes: into `into`, or checksummed in the read buffer when it is null.
    void body_buffer(pak_buffer* into, std::uint32_t size) {
        if (!into) return pass(size);
        // A size beyond the end of the file cannot be read: refuse it before allocating, and
        // leave the stream as the short read would have.
        if (size > source_.remaining()) {
            source_.exhaust();
            invalid();
        }
        if (!into->allocate(size)) out_of_memory();
        for (std::size_t done = 0; done < size; done += piece_size)
            bytes(into->data() + done, std::min<std::size_t>(piece_size, size - done));
    }

    // Reads and checksums `size` bytes in the read buffer. As with every read, bytes that do
    // not all arrive are not fed.
    void pass(std::size_t size) {
        std::uint32_t reg = reg_;
        if (!source_.pass(size, [&reg](std::span<const std::uint8_t> piece) {
                reg = crc32c_update(reg, piece.data(), piece.size());
            }))
            invalid();
        reg_ = reg;
        header_.running_checksum = ~reg_;
    }

    pak_file& header_;
    pak_image* image_;
    pak_body_sizes& sizes_;
    pak_source& source_;
    std::uint32_t reg_ = 0xFFFFFFFF;  // raw CRC-32C register; the first byte starts from the initial value
};

void clear(pak_image& image) { image.release(); }
void clear(pak_body_sizes& sizes) { sizes = {}; }

template <typename Body>
void begin(pak_file& header, std::istream& stream, Body& body) {
    clear(body);
    header.reset();
    if (!pak_detail::stream_is_open(stream)) throw pak_file::exception_file_not_found("File not opened.");
}

pak_image* image_record(pak_image& image) { return &image; }
pak_image* image_record(pak_body_sizes&) { return nullptr; }
pak_body_sizes& sizes_record(pak_image&, pak_body_sizes& scratch) { return scratch; }
pak_body_sizes& sizes_record(pak_body_sizes& sizes, pak_body_sizes&) { return sizes; }

template <typename Body>
void read_from(pak_file& header, pak_source& source, std::streamoff position, Body& body, int layout) {
    pak_body_sizes scratch;
    package_reader reader(header, image_record(body), sizes_record(body, scratch), source, position);
    if (layout == 1)
        reader.layout1_header();
    else
        reader.layout2_header();
    reader.body();
}

// Leaves the stream where the package's reading stopped, whichever way it ends.
class settled_source {
public:
    explicit settled_source(std::istream& stream) : source_(stream, buffer_) {}
    settled_source(const settled_source&) = delete;
    settled_source& operator=(const settled_source&) = delete;
    ~settled_source() { source_.settle(); }
    pak_source& source() { return source_; }

private:
    pak_detail::read_buffer buffer_;
    pak_source source_;
};

template <typename Body>
void read_package(pak_file& header, std::istream& stream, std::streamoff position, Body& body, int layout) {
    begin(header, stream, body);
    settled_source settled(stream);
    read_from(header, settled.source(), position, body, layout);
}

template <typename Body>
void load_package(pak_file& header, const std::string& path, Body& body, int layout) {
    std::ifstream file;
    file.rdbuf()->pubsetbuf(nullptr, 0);  // every byte passes through the reader's own buffer
    file.open(path, std::ios::binary);
    if (!file.is_open()) {
        clear(body);
        header.reset();
        throw pak_file::exception_file_not_found("Cannot open pak file '" + path + "'.");
    }
    read_package(header, file, 0, body, layout);
}

}  // namespace

void pak_detail::check_package(pak_file& header, pak_source& source, std::streamoff position, int layout,
                               pak_body_sizes& sizes) {
    sizes = {};
    header.reset();
    read_from(header, source, position, sizes, layout);
}

std::string_view image_type_name(std::uint32_t code) {
    return code < type_names.size() ? type_names[code] : std::string_view{};
}

std::string_view image_type_display_name(std::uint32_t code) {
    if (code == 3) return "Boot Loader";
    return code < 3 ? type_names[code] : std::string_view{};
}

void pak_file::reset() { *this = pak_file{}; }

void pak_file::read_layout1(std::istream& stream, std::streamoff position, pak_image& image) {
    read_package(*this, stream, position, image, 1);
}
void pak_file::read_layout2(std::istream& stream, std::streamoff position, pak_image& image) {
    read_package(*this, stream, position, image, 2);
}
void pak_file::check_layout1(std::istream& stream, std::streamoff position, pak_body_sizes& sizes) {
    read_package(*this, stream, position, sizes, 1);
}
void pak_file::check_layout2(std::istream& stream, std::streamoff position, pak_body_sizes& sizes) {
    read_package(*this, stream, position, sizes, 2);
}

void pak_file::load_layout1(const std::string& path, pak_image& image) { load_package(*this, path, image, 1); }
void pak_file::load_layout2(const std::string& path, pak_image& image) { load_package(*this, path, image, 2); }
void pak_file::check_file_layout1(const std::string& path, pak_body_sizes& sizes) { load_package(*this, path, sizes, 1); }
void pak_file::check_file_layout2(const std::string& path, pak_body_sizes& sizes) { load_package(*this, path, sizes, 2); }

}  // namespace qx
