// UTF-16 text, as the ECU and its storage write names, in the character set of the program's
// locale (the stand-in for the ANSI code page).
#pragma once

#include <string>
#include <string_view>

namespace qx::text {

// The character set of the current LC_CTYPE locale, as iconv names it ("UTF-8",
// "ANSI_X3.4-1968" in the "C" locale).
std::string locale_charset();

// Converts to `charset`. A character the set cannot hold, and an unpaired surrogate, become
// '?'; the text ends at a terminating zero. An unknown character set converts as ASCII.
std::string utf16_to(std::u16string_view text, const std::string& charset);

// The same in the locale's character set.
std::string utf16_to_locale(std::u16string_view text);

// UTF-16LE bytes up to a terminating zero character or the end (an odd last byte is dropped).
std::u16string utf16le_of(const unsigned char* bytes, std::size_t size);

}  // namespace qx::text
