// printf-style formatting into a std::string, for the tool's fixed message texts.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

namespace qx::filetool {

__attribute__((format(printf, 1, 2))) inline std::string printf_text(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string out;
    if (length > 0) {
        out.resize(std::size_t(length) + 1);
        std::vsnprintf(out.data(), out.size(), format, again);
        out.resize(std::size_t(length));
    }
    va_end(again);
    return out;
}

}  // namespace qx::filetool
