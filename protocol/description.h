// The machine-readable description of the whole protocol, written into a dynamic_map from the
// structure catalogue and the command table.
#pragma once

#include <cstddef>

#include "protocol/dynamic_map.h"

namespace qx::protocol {

// Writes the seven sections (defines, structs, commands, flash_tags, item_types_by_name,
// item_types_by_number, item_structs_by_number) into `root`; returns the number of entries.
std::size_t build_description(dynamic_map& root);

}  // namespace qx::protocol
