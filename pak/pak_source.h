// Exact reads from a binary input stream, for the package readers, through one read buffer.
// Knows how many bytes remain, so a size word can be checked against the file before anything
// is allocated. A group open passes every package through the same source and buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ios>
#include <istream>
#include <limits>
#include <memory>
#include <span>

namespace qx {
class pak_file;
struct pak_body_sizes;
}  // namespace qx

namespace qx::pak_detail {

// Whether the stream has a source: a file stream must have its file open.
bool stream_is_open(const std::istream& stream);

// Hands a zeroed buffer about to be freed to the release observer (pak_image.h).
void report_release(const std::uint8_t* data, std::size_t size);

// The bytes a source reads ahead into, allocated at its first use. Every byte it ever held is
// overwritten with zeros before it is freed.
class read_buffer {
public:
    static constexpr std::size_t default_capacity = 128 * 1024;
    // Large files are read in pieces of this size: at 128 KiB the system calls of a 64 MB group
    // cost about as much again as copying its bytes.
    static constexpr std::size_t large_capacity = 1024 * 1024;
    static constexpr std::uint64_t large_file = 8 * 1024 * 1024;

    explicit read_buffer(std::size_t capacity = default_capacity) : capacity_(capacity) {}
    read_buffer(const read_buffer&) = delete;
    read_buffer& operator=(const read_buffer&) = delete;
    ~read_buffer();

    // Null when it cannot be allocated.
    std::uint8_t* data();
    std::size_t capacity() const { return capacity_; }
    // Before the first use: the large capacity for a read of `size` bytes from `large_file` on.
    void fit(std::uint64_t size) {
        if (!data_ && size >= large_file) capacity_ = large_capacity;
    }
    // Marks the first `size` bytes as having held data.
    void used(std::size_t size) { used_ = size > used_ ? size : used_; }

private:
    std::unique_ptr<std::uint8_t[]> data_;
    std::size_t capacity_;
    std::size_t used_ = 0;
};

class pak_source {
public:
    // Clears the stream's state and stands at the stream's current position; the stream's end
    // is learned when it is first needed. `positioned()` is false when the stream cannot tell
    // where it is.
    pak_source(std::istream& stream, read_buffer& buffer);

    bool positioned() const { return positioned_; }
    // False when the read buffer cannot be allocated.
    bool has_buffer() { return buffer_.data() != nullptr; }
    // Where the next read starts; -1 when the stream cannot tell.
    std::streamoff position() const { return positioned_ ? position_ : -1; }
    // Moves the next read to `position`: false when the stream cannot stand there.
    bool seek(std::streamoff position);
    // Bytes between the position and the end of the stream (as large as can be when the
    // stream cannot tell its end).
    std::uint64_t remaining();

    // Exactly `size` bytes, or false (the position then stands after the bytes that were there).
    bool read(void* into, std::size_t size);
    // A little-endian word, or false.
    bool read_word(std::uint32_t& word);
    // True when the next 4 bytes are `tag`, and then they are read; otherwise nothing is read.
    bool take_tag(std::uint32_t tag);
    // True when the next 4 bytes are `tag`; nothing is read either way.
    bool next_is(std::uint32_t tag);
    // Reads and drops `size` bytes; false when fewer remain.
    bool skip(std::uint64_t size);
    // Hands the next `size` bytes to `consume` in pieces straight from the read buffer; false
    // when fewer remain (what there was has been handed over).
    template <typename Consume>
    bool pass(std::uint64_t size, Consume&& consume) {
        while (size > 0) {
            const std::span<const std::uint8_t> piece = next_piece(size);
            if (piece.empty()) return false;
            consume(piece);
            size -= piece.size();
        }
        return true;
    }
    // Leaves the stream as a read past its end would: at the end, failed.
    void exhaust();
    // Puts the stream where the next read would start (the reader reads ahead of it); at the
    // end of the stream and failed after a short read, as a read of the stream itself would.
    void settle();

private:
    // Up to `want` bytes at the position from the read buffer, filling it when it holds none;
    // the position moves past them. Empty at the end of the stream.
    std::span<const std::uint8_t> next_piece(std::uint64_t want);
    // Refills the buffer from the position; false when nothing more could be read.
    bool fill();
    // Moves the stream to the position when it stands elsewhere; false when it cannot.
    bool stand_at_position();

    std::istream& stream_;
    read_buffer& buffer_;
    std::streamoff position_ = 0;
    // Learns the end of the stream, once.
    void find_end();

    std::streamoff end_ = std::numeric_limits<std::streamoff>::max();
    bool end_known_ = false;
    // The buffer holds the stream's bytes [window_, window_ + held_); the stream stands at
    // window_ + held_ unless `moved_` says that it was moved elsewhere.
    std::streamoff window_ = 0;
    std::size_t held_ = 0;
    bool moved_ = false;
    bool positioned_ = false;
    bool short_read_ = false;  // a read found fewer bytes than it asked for
};

// pak_file::check_layout1 / check_layout2 (`layout` 1 or 2) on a source that a caller reads
// further, such as a group whose packages all pass through one read buffer.
void check_package(pak_file& header, pak_source& source, std::streamoff position, int layout, pak_body_sizes& sizes);

inline std::uint32_t load_le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

}  // namespace qx::pak_detail
