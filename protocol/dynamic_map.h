// One node of a tree of named or numbered children: a map, a text or a number.
// Children are kept in index order: named children in the order they were first created,
// numbered children under their number.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace qx {

class dynamic_map {
public:
    enum : std::int32_t { kind_map = 0, kind_text = 1, kind_number = 2 };

    std::map<std::string, std::uint32_t, std::less<>> names;
    std::map<std::uint32_t, std::unique_ptr<dynamic_map>> children;
    std::map<std::uint32_t, std::string> index_names;
    std::string text;
    std::uint32_t number = 0;
    std::uint32_t next_index = 0;
    std::int32_t kind = kind_number;

    dynamic_map() = default;
    dynamic_map(const dynamic_map&) = delete;
    dynamic_map& operator=(const dynamic_map&) = delete;
    virtual ~dynamic_map();

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
    void become_map();
};

}  // namespace qx
