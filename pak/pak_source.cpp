#include "pak/pak_source.h"

#include <algorithm>
#include <array>
#include <fstream>

namespace qx::pak_detail {

bool stream_is_open(const std::istream& stream) {
    auto* buffer = stream.rdbuf();
    if (!buffer) return false;
    if (auto* file = dynamic_cast<std::filebuf*>(buffer)) return file->is_open();
    return true;
}

pak_source::pak_source(std::istream& stream, std::streamoff position) : stream_(stream) {
    stream_.clear();
    stream_.seekg(position);
    if (stream_.fail() || std::streamoff(stream_.tellg()) != position) return;
    positioned_ = true;
    position_ = position;
    stream_.seekg(0, std::ios::end);
    const std::streamoff end = stream_.fail() ? -1 : std::streamoff(stream_.tellg());
    if (end >= 0) end_ = end;
    stream_.clear();
    stream_.seekg(position);
    if (stream_.fail()) positioned_ = false;
}

std::uint64_t pak_source::remaining() const {
    return end_ > position_ ? std::uint64_t(end_ - position_) : 0;
}

bool pak_source::read(void* into, std::size_t size) {
    if (size == 0) return true;
    stream_.read(static_cast<char*>(into), std::streamsize(size));
    const auto got = stream_.gcount();
    position_ += got;
    return std::size_t(got) == size;
}

bool pak_source::read_word(std::uint32_t& word) {
    std::uint8_t b[4];
    if (!read(b, sizeof b)) return false;
    word = load_le32(b);
    return true;
}

bool pak_source::take_tag(std::uint32_t tag) {
    const std::streamoff back = position_;
    std::uint32_t word = 0;
    if (read_word(word) && word == tag) return true;
    stream_.clear();
    stream_.seekg(back);
    position_ = back;
    return false;
}

bool pak_source::skip(std::uint64_t size) {
    std::array<char, 4096> piece;
    while (size > 0) {
        const auto n = std::size_t(std::min<std::uint64_t>(size, piece.size()));
        if (!read(piece.data(), n)) return false;
        size -= n;
    }
    return true;
}

void pak_source::exhaust() {
    stream_.seekg(0, std::ios::end);
    const std::streampos end = stream_.tellg();
    if (end != std::streampos(-1)) position_ = std::streamoff(end);
    stream_.setstate(std::ios::failbit | std::ios::eofbit);
}

}  // namespace qx::pak_detail
