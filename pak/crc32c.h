// CRC-32C (Castagnoli): reflected polynomial 0x82F63B78, initial register 0xFFFFFFFF, final
// value inverted. The one checksum of both package formats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace qx {

inline constexpr std::uint32_t crc32c_polynomial = 0x82F63B78;

// Feeds bytes into a raw register (no inversion on either side), by the fastest of the paths
// below that the processor has. All of them give identical results.
std::uint32_t crc32c_update(std::uint32_t reg, const void* data, std::size_t size);

// Table-driven, eight bytes per step.
std::uint32_t crc32c_update_sliced(std::uint32_t reg, const void* data, std::size_t size);

// One byte at a time through the 256-entry table.
std::uint32_t crc32c_update_bytewise(std::uint32_t reg, const void* data, std::size_t size);

// The processor's CRC-32C instruction (x86-64 SSE4.2); false when there is none, and then
// neither routine below may be called. crc32c_update_hardware runs three independent streams
// and joins them, so the instruction's latency no longer bounds it; the one-stream routine is
// the plain chain of instructions it is measured against.
bool crc32c_hardware_available();
std::uint32_t crc32c_update_hardware(std::uint32_t reg, const void* data, std::size_t size);
std::uint32_t crc32c_update_hardware_one_stream(std::uint32_t reg, const void* data, std::size_t size);

// Carry-less multiplication folding 256 bytes per step (x86-64 with AVX-512 VPCLMULQDQ); false
// when the processor lacks it, and then the routine may not be called.
bool crc32c_folding_available();
std::uint32_t crc32c_update_folded(std::uint32_t reg, const void* data, std::size_t size);

// The CRC-32C of `bytes` continued from `crc`, a value in final form (0 for nothing yet).
inline std::uint32_t crc32c(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0) {
    return ~crc32c_update(~crc, bytes.data(), bytes.size());
}

}  // namespace qx
