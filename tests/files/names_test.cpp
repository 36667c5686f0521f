#include <gtest/gtest.h>

#include "app/text.h"
#include "files/file_transfers.h"

namespace vorlix {
namespace {

TEST(SafeFileName, KeepsOnlyTheLastComponentAndReplacesRefusedCharacters) {
    EXPECT_EQ(safe_file_name("../../evil.txt"), "evil.txt");
    EXPECT_EQ(safe_file_name("..\\..\\evil.exe"), "evil.exe");
    EXPECT_EQ(safe_file_name("C:\\x\\y.txt"), "y.txt");
    EXPECT_EQ(safe_file_name("a:b?.txt"), "a-b-.txt");
    EXPECT_EQ(safe_file_name("tab\there"), "tab-here");
    EXPECT_EQ(safe_file_name("q\"*<>|.png"), "q-----.png");
    EXPECT_EQ(safe_file_name("caf\xC3\xA9.jpg"), "caf\xC3\xA9.jpg");
}

TEST(SafeFileName, EndsAndEmptyNames) {
    EXPECT_EQ(safe_file_name("report. . ."), "report");
    EXPECT_EQ(safe_file_name(".hidden"), "From iPhone");
    EXPECT_EQ(safe_file_name("..."), "From iPhone");
    EXPECT_EQ(safe_file_name(""), "From iPhone");
    EXPECT_EQ(safe_file_name("dir/"), "From iPhone");
    EXPECT_EQ(safe_file_name("  x"), "  x");
}

TEST(SafeFileName, ReservedDeviceNamesGetAnUnderscore) {
    EXPECT_EQ(safe_file_name("CON"), "_CON");
    EXPECT_EQ(safe_file_name("con.txt"), "_con.txt");
    EXPECT_EQ(safe_file_name("Com1 .log"), "_Com1 .log");
    EXPECT_EQ(safe_file_name("lpt9.tar.gz"), "_lpt9.tar.gz");
    EXPECT_EQ(safe_file_name("nul\xE3\x80\x80.txt"), "_nul\xE3\x80\x80.txt");  // ideographic space
    // Windows takes 0 and the superscript digits as device numbers too.
    EXPECT_EQ(safe_file_name("COM0.txt"), "_COM0.txt");
    EXPECT_EQ(safe_file_name("COM\u00B9"), "_COM\u00B9");
    EXPECT_EQ(safe_file_name("lpt\u00B2.txt"), "_lpt\u00B2.txt");
    EXPECT_EQ(safe_file_name("Lpt\u00B3"), "_Lpt\u00B3");
    EXPECT_EQ(safe_file_name("COM\u2074"), "COM\u2074");
    EXPECT_EQ(safe_file_name("console.txt"), "console.txt");
    EXPECT_EQ(safe_file_name("LPT"), "LPT");
}

TEST(SafeFileName, OverlongNamesAreShortenedKeepingTheExtension) {
    const std::string stem(400, 'n');
    std::string shortened = safe_file_name(stem + ".jpeg");
    EXPECT_EQ(shortened.size(), kMaxSafeNameUnits);
    EXPECT_TRUE(shortened.ends_with("nnn.jpeg"));

    // Counted in UTF-16 units, never splitting a character.
    std::string wide;
    for (int i = 0; i < 200; ++i) wide += "\xF0\x9F\x98\x80";  // two units each
    shortened = safe_file_name(wide + ".txt");
    EXPECT_TRUE(is_valid_utf8(shortened));
    EXPECT_LE(utf8_to_utf16(shortened).size(), kMaxSafeNameUnits);
    EXPECT_TRUE(shortened.ends_with("\xF0\x9F\x98\x80.txt"));

    // Without a usable extension the whole name is cut, and no dot or blank
    // is left at its end.
    shortened = safe_file_name(std::string(239, 'a') + " " + std::string(300, 'b'));
    EXPECT_EQ(shortened, std::string(239, 'a'));
    EXPECT_EQ(safe_file_name(std::string(240, 'x')), std::string(240, 'x'));
}

TEST(UniqueDestinationPath, NumbersGoBeforeTheLastDot) {
    const std::filesystem::path folder = "downloads";
    EXPECT_EQ(unique_destination_path(folder, "photo.jpg", 1), folder / "photo.jpg");
    EXPECT_EQ(unique_destination_path(folder, "photo.jpg", 2), folder / "photo 2.jpg");
    EXPECT_EQ(unique_destination_path(folder, "a.b.c", 3), folder / "a.b 3.c");
    EXPECT_EQ(unique_destination_path(folder, "notes", 2), folder / "notes 2");
    EXPECT_EQ(unique_destination_path(folder, "From iPhone", 2), folder / "From iPhone 2");
    EXPECT_EQ(unique_destination_path(folder, ".x", 2), folder / ".x 2");
}

TEST(FilePiece, IdIsBigEndianAndShortBodiesAreRefused) {
    const Bytes body{0x01, 0x02, 0x03, 0x04, 0xAA, 0xBB};
    auto piece = read_file_piece(body);
    ASSERT_TRUE(piece);
    EXPECT_EQ(piece->id, 0x01020304u);
    EXPECT_EQ(Bytes(piece->bytes.begin(), piece->bytes.end()), (Bytes{0xAA, 0xBB}));
    auto empty = read_file_piece(Bytes{0, 0, 0, 9});
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->bytes.empty());
    EXPECT_FALSE(read_file_piece(Bytes{0, 0, 1}));
}

}  // namespace
}  // namespace vorlix
