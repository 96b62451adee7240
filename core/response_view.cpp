#include "core/response_view.h"

#include "core/exception.h"

namespace qx {

void malformed_response() {
    throw connection_manager_exceptions::exception_communication_error("SendCommand failed");
}

response_array view_array(std::span<const std::uint8_t> block, std::size_t descriptor_at, std::size_t slot_at,
                          std::size_t fixed_size) {
    if (fixed_size > block.size() || descriptor_at + 3 > fixed_size || slot_at + 4 > fixed_size) malformed_response();
    response_array a;
    a.element_size = block[descriptor_at];
    a.count = (std::uint32_t(block[descriptor_at + 1]) << 8) | block[descriptor_at + 2];
    if (a.count == 0) return a;
    const std::uint64_t offset = load<std::uint32_t>(block, slot_at);
    const std::uint64_t length = std::uint64_t(a.count) * a.element_size;
    if (offset < fixed_size || offset > block.size() || length > block.size() - offset) malformed_response();
    a.bytes = block.subspan(std::size_t(offset), std::size_t(length));
    return a;
}

std::string text_of(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return {};
    const auto* p = reinterpret_cast<const char*>(bytes.data());
    return std::string(p, ::strnlen(p, bytes.size()));
}

}  // namespace qx
