// The program's error box: a printf-style text in a box without owner window, caption
// "Error", stop icon.
#pragma once

#include <cstddef>
#include <string>

#include "platform/ui/renderer.h"

namespace qx {

inline constexpr std::size_t error_box_size = 2048;  // bytes, the terminating zero included

// The text as the box shows it: formatted into error_box_size bytes; a longer text is cut at
// the last whole UTF-8 character that fits.
std::string format_error_text(const char* format, ...) __attribute__((format(printf, 1, 2)));
void error_box(ui::renderer& r, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace qx
