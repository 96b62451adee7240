// The machine-readable description of the whole protocol, written into a dynamic_map from the
// structure catalogue and the command table.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <span>
#include <string_view>

#include "protocol/dynamic_map.h"

namespace qx::protocol {

// Writes the seven sections (defines, structs, commands, flash_tags, item_types_by_name,
// item_types_by_number, item_structs_by_number) into `root`; returns the number of entries.
std::size_t build_description(dynamic_map& root);

// The same, but only the entries whose key path starts with `prefix` (a numbered key is
// matched by its decimal text): the subtree at that path is the one of the whole description,
// and the nodes on the way are there. Returns the number of entries written.
std::size_t build_description(dynamic_map& root, std::span<const std::string_view> prefix);

// The description, built at its first use and then kept unchanged: whoever never reads it
// never pays for it. Safe to read from several threads.
class lazy_description {
public:
    const dynamic_map& operator*() const { return tree(); }
    const dynamic_map* operator->() const { return &tree(); }
    // Whether it has been built.
    bool built() const { return built_.load(std::memory_order_acquire); }

private:
    const dynamic_map& tree() const;

    mutable std::once_flag once_;
    mutable std::atomic<bool> built_{false};
    mutable dynamic_map tree_;
};

}  // namespace qx::protocol
