// Exact reads from a binary input stream, for the package readers. Knows how many bytes
// remain, so a size word can be checked against the file before anything is allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ios>
#include <istream>
#include <limits>

namespace qx::pak_detail {

// Whether the stream has a source: a file stream must have its file open.
bool stream_is_open(const std::istream& stream);

class pak_source {
public:
    // Clears the stream's state and seeks to `position`; `positioned()` tells whether the
    // stream then stands there.
    pak_source(std::istream& stream, std::streamoff position);

    bool positioned() const { return positioned_; }
    std::streamoff position() const { return position_; }
    // Bytes between the position and the end of the stream (as large as can be when the
    // stream cannot tell its end).
    std::uint64_t remaining() const;

    // Exactly `size` bytes, or false (the stream then stands wherever the short read left it).
    bool read(void* into, std::size_t size);
    // A little-endian word, or false.
    bool read_word(std::uint32_t& word);
    // Reads 4 bytes: true when they are `tag`; otherwise the stream goes back to where it was.
    bool take_tag(std::uint32_t tag);
    // Reads and drops `size` bytes in pieces; false when fewer remain.
    bool skip(std::uint64_t size);
    // Leaves the stream as a read past its end would: at the end, failed.
    void exhaust();

private:
    std::istream& stream_;
    std::streamoff position_ = 0;
    std::streamoff end_ = std::numeric_limits<std::streamoff>::max();
    bool positioned_ = false;
};

inline std::uint32_t load_le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

}  // namespace qx::pak_detail
