// Every text from outside (the ECU, a USB device, a package, a record or trace file, a file
// name) leaves the console's text output through visible(): it is made valid UTF-8 as the JSON
// output makes it (utf8_or_latin1), and each control character (C0, DEL, C1) is written as a
// visible escape, ESC as \x1b, so that no text can move the cursor, retitle the window or
// forge a line of its own. The JSON output escapes them by its own rules.
#pragma once

#include <string>
#include <string_view>

namespace qx::console {

std::string visible(std::string_view text);

// The same for a status text or a message box, whose line breaks are the tool's own: each
// line break stays one, and the line after it is indented by two blanks.
std::string visible_lines(std::string_view text);

}  // namespace qx::console
