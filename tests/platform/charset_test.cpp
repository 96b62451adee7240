// UTF-16 names to the locale's character set.
#include <clocale>

#include <gtest/gtest.h>

#include "platform/text/charset.h"

namespace qx::text {
namespace {

TEST(charset, converts_to_utf8_latin1_and_ascii) {
    const std::u16string name = u"Gr\u00FC\u00DFe \u20AC";
    EXPECT_EQ(utf16_to(name, "UTF-8"), "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC");
    EXPECT_EQ(utf16_to(name, "ISO-8859-1"), "Gr\xFC\xDF" "e ?");  // no euro sign in Latin-1
    EXPECT_EQ(utf16_to(name, "ANSI_X3.4-1968"), "Gr??e ?");
    EXPECT_EQ(utf16_to(name, "NO-SUCH-CHARSET"), "Gr??e ?");
}

TEST(charset, surrogate_pairs_convert_and_unpaired_halves_become_question_marks) {
    EXPECT_EQ(utf16_to(u"a\U0001F600b", "UTF-8"), "a\xF0\x9F\x98\x80" "b");
    EXPECT_EQ(utf16_to(std::u16string{u'a', char16_t(0xD800), u'b'}, "UTF-8"), "a?b");
    EXPECT_EQ(utf16_to(std::u16string{u'a', char16_t(0xDC00)}, "UTF-8"), "a?");
    EXPECT_EQ(utf16_to(std::u16string{u'a', char16_t(0), u'b'}, "UTF-8"), "a");
}

TEST(charset, follows_the_locale) {
    const std::string previous = std::setlocale(LC_CTYPE, nullptr);
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    EXPECT_EQ(locale_charset(), "UTF-8");
    EXPECT_EQ(utf16_to_locale(u"\u00FC"), "\xC3\xBC");
    std::setlocale(LC_CTYPE, "C");
    EXPECT_EQ(utf16_to_locale(u"\u00FC"), "?");
    std::setlocale(LC_CTYPE, previous.c_str());
}

TEST(charset, little_endian_bytes_end_at_a_zero_character_or_the_last_whole_unit) {
    const unsigned char b[] = {'A', 0, 0xFC, 0, 0, 0, 'Z', 0};
    EXPECT_EQ(utf16le_of(b, sizeof b), u"A\u00FC");
    EXPECT_EQ(utf16le_of(b, 3), u"A");
    EXPECT_EQ(utf16le_of(b, 0), u"");
}

}  // namespace
}  // namespace qx::text
