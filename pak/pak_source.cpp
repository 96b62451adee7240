#include "pak/pak_source.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <new>
#include <string.h>  // explicit_bzero

namespace qx::pak_detail {

namespace {

// What is left of a read once the buffer is empty goes straight to its destination from this
// size on: a read of it takes its system call either way.
constexpr std::size_t direct_read = 16 * 1024;

}  // namespace

bool stream_is_open(const std::istream& stream) {
    auto* buffer = stream.rdbuf();
    if (!buffer) return false;
    if (auto* file = dynamic_cast<std::filebuf*>(buffer)) return file->is_open();
    return true;
}

read_buffer::~read_buffer() {
    if (!data_) return;
    ::explicit_bzero(data_.get(), used_);
    report_release(data_.get(), used_);
}

std::uint8_t* read_buffer::data() {
    if (!data_) data_.reset(new (std::nothrow) std::uint8_t[capacity_]);
    return data_.get();
}

pak_source::pak_source(std::istream& stream, read_buffer& buffer) : stream_(stream), buffer_(buffer) {
    stream_.clear();
    const std::streamoff start = stream_.tellg();
    if (start < 0) {
        stream_.clear();
        end_known_ = true;  // reads go on from wherever the stream stands; nothing can be sought
        return;
    }
    positioned_ = true;
    position_ = window_ = start;
}

void pak_source::find_end() {
    if (end_known_) return;
    end_known_ = true;
    stream_.clear();
    stream_.seekg(0, std::ios::end);
    const std::streamoff end = stream_.fail() ? -1 : std::streamoff(stream_.tellg());
    stream_.clear();
    if (end >= 0) end_ = end;
    moved_ = true;
}

std::uint64_t pak_source::remaining() {
    find_end();
    return end_ > position_ ? std::uint64_t(end_ - position_) : 0;
}

bool pak_source::seek(std::streamoff position) {
    if (!positioned_ || position < 0) return false;
    short_read_ = false;
    // Within what was read the position needs no system call; elsewhere the stream decides.
    if (position <= window_ + std::streamoff(held_) && !moved_) {
        position_ = position;
        return true;
    }
    stream_.clear();
    stream_.seekg(position);
    if (stream_.fail() || std::streamoff(stream_.tellg()) != position) return false;
    position_ = window_ = position;
    held_ = 0;
    moved_ = false;
    return true;
}

bool pak_source::stand_at_position() {
    if (!positioned_ || (!moved_ && window_ + std::streamoff(held_) == position_)) return true;
    stream_.clear();
    stream_.seekg(position_);
    if (stream_.fail()) return false;
    moved_ = false;
    window_ = position_;
    held_ = 0;
    return true;
}

bool pak_source::fill() {
    std::uint8_t* data = buffer_.data();
    if (!data || !stand_at_position()) return false;
    // Never asks beyond a known end: that read would only come back empty.
    const std::size_t want =
        end_known_ ? std::size_t(std::min<std::uint64_t>(buffer_.capacity(), remaining())) : buffer_.capacity();
    window_ = position_;
    held_ = 0;
    if (want == 0) return false;
    stream_.read(reinterpret_cast<char*>(data), std::streamsize(want));
    held_ = std::size_t(stream_.gcount());
    buffer_.used(held_);
    return held_ > 0;
}

std::span<const std::uint8_t> pak_source::next_piece(std::uint64_t want) {
    if (position_ < window_ || position_ >= window_ + std::streamoff(held_)) {
        if (!fill()) {
            short_read_ = true;
            return {};
        }
    }
    const auto offset = std::size_t(position_ - window_);
    const auto n = std::size_t(std::min<std::uint64_t>(want, held_ - offset));
    position_ += std::streamoff(n);
    return {buffer_.data() + offset, n};
}

bool pak_source::read(void* into, std::size_t size) {
    auto* out = static_cast<std::uint8_t*>(into);
    while (size > 0) {
        const bool buffered = position_ >= window_ && position_ < window_ + std::streamoff(held_);
        if (!buffered && size >= direct_read) {
            // Straight into the destination: a copy through the buffer would gain nothing.
            if (!stand_at_position()) {
                short_read_ = true;
                return false;
            }
            stream_.read(reinterpret_cast<char*>(out), std::streamsize(size));
            const auto got = std::size_t(stream_.gcount());
            position_ += std::streamoff(got);
            window_ = position_;
            held_ = 0;
            if (got == size) return true;
            short_read_ = true;
            return false;
        }
        const std::span<const std::uint8_t> piece = next_piece(size);
        if (piece.empty()) return false;
        std::memcpy(out, piece.data(), piece.size());
        out += piece.size();
        size -= piece.size();
    }
    return true;
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
    position_ = back;
    short_read_ = false;
    return false;
}

bool pak_source::next_is(std::uint32_t tag) {
    if (!take_tag(tag)) return false;
    position_ -= 4;
    return true;
}

bool pak_source::skip(std::uint64_t size) {
    return pass(size, [](std::span<const std::uint8_t>) {});
}

void pak_source::exhaust() {
    find_end();
    if (end_ != std::numeric_limits<std::streamoff>::max()) position_ = end_;
    held_ = 0;
    short_read_ = true;
    moved_ = true;
    settle();
}

void pak_source::settle() {
    if (short_read_) {
        stream_.clear();
        if (positioned_) stream_.seekg(position_);
        stream_.setstate(std::ios::failbit | std::ios::eofbit);
        moved_ = true;
        return;
    }
    if (!positioned_) return;
    if (!stream_.good()) moved_ = true;  // a read ahead met the end
    stand_at_position();
}

}  // namespace qx::pak_detail
