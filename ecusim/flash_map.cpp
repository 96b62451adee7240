#include "ecusim/flash_map.h"

#include <algorithm>
#include <cstdio>

namespace ecusim {

namespace {

struct sector_run {
    std::size_t area;
    std::uint32_t start, sector, count;
};

// Areas in the order of the table below.
constexpr const char* area_names[] = {"firmware", "fixed model", "boot loader", "dynamic model", "external flash"};
constexpr sector_run sector_runs[] = {
    {0, 0x00000000, 0x2000, 8},  {0, 0x00010000, 0x10000, 9}, {0, 0x000A0000, 0x20000, 3},
    {1, 0x00100000, 0x20000, 7}, {2, 0x001E0000, 0x20000, 1}, {3, 0x80100000, 0x4000, 16},
    {4, 0x0C000000, 0x2000, 32},
};

std::string hex(std::uint32_t v) {
    char text[12];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}

}  // namespace

flash_map::flash_map(bool bounded) : bounded_(bounded) {
    for (std::size_t a = 0; a < std::size(area_names); ++a) {
        std::uint32_t start = UINT32_MAX, end = 0;
        for (const sector_run& r : sector_runs)
            if (r.area == a) {
                start = std::min(start, r.start);
                end = std::max(end, r.start + r.sector * r.count);
            }
        // Flash that holds an earlier image until it is erased.
        areas_.push_back({area_names[a], start, end - start, std::vector<bool>((end - start) / page_size, false)});
    }
}

flash_map::area* flash_map::area_of(std::uint32_t address) {
    for (area& a : areas_)
        if (address >= a.start && address - a.start < a.size) return &a;
    return nullptr;
}

std::optional<flash_map::range> flash_map::erase(std::uint32_t start, std::uint32_t count) {
    if (!bounded_) return range{start, start};
    // The sectors of the area from `start` on, in address order.
    const sector_run* first = nullptr;
    for (const sector_run& r : sector_runs)
        if (start >= r.start && start < r.start + r.sector * r.count && (start - r.start) % r.sector == 0) first = &r;
    if (!first || count == 0) return std::nullopt;
    std::uint32_t at = start, left = count;
    for (const sector_run* r = first; left > 0; ++r) {
        if (r == std::end(sector_runs) || r->area != first->area || at < r->start) return std::nullopt;
        const std::uint32_t end = r->start + r->sector * r->count;
        if (at >= end) return std::nullopt;
        const std::uint32_t here = std::min(left, (end - at) / r->sector);
        at += here * r->sector;
        left -= here;
    }
    area& a = areas_[first->area];
    std::fill(a.erased.begin() + (start - a.start) / page_size, a.erased.begin() + (at - a.start) / page_size, true);
    return range{start, at};
}

std::optional<std::string> flash_map::program(std::uint32_t address, std::uint32_t size) {
    if (!bounded_) return std::nullopt;
    area* a = area_of(address);
    if (!a || size == 0 || address % page_size != 0 || size > a->start + a->size - address)
        return "Block at " + hex(address) + " lies outside every flash area";
    const std::size_t index = std::size_t(a - areas_.data());
    if (!image_area_) image_area_ = index;
    if (*image_area_ != index)
        return "Block at " + hex(address) + " lies in the " + a->name + " area, not the " + areas_[*image_area_].name +
               " area of this image";
    const std::size_t first = (address - a->start) / page_size, last = first + (size + page_size - 1) / page_size;
    for (std::size_t p = first; p < last; ++p)
        if (!a->erased[p]) return "Block at " + hex(address) + " is not erased";
    std::fill(a->erased.begin() + std::ptrdiff_t(first), a->erased.begin() + std::ptrdiff_t(last), false);
    return std::nullopt;
}

}  // namespace ecusim
