// The raw log disk: 512-byte logical blocks holding a disk header, then the files, each a file
// header followed by groups of a block header and its data blocks.
#pragma once

#include <cstdint>
#include <vector>

#include "ecusim/ecu_config.h"
#include "ecusim/wire.h"

namespace ecusim {

inline constexpr std::size_t raw_block_size = 512;
inline constexpr std::uint16_t raw_disk_mark = 0xDEAD;
inline constexpr std::uint16_t raw_file_mark = 0xBEEF;
inline constexpr std::uint16_t raw_block_mark = 0xD065;

// The whole disk image with its 32-bit header fields in the given order. A file's data goes
// in groups of at most group_blocks data blocks; the last group's size says how many of its
// bytes belong to the file.
bytes build_raw_disk(const std::vector<raw_file>& files, std::uint32_t group_blocks, byte_order o);

}  // namespace ecusim
