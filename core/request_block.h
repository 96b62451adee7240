// Builds a request structure with counted arrays: a zeroed block, descriptors set, arrays
// laid out behind the fixed part and their bytes copied to where the layout put them.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "protocol/defines.h"
#include "protocol/layout.h"

namespace qx {

class request_block {
public:
    explicit request_block(std::string_view structure);

    std::uint8_t* data() { return block_.data(); }
    template <class T>
    T* as() {
        return reinterpret_cast<T*>(block_.data());
    }
    // Sets the descriptor at `descriptor_at` and remembers the bytes for lay_out.
    void set_array(std::size_t descriptor_at, std::uint8_t element_size, std::span<const std::uint8_t> elements);
    // Lays the arrays out and copies their bytes; the request size. A request too large for
    // one exchange throws exception_argument.
    std::uint16_t lay_out();

private:
    struct pending {
        std::size_t slot_at;
        std::span<const std::uint8_t> bytes;
    };
    const protocol::structure_layout* layout_;
    std::array<std::uint8_t, protocol::MAX_TRANSFERSTRUCTS_SIZE> block_{};
    std::vector<pending> arrays_;
};

}  // namespace qx
