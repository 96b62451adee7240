#include "app/launcher/error_box.h"

#include <cstdarg>
#include <cstdio>

namespace qx {
namespace {

std::string vformat(const char* format, std::va_list args) {
    char buffer[error_box_size];
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (n < 0) return {};
    std::size_t length = std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1);
    if (static_cast<std::size_t>(n) > length) {
        // Cut: drop a character whose bytes did not all fit.
        std::size_t start = length;
        while (start > 0 && (static_cast<unsigned char>(buffer[start - 1]) & 0xC0) == 0x80) --start;
        if (start > 0) {
            const auto lead = static_cast<unsigned char>(buffer[start - 1]);
            const std::size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            if (start - 1 + need > length) length = start - 1;
        }
    }
    return std::string(buffer, length);
}

}  // namespace

std::string format_error_text(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::string text = vformat(format, args);
    va_end(args);
    return text;
}

void error_box(ui::renderer& r, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::string text = vformat(format, args);
    va_end(args);
    ui::message_box_request request;
    request.caption = "Error";
    request.text = std::move(text);
    request.style = ui::MB_OK | ui::MB_ICONSTOP;
    request.owned = false;
    r.message_box(nullptr, request);
}

}  // namespace qx
