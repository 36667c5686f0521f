#include "app/text.h"

#include <gtest/gtest.h>

namespace vorlix {
namespace {

TEST(UnicodeLower, FullMapping) {
    EXPECT_EQ(unicode_lower("C:\\Temp\\HOST 123"), "c:\\temp\\host 123");
    EXPECT_EQ(unicode_lower("ÀÉÎÕÜ"), "àéîõü");
    // Capital dotted I lower-cases to two code points.
    EXPECT_EQ(unicode_lower("\u0130"), "i\u0307");
    // Letters outside the basic plane.
    EXPECT_EQ(unicode_lower("\U00010400"), "\U00010428");
    // ẞ and Cyrillic, Armenian.
    EXPECT_EQ(unicode_lower("ẞДԱ"), "ßдա");
    // Invalid bytes become U+FFFD.
    EXPECT_EQ(unicode_lower("A\xFF" "B"), "a\uFFFD" "b");
}

TEST(UnicodeLower, FinalSigma) {
    EXPECT_EQ(unicode_lower("ΟΔΟΣ"), "οδος");
    EXPECT_EQ(unicode_lower("ΟΔΟΣ ΣΟΦΙΑΣ"), "οδος σοφιας");
    EXPECT_EQ(unicode_lower("Σ"), "σ");  // not preceded by a letter
    EXPECT_EQ(unicode_lower("ΑΣ."), "ας.");
    EXPECT_EQ(unicode_lower("ΑΣΑ"), "ασα");
    // A case-ignorable mark between does not change the decision.
    EXPECT_EQ(unicode_lower("Α'Σ"), "α'ς");
    EXPECT_EQ(unicode_lower("ΑΣ'Α"), "ασ'α");
}

TEST(Utf16, ConversionAndReplacement) {
    const char16_t name[] = {u'P', u'C', 0x00E9, 0xD83D, 0xDE00, 0, u'x'};
    EXPECT_EQ(utf16_to_utf8(name, 7), "PC\u00e9\U0001F600");
    const char16_t lone[] = {u'a', 0xD800, u'b', 0xDC00};
    EXPECT_EQ(utf16_to_utf8(lone, 4), "a\uFFFDb\uFFFD");
    const char16_t no_nul[] = {u'a', u'b'};
    EXPECT_EQ(utf16_to_utf8(no_nul, 2), "ab");
    EXPECT_EQ(utf8_to_utf16("\u00e9\U0001F600"), (std::u16string{0x00E9, 0xD83D, 0xDE00}));
    EXPECT_EQ(utf8_to_utf16("a\xC0" "b"), (std::u16string{u'a', 0xFFFD, u'b'}));
}

TEST(Utf8, Validity) {
    EXPECT_TRUE(is_valid_utf8("plain \u00e9 \uFFFD \U0001F600"));
    EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));  // an encoded surrogate
    EXPECT_FALSE(is_valid_utf8("\xC0\xAF"));      // overlong
    EXPECT_FALSE(is_valid_utf8("\xE2\x82"));      // cut short
}

TEST(Trim, UnicodeSpace) {
    EXPECT_EQ(trim_unicode_space("  Acme \t\r\n"), "Acme");
    EXPECT_EQ(trim_unicode_space("\u00a0\u3000Acme Inc\u2003"), "Acme Inc");
    EXPECT_EQ(trim_unicode_space(" \n "), "");
    EXPECT_EQ(trim_unicode_space("a b"), "a b");
}

TEST(Paths, Utf8RoundTrip) {
    const std::string text = "Daten/\u00fcber/\U0001F600";
    EXPECT_EQ(path_to_utf8(path_from_utf8(text)), text);
}

}  // namespace
}  // namespace vorlix
