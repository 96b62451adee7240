// The list control's questions to its parent: the cell information record (one per list,
// reset before each request) and the notifications a list sends.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace qx::ui {

// Draw-text flags of a cell.
inline constexpr unsigned DT_LEFT = 0x0000;
inline constexpr unsigned DT_CENTER = 0x0001;
inline constexpr unsigned DT_RIGHT = 0x0002;
inline constexpr unsigned DT_VCENTER = 0x0004;
inline constexpr unsigned DT_SINGLELINE = 0x0020;
inline constexpr unsigned DT_END_ELLIPSIS = 0x8000;

inline constexpr std::uint32_t default_colour = 0xFF000000;  // use the list's own colour

struct cell_info {
    std::string text;
    bool editable = false;
    bool bold = false;
    bool italic = false;
    unsigned text_format = DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS;
    int image = -1;  // image-list index, -1 for none
    bool centred_image = false;
    bool centred_check_box = false;
    bool check_box = false;
    bool checked = false;
    // text and background colours: normal, selected, hot, selected without focus
    std::array<std::uint32_t, 8> colours{default_colour, default_colour, default_colour, default_colour,
                                         default_colour, default_colour, default_colour, default_colour};
    int item = 0;
    int subitem = 0;
    bool selected = false;
    bool hot = false;

    // Back to the defaults for a new request of (item, subitem).
    void reset(int for_item, int for_subitem) {
        *this = cell_info{};
        item = for_item;
        subitem = for_subitem;
    }
};

struct cell_click {
    int item = 0;
    int subitem = 0;
    bool on_check_box = false;
    bool on_image = false;
};

}  // namespace qx::ui
