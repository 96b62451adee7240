#include "pak/pak_image.h"

#include "pak/pak_source.h"

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
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
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapped_(std::exchange(other.mapped_, 0)) {}

pak_buffer& pak_buffer::operator=(pak_buffer&& other) noexcept {
    if (this != &other) {
        release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        mapped_ = std::exchange(other.mapped_, 0);
    }
    return *this;
}

namespace {

constexpr std::size_t huge_page = 2 * 1024 * 1024;

// `length` bytes (whole pages) at a 2 MiB boundary; its whole 2 MiB pieces may be backed by huge
// pages (an image of 64 MB then costs 32 page faults instead of 16,384), the rest by small ones,
// so it holds no more memory than its bytes need. Null when there is no room for it.
std::uint8_t* map_huge(std::size_t length) {
    void* p = ::mmap(nullptr, length + huge_page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t aligned = (start + huge_page - 1) & ~std::uintptr_t(huge_page - 1);
    if (aligned > start) ::munmap(p, aligned - start);
    if (const std::uintptr_t end = aligned + length; end < start + length + huge_page)
        ::munmap(reinterpret_cast<void*>(end), start + length + huge_page - end);
    ::madvise(reinterpret_cast<void*>(aligned), length & ~(huge_page - 1), MADV_HUGEPAGE);  // a hint; fine without
    return reinterpret_cast<std::uint8_t*>(aligned);
}

}  // namespace

bool pak_buffer::allocate(std::uint32_t size) {
    release();
    if (size == 0) return true;
    if (size >= huge_page) {
        const auto page = std::size_t(::sysconf(_SC_PAGESIZE));
        const std::size_t length = (std::size_t(size) + page - 1) / page * page;
        data_ = map_huge(length);
        if (data_) mapped_ = length;
    } else {
        data_ = new (std::nothrow) std::uint8_t[size];
    }
    if (!data_) return false;
    size_ = size;
    return true;
}

void pak_buffer::release() {
    if (data_) {
        ::explicit_bzero(data_, size_);
        pak_detail::report_release(data_, size_);
        if (mapped_) ::munmap(data_, mapped_);
        else delete[] data_;
    }
    data_ = nullptr;
    size_ = 0;
    mapped_ = 0;
}

void pak_image::release() {
    layout = 0;
    certificate.release();
    aux_data.release();
    for (auto& block : key_blocks) ::explicit_bzero(block.data(), block.size());
    image_data.release();
}

}  // namespace qx
