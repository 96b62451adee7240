#include "protocol/dynamic_map.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <new>
#include <stdexcept>

namespace qx {

namespace {
// Most maps have a handful of children; room for them at once spares the regrowth.
constexpr std::size_t first_capacity = 4;
}  // namespace

std::pmr::vector<dynamic_map_names::entry>::iterator dynamic_map_names::lower_bound(std::string_view name) {
    return std::lower_bound(entries_.begin(), entries_.end(), name,
                            [](const entry& e, std::string_view n) { return e.name < n; });
}

const dynamic_map_names::entry* dynamic_map_names::find(std::string_view name) const {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), name,
                               [](const entry& e, std::string_view n) { return e.name < n; });
    return it != entries_.end() && it->name == name ? &*it : nullptr;
}

std::uint32_t dynamic_map_names::at(std::string_view name) const {
    if (const entry* e = find(name)) return e->index;
    throw std::out_of_range("dynamic_map: no child named " + std::string(name));
}

bool dynamic_map_names::operator==(const dynamic_map_names& other) const {
    return std::equal(entries_.begin(), entries_.end(), other.entries_.begin(), other.entries_.end(),
                      [](const entry& a, const entry& b) { return a.name == b.name && a.index == b.index; });
}

namespace {

constexpr std::size_t arena_block_size = 32 * 1024;

// The blocks of every tree's arena: carved from regions of 2 MiB that the kernel may back with
// huge pages (a whole tree takes two faults instead of about 800, and half the time to build
// cold), and given back by arenas that were destroyed, for the next tree. Regions are kept for the life of the
// process; a process holds as many as the trees it has alive at once needed.
class spare_blocks {
public:
    static spare_blocks& instance() {
        static spare_blocks* const kept = new spare_blocks;
        return *kept;
    }
    std::byte* take() {
        std::lock_guard lock(mutex_);
        if (!blocks_.empty()) {
            std::byte* b = blocks_.back();
            blocks_.pop_back();
            return b;
        }
        if (left_ < arena_block_size) new_region();
        std::byte* b = next_;
        next_ += arena_block_size;
        left_ -= arena_block_size;
        return b;
    }
    void give(std::vector<std::byte*>& blocks) {
        std::lock_guard lock(mutex_);
        blocks_.insert(blocks_.end(), blocks.begin(), blocks.end());
        blocks.clear();
    }

private:
    static constexpr std::size_t region_size = 2 * 1024 * 1024;

    void new_region() {
        // Twice the size, so that an aligned region fits: only an aligned one can be a huge page.
        void* p = ::mmap(nullptr, 2 * region_size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        const auto start = reinterpret_cast<std::uintptr_t>(p);
        const std::uintptr_t aligned = (start + region_size - 1) & ~std::uintptr_t(region_size - 1);
        if (aligned > start) ::munmap(p, aligned - start);
        if (const std::uintptr_t end = aligned + region_size; end < start + 2 * region_size)
            ::munmap(reinterpret_cast<void*>(end), start + 2 * region_size - end);
        ::madvise(reinterpret_cast<void*>(aligned), region_size, MADV_HUGEPAGE);  // a hint; fine without
        next_ = reinterpret_cast<std::byte*>(aligned);
        left_ = region_size;
    }

    std::mutex mutex_;
    std::vector<std::byte*> blocks_;
    std::byte* next_ = nullptr;
    std::size_t left_ = 0;
};

// Hands out storage from blocks of 32 KiB and frees nothing before it is destroyed.
class node_arena final : public std::pmr::memory_resource {
public:
    ~node_arena() override { spare_blocks::instance().give(blocks_); }

private:
    std::vector<std::byte*> blocks_;                   // all of arena_block_size
    std::vector<std::unique_ptr<std::byte[]>> large_;  // pieces larger than a block
    std::byte* at_ = nullptr;
    std::size_t left_ = 0;

