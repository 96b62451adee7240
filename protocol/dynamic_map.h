// One node of a tree of named or numbered children: a map, a text or a number.
// Children are kept in index order: named children in the order they were first created,
// numbered children under their number. A named child keeps its own name; the parent's name
// table refers to it, so each name is stored once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qx {

class dynamic_map;

// The names of a node's children, sorted by name, each with the child's index.
class dynamic_map_names {
public:
    struct entry {
        std::string_view name;
        std::uint32_t index;
        dynamic_map* node;
    };

    // The index of a name; throws std::out_of_range when there is none.
    std::uint32_t at(std::string_view name) const;
    const entry* find(std::string_view name) const;
    bool empty() const { return entries_.empty(); }
    std::size_t size() const { return entries_.size(); }
    void clear() { entries_.clear(); }
    bool operator==(const dynamic_map_names& other) const;

private:
    friend class dynamic_map;
    std::vector<entry>::iterator lower_bound(std::string_view name);
    std::vector<entry> entries_;
};

class dynamic_map {
public:
    enum : std::int32_t { kind_map = 0, kind_text = 1, kind_number = 2 };

    dynamic_map_names names;
    // In index order.
    std::vector<std::pair<std::uint32_t, std::unique_ptr<dynamic_map>>> children;
    std::string text;
    std::uint32_t number = 0;
    std::uint32_t next_index = 0;
    std::int32_t kind = kind_number;

    dynamic_map() = default;
    dynamic_map(const dynamic_map&) = delete;
    dynamic_map& operator=(const dynamic_map&) = delete;
    ~dynamic_map();

    // The child of that name or number, created empty when missing. A node that is not a map
    // is cleared first and becomes one.
    dynamic_map& child(std::string_view name);
    dynamic_map& child(std::uint32_t index);

    // Clears the node first when it is of another kind.
    void assign(std::string_view value);
    void assign(std::uint32_t value);
    void clear();

    // Lookups that never create: nullptr when there is no such child.
    const dynamic_map* find(std::string_view name) const;
    const dynamic_map* find(std::uint32_t index) const;
    // The name of the child at an index; empty for a numbered child.
    std::string_view name_of(std::uint32_t index) const;

    bool operator==(const dynamic_map& other) const;

private:
    using child_list = std::vector<std::pair<std::uint32_t, std::unique_ptr<dynamic_map>>>;
    void become_map();
    child_list::const_iterator index_position(std::uint32_t index) const;
    dynamic_map& insert_child(std::uint32_t index);

    std::string name_;  // as the parent's child; empty for a numbered child
};

}  // namespace qx
