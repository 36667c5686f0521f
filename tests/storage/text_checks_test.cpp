#include "host/text_checks.h"

#include <gtest/gtest.h>

#include <string>

namespace vorlix {
namespace {

TEST(OpenableLink, AcceptsWebAndMailLinksInAnyCase) {
    EXPECT_TRUE(is_openable_link("https://example.com/a?b=c#d"));
    EXPECT_TRUE(is_openable_link("http://example.com"));
    EXPECT_TRUE(is_openable_link("HTTPS://EXAMPLE.COM"));
    EXPECT_TRUE(is_openable_link("MailTo:someone@example.com"));
    EXPECT_TRUE(is_openable_link("https://example.com/caf\xC3\xA9"));
}

TEST(OpenableLink, RefusesOtherSchemesAndUnsafeCharacters) {
    EXPECT_FALSE(is_openable_link(""));
    EXPECT_FALSE(is_openable_link("ftp://example.com"));
    EXPECT_FALSE(is_openable_link("file:///C:/Windows/System32/calc.exe"));
    EXPECT_FALSE(is_openable_link("C:\\Windows\\notepad.exe"));
    EXPECT_FALSE(is_openable_link("example.com"));
    EXPECT_FALSE(is_openable_link("https:/example.com"));
    EXPECT_FALSE(is_openable_link("https://example.com/a b"));
    EXPECT_FALSE(is_openable_link("https://example.com/\"x"));
    EXPECT_FALSE(is_openable_link("https://example.com/\t"));
    EXPECT_FALSE(is_openable_link(std::string("https://a\0b", 11)));
    EXPECT_FALSE(is_openable_link("https://example.com/\x7F"));
    EXPECT_FALSE(is_openable_link("https://example.com/\xC2\x85"));      // U+0085
    EXPECT_FALSE(is_openable_link("https://example.com/\xC2\xA0"));      // no-break space
    EXPECT_FALSE(is_openable_link("https://example.com/\xE2\x80\x8A"));  // hair space
    EXPECT_FALSE(is_openable_link("https://example.com/\xE2\x80\xA8"));  // line separator
    EXPECT_FALSE(is_openable_link("https://example.com/\xE3\x80\x80"));  // ideographic space
    EXPECT_FALSE(is_openable_link("https://example.com/\xFF"));          // not UTF-8
    EXPECT_TRUE(is_openable_link("https://example.com/\xE2\x80\x8B"));   // zero-width space is not white space
}

TEST(OpenableLink, LengthLimitIsInBytes) {
    const std::string prefix = "https://e.com/";
    EXPECT_TRUE(is_openable_link(prefix + std::string(8192 - prefix.size(), 'a')));
    EXPECT_FALSE(is_openable_link(prefix + std::string(8193 - prefix.size(), 'a')));
}

TEST(MacAddress, SeparatedAndPlainFormsGiveTheSameBytes) {
    const MacAddress expected{0x00, 0x1A, 0x2B, 0xC3, 0xD4, 0xFF};
    EXPECT_EQ(parse_mac_address("00:1a:2b:c3:d4:ff"), expected);
    EXPECT_EQ(parse_mac_address("00-1A-2B-C3-D4-FF"), expected);
    EXPECT_EQ(parse_mac_address("001a2bC3D4fF"), expected);
}

TEST(MacAddress, RefusesMixedSeparatorsBadDigitsAndOtherLengths) {
    EXPECT_EQ(parse_mac_address("00:1a-2b:c3:d4:ff"), std::nullopt);
    EXPECT_EQ(parse_mac_address("00.1a.2b.c3.d4.ff"), std::nullopt);
    EXPECT_EQ(parse_mac_address("00:1a:2b:c3:d4:fg"), std::nullopt);
    EXPECT_EQ(parse_mac_address("001a2bc3d4f "), std::nullopt);
    EXPECT_EQ(parse_mac_address("0:1a:2b:c3:d4:ff"), std::nullopt);
    EXPECT_EQ(parse_mac_address("001a2bc3d4ff0"), std::nullopt);
    EXPECT_EQ(parse_mac_address(""), std::nullopt);
    EXPECT_EQ(parse_mac_address("0x:1a:2b:c3:d4:ff"), std::nullopt);
    EXPECT_EQ(parse_mac_address("+0:1a:2b:c3:d4:ff"), std::nullopt);
}

}  // namespace
}  // namespace vorlix
