#include "app/console/visible_text.h"

#include <cstdint>
#include <cstdio>

#include "app/console/json_output.h"

namespace qx::console {

namespace {

void escape(std::string& out, unsigned value) {
    char text[5];
    std::snprintf(text, sizeof text, "\\x%02x", value & 0xFFu);
    out += text;
}

}  // namespace

std::string visible(std::string_view text) {
    const std::string utf8 = utf8_or_latin1(text);
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto b = std::uint8_t(utf8[i]);
        if (b < 0x20 || b == 0x7F) {
            escape(out, b);
        } else if (b == 0xC2 && i + 1 < utf8.size() && std::uint8_t(utf8[i + 1]) < 0xA0) {
            escape(out, std::uint8_t(utf8[++i]));  // U+0080 to U+009F
        } else {
            out += char(b);
        }
    }
    return out;
}

std::string visible_lines(std::string_view text) {
    std::string out;
    for (std::size_t at = 0;;) {
        const std::size_t end = text.find('\n', at);
        out += visible(text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
        if (end == std::string_view::npos) return out;
        out += "\n  ";
        at = end + 1;
    }
}

}  // namespace qx::console
