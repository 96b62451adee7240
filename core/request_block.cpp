#include "core/request_block.h"

#include <stdexcept>

#include "core/exception.h"
#include "protocol/status.h"

namespace qx {

namespace {
using cm = connection_manager_exceptions;
}

request_block::request_block(std::string_view structure) : layout_(protocol::find_layout(structure)) {
    if (!layout_) throw std::logic_error("no such structure");
}

void request_block::set_array(std::size_t descriptor_at, std::uint8_t element_size,
                              std::span<const std::uint8_t> elements) {
    const std::size_t count = element_size ? elements.size() / element_size : 0;
    if (count > 0xFFFF) throw cm::exception_argument("Request too large");
    const protocol::array_placement* placement = nullptr;
    for (const auto& a : layout_->arrays)
        if (a.element_size_at == descriptor_at) placement = &a;
    if (!placement) throw std::logic_error("no array descriptor there");
    protocol::set_descriptor(block_.data() + descriptor_at, element_size, std::uint16_t(count));
    arrays_.push_back({placement->slot_at, elements.first(count * element_size)});
}

std::uint16_t request_block::lay_out() {
    // An empty array is no failure: the structure is complete without its elements.
    if (protocol::set_pointers(*layout_, block_.data(), block_.size()) == protocol::TS_LAYOUT_ERROR)
        throw cm::exception_argument("Request too large");
    for (const pending& a : arrays_) {
        if (a.bytes.empty()) continue;
        std::uint32_t offset;
        std::memcpy(&offset, block_.data() + a.slot_at, sizeof offset);
        std::memcpy(block_.data() + offset, a.bytes.data(), a.bytes.size());
    }
    const std::uint16_t size = protocol::transfer_size(*layout_, block_.data(), block_.size());
    if (size == 0 || size > block_.size()) throw cm::exception_argument("Request too large");
    return size;
}

}  // namespace qx
