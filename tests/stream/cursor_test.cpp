#include "cursor/cursor.h"

#include <gtest/gtest.h>

#include <string>

namespace vorlix {
namespace {

// One character a pixel: '.' clear, 'B' black, 'W' white, 'C' other colour.
std::string picture(const CursorImage& image) {
    std::string out;
    for (std::uint32_t y = 0; y < image.height; ++y) {
        for (std::uint32_t x = 0; x < image.width; ++x) {
            const std::uint8_t* p = &image.pixels[(std::size_t{y} * image.width + x) * 4];
            if (p[3] == 0) {
                out += '.';
            } else if (p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 255) {
                out += 'B';
            } else if (p[0] == 255 && p[1] == 255 && p[2] == 255 && p[3] == 255) {
                out += 'W';
            } else {
                out += 'C';
            }
        }
        out += '\n';
    }
    return out;
}

// Monochrome masks from rows of '.' (AND 1, XOR 0), 'I' (AND 1, XOR 1),
// 'B' (AND 0, XOR 0) and 'W' (AND 0, XOR 1), with a pitch of 2 bytes.
Bytes masks(const std::vector<std::string>& rows) {
    const std::size_t h = rows.size();
    Bytes out(h * 2 * 2, 0);
    for (std::size_t y = 0; y < h; ++y) {
        for (std::size_t x = 0; x < rows[y].size(); ++x) {
            const char c = rows[y][x];
            const std::uint8_t bit = static_cast<std::uint8_t>(0x80 >> (x % 8));
            if (c == '.' || c == 'I') out[y * 2 + x / 8] |= bit;
            if (c == 'I' || c == 'W') out[(h + y) * 2 + x / 8] |= bit;
        }
    }
    return out;
}

TEST(Cursor, MonochromeIBeamGetsAWhiteOutline) {
    const Bytes m = masks({".....", ".III.", "..I..", ".III.", "....."});
    const auto image = cursor_from_monochrome(m, 5, 5, 2, 2, 2);
    ASSERT_TRUE(image);
    EXPECT_EQ(picture(*image), "WWWWW\nWBBBW\nWWBWW\nWBBBW\nWWWWW\n");
    EXPECT_EQ(image->hot_x, 2u);

    // Edge pixels get outlines only inside; black and white are kept.
    const auto edge = cursor_from_monochrome(masks({"I...", "....", "BW.."}), 4, 3, 2, 0, 0);
    EXPECT_EQ(picture(*edge), "BW..\nWW..\nBW..\n");
}

TEST(Cursor, ColourPixelsKeepTheirBytes) {
    // Two pixels and a row pitch of 12 bytes (4 bytes of padding).
    const Bytes bgra{10, 20, 30, 128, 1, 2, 3, 0, 9, 9, 9, 9, 40, 50, 60, 255, 0, 0, 0, 7};
    const auto image = cursor_from_color(bgra, 2, 2, 12, 40, 40);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixels, (Bytes{30, 20, 10, 128, 0, 0, 0, 0, 60, 50, 40, 255, 0, 0, 0, 7}));
    EXPECT_EQ(image->hot_x, 1u);  // hot spot kept within the picture
    EXPECT_EQ(image->hot_y, 1u);
    const auto big = cursor_from_color(Bytes(32 * 32 * 4, 1), 32, 32, 128, 40, 40);
    EXPECT_EQ(big->hot_x, 31u);
    EXPECT_EQ(big->hot_y, 31u);
}

TEST(Cursor, MaskedColourInvertsWhereTheColourIsNotBlack) {
    const Bytes bgrx{1, 2, 3, 0, 0, 0, 0, 0xFF, 5, 0, 0, 0x01, 0, 0, 0, 0xFF};
    const auto image = cursor_from_masked_color(bgrx, 4, 1, 16, 0, 0);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixels, (Bytes{3, 2, 1, 255, 255, 255, 255, 255, 0, 0, 0, 255, 255, 255,
                                    255, 255}));
}

TEST(Cursor, IconWithoutAlphaUsesItsMask) {
    // Pixels: black with mask 1 (clear), red with mask 1 (inverting), blue
    // with mask 0 (shown).
    const Bytes colour{0, 0, 0, 0, 0, 0, 255, 0, 255, 0, 0, 0};
    const Bytes mask{0xC0};
    auto image = cursor_from_icon_bitmaps(colour, mask, 3, 1, 1, 0, 0);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixels, (Bytes{255, 255, 255, 255, 0, 0, 0, 255, 0, 0, 255, 255}));

    // Any alpha: the colour is used as it is and the mask is not needed.
    const Bytes with_alpha{0, 0, 0, 0, 0, 0, 255, 200, 255, 0, 0, 0};
    image = cursor_from_icon_bitmaps(with_alpha, {}, 3, 1, 0, 0, 0);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixels, (Bytes{0, 0, 0, 0, 255, 0, 0, 200, 0, 0, 0, 0}));
}

TEST(Cursor, InvalidShapesGiveNoImage) {
    const Bytes some(64, 0);
    EXPECT_FALSE(cursor_from_color(some, 0, 2, 8, 0, 0));
    EXPECT_FALSE(cursor_from_color(some, 4, 2, 12, 0, 0));     // pitch below width x 4
    EXPECT_FALSE(cursor_from_color(some, 4, 5, 16, 0, 0));     // 16 + 16 x 4 = 80 bytes
    EXPECT_TRUE(cursor_from_color(some, 4, 4, 16, 0, 0));
    EXPECT_FALSE(cursor_from_color(some, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0, 0));
    EXPECT_FALSE(cursor_from_monochrome(some, 17, 2, 2, 0, 0));  // 2 x 8 < 17
    EXPECT_FALSE(cursor_from_monochrome(some, 16, 17, 2, 0, 0)); // 17 x 2 x 2 > 64
    EXPECT_TRUE(cursor_from_monochrome(some, 16, 16, 2, 0, 0));
    EXPECT_FALSE(cursor_from_monochrome(some, 0xFFFFFFFF, 0x80000000, 0x20000000, 0, 0));
    EXPECT_FALSE(cursor_from_masked_color(some, 3, 0, 12, 0, 0));
    EXPECT_FALSE(cursor_from_icon_bitmaps(some, some, 4, 5, 1, 0, 0));  // colour too short
    EXPECT_FALSE(cursor_from_icon_bitmaps(some, Bytes(3, 0), 4, 4, 1, 0, 0));  // mask too short
    EXPECT_FALSE(cursor_from_icon_bitmaps(some, some, 9, 1, 1, 0, 0));  // mask pitch too small
}

}  // namespace
}  // namespace vorlix
