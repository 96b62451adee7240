#include "protocol/dynamic_map.h"

namespace qx {

dynamic_map::~dynamic_map() = default;

void dynamic_map::become_map() {
    if (kind == kind_map) return;
    clear();
    kind = kind_map;
}

dynamic_map& dynamic_map::child(std::string_view name) {
    become_map();
    const auto named = names.lower_bound(name);
    if (named != names.end() && named->first == name) return *children.at(named->second);
    // A numbered child may already hold next_index; never overwrite it. Usually every index
    // is below it, and the new child goes at the end of both index maps.
    if (!children.empty() && children.rbegin()->first >= next_index)
        while (children.count(next_index)) ++next_index;
    const std::uint32_t index = next_index++;
    names.emplace_hint(named, name, index);
    index_names.emplace_hint(index_names.end(), index, name);
    return *children.emplace_hint(children.end(), index, std::make_unique<dynamic_map>())->second;
}

dynamic_map& dynamic_map::child(std::uint32_t index) {
    become_map();
    if (auto it = children.find(index); it != children.end()) return *it->second;
    next_index = index + 1;
    return *children.emplace(index, std::make_unique<dynamic_map>()).first->second;
}

void dynamic_map::assign(std::string_view value) {
    if (kind != kind_text) clear();
    kind = kind_text;
    text = value;
}

void dynamic_map::assign(std::uint32_t value) {
    if (kind != kind_number) clear();
    kind = kind_number;
    number = value;
}

void dynamic_map::clear() {
    names.clear();
    children.clear();
    index_names.clear();
    text.clear();
    number = 0;
    next_index = 0;
    kind = kind_number;
}

const dynamic_map* dynamic_map::find(std::string_view name) const {
    auto it = names.find(name);
    return it == names.end() ? nullptr : children.at(it->second).get();
}

const dynamic_map* dynamic_map::find(std::uint32_t index) const {
    auto it = children.find(index);
    return it == children.end() ? nullptr : it->second.get();
}

std::string_view dynamic_map::name_of(std::uint32_t index) const {
    auto it = index_names.find(index);
    return it == index_names.end() ? std::string_view{} : std::string_view(it->second);
}

bool dynamic_map::operator==(const dynamic_map& other) const {
    if (kind != other.kind || text != other.text || number != other.number ||
        next_index != other.next_index || names != other.names || index_names != other.index_names ||
        children.size() != other.children.size())
        return false;
    for (auto a = children.begin(), b = other.children.begin(); a != children.end(); ++a, ++b)
        if (a->first != b->first || !(*a->second == *b->second)) return false;
    return true;
}

}  // namespace qx
