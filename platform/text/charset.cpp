#include "platform/text/charset.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <vector>

namespace qx::text {

namespace {

class converter {
public:
    explicit converter(const std::string& charset) : cd_(::iconv_open(charset.c_str(), "UTF-16LE")) {}
    ~converter() {
        if (ok()) ::iconv_close(cd_);
    }
    converter(const converter&) = delete;
    converter& operator=(const converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

bool high_surrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool low_surrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// ASCII, everything else '?': the fallback when iconv does not know the set.
std::string as_ascii(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (high_surrogate(c) && i + 1 < text.size() && low_surrogate(text[i + 1])) ++i;
        out.push_back(c < 0x80 ? char(c) : '?');
    }
    return out;
}

}  // namespace

std::string locale_charset() { return ::nl_langinfo(CODESET); }

std::string utf16_to(std::u16string_view text, const std::string& charset) {
    if (const auto zero = text.find(char16_t(0)); zero != std::u16string_view::npos) text = text.substr(0, zero);
    converter cv(charset);
    if (!cv.ok()) return as_ascii(text);

    std::string out;
    std::vector<char> buffer(64);
    // One character (one or two code units) at a time, so that a failing one is replaced
    // without losing the state of the rest.
    for (std::size_t i = 0; i < text.size();) {
        std::size_t units = 1;
        if (high_surrogate(text[i]) && i + 1 < text.size() && low_surrogate(text[i + 1])) units = 2;
        unsigned char in[4];
        for (std::size_t u = 0; u < units; ++u) {
            in[2 * u] = static_cast<unsigned char>(text[i + u] & 0xFF);
            in[2 * u + 1] = static_cast<unsigned char>(text[i + u] >> 8);
        }
        char* in_p = reinterpret_cast<char*>(in);
        std::size_t in_left = 2 * units;
        char* out_p = buffer.data();
        std::size_t out_left = buffer.size();
        if (::iconv(cv.get(), &in_p, &in_left, &out_p, &out_left) == static_cast<std::size_t>(-1)) {
            ::iconv(cv.get(), nullptr, nullptr, nullptr, nullptr);  // back to the initial state
            out.push_back('?');
        } else {
            out.append(buffer.data(), buffer.size() - out_left);
        }
        i += units;
    }
    // Stateful sets end with their reset sequence.
    char* out_p = buffer.data();
    std::size_t out_left = buffer.size();
    if (::iconv(cv.get(), nullptr, nullptr, &out_p, &out_left) != static_cast<std::size_t>(-1))
        out.append(buffer.data(), buffer.size() - out_left);
    return out;
}

std::string utf16_to_locale(std::u16string_view text) { return utf16_to(text, locale_charset()); }

std::u16string utf16le_of(const unsigned char* bytes, std::size_t size) {
    std::u16string out;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const auto c = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (c == 0) break;
        out.push_back(c);
    }
    return out;
}

}  // namespace qx::text