    static std::size_t padding(const std::byte* p, std::size_t alignment) {
        return (alignment - reinterpret_cast<std::uintptr_t>(p) % alignment) % alignment;
    }
    void* do_allocate(std::size_t size, std::size_t alignment) override {
        if (size + alignment > arena_block_size) {
            large_.push_back(std::make_unique_for_overwrite<std::byte[]>(size + alignment));
            return large_.back().get() + padding(large_.back().get(), alignment);
        }
        if (!at_ || padding(at_, alignment) + size > left_) {
            blocks_.push_back(spare_blocks::instance().take());
            at_ = blocks_.back();
            left_ = arena_block_size;
        }
        const std::size_t skip = padding(at_, alignment);
        void* p = at_ + skip;
        at_ += skip + size;
        left_ -= skip + size;
        return p;
    }
    void do_deallocate(void*, std::size_t, std::size_t) override {}
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }
};

}  // namespace

dynamic_map::dynamic_map()
    : own_arena_(std::make_unique<node_arena>()),
      arena_(own_arena_.get()),
      names(arena_),
      children(arena_),
      text(arena_),
      name_(arena_) {}

dynamic_map::dynamic_map(std::pmr::memory_resource* arena)
    : arena_(arena), names(arena), children(arena), text(arena), name_(arena) {}

dynamic_map::~dynamic_map() {
    // The children first: their storage goes with the arena, which may be this node's.
    names.clear();
    children.clear();
}

void dynamic_map::become_map() {
    if (kind == kind_map) return;
    clear();
    kind = kind_map;
}

dynamic_map::child_list::const_iterator dynamic_map::index_position(std::uint32_t index) const {
    if (children.empty() || children.back().first < index) return children.end();
    return std::lower_bound(children.begin(), children.end(), index,
                            [](const auto& c, std::uint32_t i) { return c.first < i; });
}

dynamic_map& dynamic_map::insert_child(std::uint32_t index) {
    if (children.empty()) children.reserve(first_capacity);
    const auto at = index_position(index);
    auto* node = new (arena_->allocate(sizeof(dynamic_map), alignof(dynamic_map))) dynamic_map(arena_);
    return *children.emplace(at, index, node)->second;
}

dynamic_map& dynamic_map::child(std::string_view name) {
    become_map();
    if (names.empty()) names.entries_.reserve(first_capacity);
    const auto named = names.lower_bound(name);
    if (named != names.entries_.end() && named->name == name) return *named->node;
    // A numbered child may already hold next_index; never overwrite it. Usually every index
    // is below it, and the new child goes at the end.
    if (!children.empty() && children.back().first >= next_index)
        for (auto at = index_position(next_index); at != children.end() && at->first == next_index; ++at) ++next_index;
    dynamic_map& c = insert_child(next_index);
    c.name_ = name;
    names.entries_.insert(named, {c.name_, next_index++, &c});
    return c;
}

dynamic_map& dynamic_map::child(std::uint32_t index) {
    become_map();
    const auto at = index_position(index);
    if (at != children.end() && at->first == index) return *at->second;
    next_index = index + 1;
    return insert_child(index);
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
    text.clear();
    number = 0;
    next_index = 0;
    kind = kind_number;
}

const dynamic_map* dynamic_map::find(std::string_view name) const {
    const auto* e = names.find(name);
    return e ? e->node : nullptr;
}

const dynamic_map* dynamic_map::find(std::uint32_t index) const {
    const auto at = index_position(index);
    return at != children.end() && at->first == index ? at->second.get() : nullptr;
}

std::string_view dynamic_map::name_of(std::uint32_t index) const {
    const dynamic_map* c = find(index);
    return c ? std::string_view(c->name_) : std::string_view{};
}

bool dynamic_map::operator==(const dynamic_map& other) const {
    if (kind != other.kind || text != other.text || number != other.number || next_index != other.next_index ||
        names != other.names || children.size() != other.children.size())
        return false;
    for (auto a = children.begin(), b = other.children.begin(); a != children.end(); ++a, ++b)
        if (a->first != b->first || !(*a->second == *b->second)) return false;
    return true;
}

}  // namespace qx
