// Reads arbitrary bytes as an exchange trace: `trace show` either sums it up or refuses it,
// never throws, and whatever it prints holds no control character but its own line ends: a
// text from the file reaches the terminal only with its control characters made visible.
#include <cstdint>
#include <sstream>
#include <string>

#include "app/console/trace_command.h"

namespace {

// C0 but the line end, DEL, or C1 (U+0080 to U+009F in UTF-8).
bool has_control_character(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = std::uint8_t(text[i]);
        if ((b < 0x20 && b != '\n') || b == 0x7F) return true;
        if (b == 0xC2 && i + 1 < text.size() && std::uint8_t(text[i + 1]) < 0xA0) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    std::ostringstream out, err;
    const bool summed = qx::console::summarise_trace(in, out, err);
    if (summed && out.str().rfind("command", 0) != 0) __builtin_trap();
    if (has_control_character(out.str()) || has_control_character(err.str())) __builtin_trap();
    return 0;
}
