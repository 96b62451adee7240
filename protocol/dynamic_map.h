// One node of a tree of named or numbered children: a map, a text or a number.
// Children are kept in index order: named children in the order they were first created,
// numbered children under their number. A named child keeps its own name; the parent's name
// table refers to it, so each name is stored once. A tree's nodes, child lists and names come
// from one arena owned by its root: what a clear() removes is returned with the root.
#pragma once

#include <cstdint>
#include <memory>
#include <memory_resource>
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

    explicit dynamic_map_names(std::pmr::memory_resource* arena) : entries_(arena) {}

    // The index of a name; throws std::out_of_range when there is none.
    std::uint32_t at(std::string_view name) const;
    const entry* find(std::string_view name) const;
    bool empty() const { return entries_.empty(); }
    std::size_t size() const { return entries_.size(); }
    void clear() { entries_.clear(); }
    bool operator==(const dynamic_map_names& other) const;

private:
    friend class dynamic_map;
    std::pmr::vector<entry>::iterator lower_bound(std::string_view name);
    std::pmr::vector<entry> entries_;
};

class dynamic_map {
    // First, so that the arena outlives every member that holds storage from it.
    std::unique_ptr<std::pmr::memory_resource> own_arena_;  // the root's only
    std::pmr::memory_resource* arena_;

    // Nodes live in the arena: deleting one only destroys it.
    struct node_delete {
        void operator()(dynamic_map* n) const noexcept { n->~dynamic_map(); }
    };

public:
    enum : std::int32_t { kind_map = 0, kind_text = 1, kind_number = 2 };

    dynamic_map();
    dynamic_map(const dynamic_map&) = delete;
    dynamic_map& operator=(const dynamic_map&) = delete;
    ~dynamic_map();

    dynamic_map_names names;
    // In index order.
    std::pmr::vector<std::pair<std::uint32_t, std::unique_ptr<dynamic_map, node_delete>>> children;
    std::pmr::string text;  // in the arena, like everything else of the tree
    std::uint32_t number = 0;
    std::uint32_t next_index = 0;
    std::int32_t kind = kind_number;

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
    using child_list = decltype(children);
    explicit dynamic_map(std::pmr::memory_resource* arena);
    void become_map();
    child_list::const_iterator index_position(std::uint32_t index) const;
    dynamic_map& insert_child(std::uint32_t index);

    std::pmr::string name_;  // as the parent's child; empty for a numbered child
};

}  // namespace qx
