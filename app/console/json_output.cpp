#include "app/console/json_output.h"

#include <cstddef>
#include <cstdint>

namespace qx::console {

namespace {

// Length of the valid UTF-8 sequence at `at`, or 0 if the byte there starts none.
std::size_t sequence_length(std::string_view s, std::size_t at) {
    const auto byte = [&](std::size_t i) { return at + i < s.size() ? std::uint8_t(s[at + i]) : std::uint8_t(0); };
    const std::uint8_t b = byte(0);
    const auto in = [](std::uint8_t v, std::uint8_t lo, std::uint8_t hi) { return v >= lo && v <= hi; };
    const auto cont = [&](std::size_t i) { return in(byte(i), 0x80, 0xBF); };
    if (b < 0x80) return 1;
    if (in(b, 0xC2, 0xDF)) return cont(1) ? 2 : 0;
    // The second byte's range excludes overlong forms, surrogates and values above U+10FFFF.
    std::uint8_t lo = 0x80, hi = 0xBF;
    std::size_t length = 0;
    if (b == 0xE0) lo = 0xA0, length = 3;
    else if (in(b, 0xE1, 0xEC) || in(b, 0xEE, 0xEF)) length = 3;
    else if (b == 0xED) hi = 0x9F, length = 3;
    else if (b == 0xF0) lo = 0x90, length = 4;
    else if (in(b, 0xF1, 0xF3)) length = 4;
    else if (b == 0xF4) hi = 0x8F, length = 4;
    else return 0;
    if (!in(byte(1), lo, hi)) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (!cont(i)) return 0;
    return length;
}

nlohmann::ordered_json sanitised(const nlohmann::ordered_json& j) {
    if (j.is_string()) return utf8_or_latin1(j.get_ref<const std::string&>());
    if (j.is_array()) {
        auto out = nlohmann::ordered_json::array();
        for (const auto& e : j) out.push_back(sanitised(e));
        return out;
    }
    if (j.is_object()) {
        auto out = nlohmann::ordered_json::object();
        for (const auto& [key, value] : j.items()) out[utf8_or_latin1(key)] = sanitised(value);
        return out;
    }
    return j;
}

}  // namespace

std::string utf8_or_latin1(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        if (const std::size_t n = sequence_length(text, at)) {
            out.append(text.substr(at, n));
            at += n;
        } else {
            const auto b = std::uint8_t(text[at++]);
            out += char(0xC0 | (b >> 6));
            out += char(0x80 | (b & 0x3F));
        }
    }
    return out;
}

std::string json_text(const nlohmann::ordered_json& j, int indent) { return sanitised(j).dump(indent); }

}  // namespace qx::console
