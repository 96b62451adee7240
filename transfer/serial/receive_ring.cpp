#include "transfer/serial/receive_ring.h"

namespace qx::transfer::serial {

std::size_t receive_ring::waiting_locked() const {
    return read_index_ < write_index_ ? write_index_ - read_index_ - 1
                                      : write_index_ + (size - 1) - read_index_;
}

std::size_t receive_ring::waiting() const {
    std::lock_guard lock(mutex_);
    return waiting_locked();
}

std::size_t receive_ring::room() const {
    std::lock_guard lock(mutex_);
    return capacity - waiting_locked();
}

std::size_t receive_ring::append(const std::uint8_t* bytes, std::size_t count) {
    std::size_t taken = 0;
    {
        std::lock_guard lock(mutex_);
        for (; taken < count; ++taken) {
            if ((write_index_ + 1) % size == read_index_) break;  // full
            bytes_[write_index_] = bytes[taken];
            write_index_ = (write_index_ + 1) % size;
        }
    }
    if (taken) changed_.notify_all();
    return taken;
}

std::size_t receive_ring::take(std::uint8_t* into, std::size_t count) {
    std::size_t given = 0;
    {
        std::lock_guard lock(mutex_);
        for (; given < count; ++given) {
            const std::size_t next = (read_index_ + 1) % size;
            if (next == write_index_) break;  // empty
            into[given] = bytes_[next];
            read_index_ = next;
        }
    }
    if (given) changed_.notify_all();
    return given;
}

void receive_ring::empty() {
    {
        std::lock_guard lock(mutex_);
        read_index_ = 0;
        write_index_ = 1;
    }
    changed_.notify_all();
}

bool receive_ring::wait_for_waiting(std::size_t count, std::chrono::milliseconds timeout) const {
    if (count > capacity) return false;
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return waiting_locked() >= count; });
}

bool receive_ring::wait_for_room(std::stop_token stop) const {
    std::unique_lock lock(mutex_);
    return changed_.wait(lock, stop, [&] { return waiting_locked() < capacity; });
}

}  // namespace qx::transfer::serial
