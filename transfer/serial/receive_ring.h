// The receive ring of the communication-functions link: 1000 bytes under one lock.
//
// The next byte to read is at read index + 1, the next free slot at the write index. Empty
// when (read + 1) mod 1000 == write, full when (write + 1) mod 1000 == read: at most 998
// bytes are held, and bytes appended to a full ring are dropped.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <stop_token>

namespace qx::transfer::serial {

class receive_ring {
public:
    static constexpr std::size_t size = 1000;
    static constexpr std::size_t capacity = size - 2;

    std::size_t waiting() const;
    std::size_t room() const;
    // The count taken in; the rest did not fit and is lost.
    std::size_t append(const std::uint8_t* bytes, std::size_t count);
    std::size_t take(std::uint8_t* into, std::size_t count);
    void empty();

    // True once at least `count` bytes are waiting; false after `timeout` (at once when
    // `count` exceeds the capacity: so many never fit).
    bool wait_for_waiting(std::size_t count, std::chrono::milliseconds timeout) const;
    // True once there is room; false when a stop was requested first.
    bool wait_for_room(std::stop_token stop) const;

private:
    std::size_t waiting_locked() const;

    mutable std::mutex mutex_;
    mutable std::condition_variable_any changed_;
    std::uint8_t bytes_[size]{};
    std::size_t read_index_ = 0;
    std::size_t write_index_ = 1;
};

}  // namespace qx::transfer::serial
