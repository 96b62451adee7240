// The serial links' receive ring against a plain queue, driven by arbitrary operations: each
// byte picks one (append k bytes, take k bytes, empty) with k from the next byte. The ring
// must hold at most its capacity, drop what does not fit, and give back bytes in order.
#include <cstdint>
#include <deque>
#include <vector>

#include "transfer/serial/receive_ring.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using qx::transfer::serial::receive_ring;
    static receive_ring ring;  // 1000 bytes and a lock: one for all inputs, emptied each time
    ring.empty();
    std::deque<std::uint8_t> model;
    std::vector<std::uint8_t> buffer(receive_ring::size * 2);
    for (std::size_t at = 0; at + 1 < size; at += 2) {
        const std::size_t k = std::size_t(data[at + 1]) * 5;  // up to 1275: past the capacity
        switch (data[at] % 3) {
        case 0: {
            for (std::size_t i = 0; i < k; ++i) buffer[i] = std::uint8_t(data[at] + i);
            const std::size_t taken = ring.append(buffer.data(), k);
            if (taken != std::min(k, receive_ring::capacity - model.size())) __builtin_trap();
            model.insert(model.end(), buffer.begin(), buffer.begin() + std::ptrdiff_t(taken));
            break;
        }
        case 1: {
            const std::size_t given = ring.take(buffer.data(), k);
            if (given != std::min(k, model.size())) __builtin_trap();
            for (std::size_t i = 0; i < given; ++i, model.pop_front())
                if (buffer[i] != model.front()) __builtin_trap();
            break;
        }
        default:
            ring.empty();
            model.clear();
        }
        if (ring.waiting() != model.size() || ring.room() != receive_ring::capacity - model.size()) __builtin_trap();
    }
    return 0;
}
