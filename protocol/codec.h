// The command codec table: for each command code, the routines that put its request and
// response structures into the ECU's byte order and lay out their arrays.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/commands.h"
#include "protocol/layout.h"

namespace qx::protocol {

// One cell of the table: a conversion or a layout routine over (block, size), bound to one
// structure or to the configuration-item dispatcher. An empty cell does nothing.
class codec_routine {
public:
    enum class action : std::uint8_t { none, convert, layout };

    constexpr codec_routine() = default;
    codec_routine(action what, structure_ref target);

    // Conversion returns 0; layout returns its layout result. An empty cell returns 0.
    std::uint32_t operator()(std::uint8_t* block, std::size_t size) const;
    explicit operator bool() const { return what_ != action::none; }

private:
    action what_ = action::none;
    bool cfgitem_ = false;
    const structure_layout* layout_ = nullptr;
};

struct codec_row {
    codec_routine convert_request;   // column 1
    codec_routine layout_request;    // column 2
    codec_routine convert_response;  // column 3
    codec_routine layout_response;   // column 4
};

// The row of a command code, or nullptr for codes above the command table.
const codec_row* find_codec(unsigned code);

}  // namespace qx::protocol
