#include "pak/pak_image.h"

#include "pak/pak_source.h"

#include <atomic>
#include <new>
#include <string.h>  // explicit_bzero
#include <utility>

namespace qx {

namespace {

std::atomic<pak_buffer_release_observer> release_observer{nullptr};

}  // namespace

void set_pak_buffer_release_observer(pak_buffer_release_observer observer) { release_observer = observer; }

void pak_detail::report_release(const std::uint8_t* data, std::size_t size) {
    if (auto observer = release_observer.load()) observer(data, size);
}

pak_buffer::pak_buffer(pak_buffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

pak_buffer& pak_buffer::operator=(pak_buffer&& other) noexcept {
    if (this != &other) {
        release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

bool pak_buffer::allocate(std::uint32_t size) {
    release();
    if (size == 0) return true;
    data_ = new (std::nothrow) std::uint8_t[size];
    if (!data_) return false;
    size_ = size;
    return true;
}

void pak_buffer::release() {
    if (data_) {
        ::explicit_bzero(data_, size_);
        pak_detail::report_release(data_, size_);
        delete[] data_;
    }
    data_ = nullptr;
    size_ = 0;
}

void pak_image::release() {
    layout = 0;
    certificate.release();
    aux_data.release();
    for (auto& block : key_blocks) ::explicit_bzero(block.data(), block.size());
    image_data.release();
}

}  // namespace qx
