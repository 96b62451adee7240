// The ECU's flash as the update and download sequences address it: each image type's area with
// its sectors, and which 2048-byte pages are erased and not yet programmed. A real ECU cannot
// program flash that was not erased, nor put an image into another image's area; the virtual
// ECU refuses the same.
//
//   area           start        sectors
//   firmware       0x00000000   8 x 8 KiB, 9 x 64 KiB, 3 x 128 KiB  (1 MiB)
//   fixed model    0x00100000   7 x 128 KiB                          (896 KiB)
//   boot loader    0x001E0000   1 x 128 KiB
//   dynamic model  0x80100000   16 x 16 KiB                          (256 KiB)
//   external       0x0C000000   32 x 8 KiB (the SST39 part)          (256 KiB)
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ecusim {

class flash_map {
public:
    static constexpr std::uint32_t page_size = 2048;

    struct range {
        std::uint32_t from, to;  // [from, to)
    };

    // `bounded`: false for a bench device that takes blocks anywhere and erases nothing.
    explicit flash_map(bool bounded = true);

    // Erases `count` sectors from the sector that starts at `start`; nullopt (nothing erased)
    // when no sector starts there or the count runs past its area.
    std::optional<range> erase(std::uint32_t start, std::uint32_t count);
    // Programs a block: it must lie in one area, the same as the image's earlier blocks since
    // `new_image`, on pages erased and not programmed since. Returns why not, or nullopt.
    std::optional<std::string> program(std::uint32_t address, std::uint32_t size);
    // A key block arrived: the next block decides the image's area.
    void new_image() { image_area_.reset(); }

private:
    struct area {
        const char* name;
        std::uint32_t start, size;
        std::vector<bool> erased;  // per page: erased and not yet programmed
    };
    area* area_of(std::uint32_t address);

    bool bounded_;
    std::vector<area> areas_;
    std::optional<std::size_t> image_area_;
};

}  // namespace ecusim
