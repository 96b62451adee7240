// The body of a package: certificate, auxiliary data, key blocks and the encrypted image.
// The record owns its buffers and overwrites them with zeros before freeing them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace qx {

// A byte buffer of a 32-bit size that is zeroed over its size before it is freed.
class pak_buffer {
public:
    pak_buffer() = default;
    pak_buffer(const pak_buffer&) = delete;
    pak_buffer& operator=(const pak_buffer&) = delete;
    pak_buffer(pak_buffer&& other) noexcept;
    pak_buffer& operator=(pak_buffer&& other) noexcept;
    ~pak_buffer() { release(); }

    // Releases the old buffer, then allocates `size` bytes; false when that fails. Size 0
    // holds no buffer.
    [[nodiscard]] bool allocate(std::uint32_t size);
    void release();

    std::uint32_t size() const { return size_; }
    std::uint8_t* data() { return data_; }
    const std::uint8_t* data() const { return data_; }
    std::span<const std::uint8_t> bytes() const { return {data_, size_}; }

private:
    std::uint8_t* data_ = nullptr;
    std::uint32_t size_ = 0;
    std::size_t mapped_ = 0;  // a buffer of megabytes is a mapping of its own, of this length
};

// Called with each buffer just before it is freed (already zeroed), the readers' read buffers
// included; lets tests see what is left in released memory. nullptr switches it off.
using pak_buffer_release_observer = void (*)(const std::uint8_t* data, std::size_t size);
void set_pak_buffer_release_observer(pak_buffer_release_observer observer);

inline constexpr std::size_t pak_key_block_size = 128;
inline constexpr std::size_t pak_key_block_count = 5;
inline constexpr std::uint32_t pak_image_block_size = 2048;

struct pak_image {
    std::uint32_t layout = 0;  // 1 or 2 once a whole package passed its checksum
    pak_buffer certificate;    // DER bytes
    pak_buffer aux_data;
    std::array<std::array<std::uint8_t, pak_key_block_size>, pak_key_block_count> key_blocks{};
    pak_buffer image_data;  // a multiple of 2048 bytes

    pak_image() = default;
    pak_image(const pak_image&) = delete;
    pak_image& operator=(const pak_image&) = delete;
    pak_image(pak_image&&) noexcept = default;
    pak_image& operator=(pak_image&&) noexcept = default;
    ~pak_image() { release(); }

    // Zeroes and frees the buffers, zeroes the key blocks, layout 0.
    void release();
};

}  // namespace qx
