#include <gtest/gtest.h>

#include "pictures/pictures.h"

namespace vorlix {
namespace {

std::uint32_t u32_le(const Bytes& bytes, std::size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

void put_u32_le(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A packed DIB of `length` bytes whose header states these fields.
Bytes dib(std::uint32_t header, std::uint16_t bits, std::uint32_t compression, std::uint32_t colours,
          std::size_t length) {
    Bytes block(length, 0x5A);
    if (length < 40) return block;
    put_u32_le(block, 0, header);
    block[14] = static_cast<std::uint8_t>(bits);
    block[15] = static_cast<std::uint8_t>(bits >> 8);
    put_u32_le(block, 16, compression);
    put_u32_le(block, 32, colours);
    return block;
}

TEST(BmpFromDib, PixelOffsetFollowsHeaderMasksAndColourTable) {
    struct Case {
        const char* what;
        Bytes block;
        std::uint32_t pixels_at;
    };
    const Case cases[] = {
        {"plain 32-bit", dib(40, 32, 0, 0, 40 + 16), 14 + 40},
        {"bit fields after a 40-byte header", dib(40, 32, 3, 0, 40 + 12 + 16), 14 + 40 + 12},
        {"bit fields inside a V5 header", dib(124, 32, 3, 0, 124 + 16), 14 + 124},
        {"8-bit, full colour table", dib(40, 8, 0, 0, 40 + 1024 + 4), 14 + 40 + 1024},
        {"8-bit, two colours used", dib(40, 8, 0, 2, 40 + 8 + 4), 14 + 40 + 8},
        {"24-bit with a stated table", dib(40, 24, 0, 3, 40 + 12 + 3), 14 + 40 + 12},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto bmp = bmp_from_dib(c.block);
        ASSERT_TRUE(bmp);
        ASSERT_EQ(bmp->size(), c.block.size() + 14);
        EXPECT_EQ((*bmp)[0], 'B');
        EXPECT_EQ((*bmp)[1], 'M');
        EXPECT_EQ(u32_le(*bmp, 2), bmp->size());
        EXPECT_EQ(u32_le(*bmp, 6), 0u);
        EXPECT_EQ(u32_le(*bmp, 10), c.pixels_at);
        EXPECT_TRUE(std::equal(c.block.begin(), c.block.end(), bmp->begin() + 14));
    }
}

TEST(BmpFromDib, HostileHeadersAreRefused) {
    const struct {
        const char* what;
        Bytes block;
    } cases[] = {
        {"shorter than a header", dib(40, 32, 0, 0, 39)},
        {"header size below 40", dib(12, 32, 0, 0, 64)},
        {"header size beyond the block", dib(200, 32, 0, 0, 128)},
        {"header size near 4 GiB (wraps in 32 bits)", dib(0xFFFFFFF0u, 32, 0, 0, 64)},
        {"colour count that wraps 4 x n to 0", dib(40, 32, 0, 0x40000000u, 64)},
        {"more colours than the block holds", dib(40, 8, 0, 0, 40 + 100)},
        {"masks past the end", dib(40, 32, 3, 0, 48)},
        {"no pixel data after the table", dib(40, 8, 0, 2, 48)},
        {"largest colour count", dib(40, 8, 0, 0xFFFFFFFFu, 64)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(bmp_from_dib(c.block), std::nullopt);
    }
}

TEST(PictureRows, TwentyFourBitRowsArePaddedToFourBytes) {
    // 3x2 BGRA: rows of 12 bytes, 9 of pixels and 3 of padding.
    Bytes pixels;
    for (std::uint8_t i = 0; i < 6; ++i) pixels.insert(pixels.end(), {i, std::uint8_t(i + 10), std::uint8_t(i + 20), 0xEE});
    const Bytes rows = bgra_to_bgr24(3, 2, pixels);
    EXPECT_EQ(bgr24_stride(3), 12u);
    EXPECT_EQ(rows, (Bytes{0, 10, 20, 1, 11, 21, 2, 12, 22, 0, 0, 0, 3, 13, 23, 4, 14, 24, 5, 15, 25, 0, 0, 0}));
    EXPECT_FALSE(encoder_input_fits(0, 10, 1000));
    EXPECT_FALSE(encoder_input_fits(3, 2, 23));
    EXPECT_TRUE(encoder_input_fits(3, 2, 24));
    EXPECT_TRUE(decoded_size_allowed(12'000, 10'000));
    EXPECT_FALSE(decoded_size_allowed(12'000, 10'001));
    EXPECT_FALSE(decoded_size_allowed(0xFFFFFFFFu, 0xFFFFFFFFu));
    EXPECT_TRUE(decoded_size_allowed(8'000, 5'000, 40'000'000));
    EXPECT_FALSE(decoded_size_allowed(8'000, 5'001, 40'000'000));
}

TEST(PictureRules, APngStatesItsSizeBeforeDecoding) {
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    append(png, Bytes{0, 0, 0x2A, 0xC6, 0x80, 0, 0, 0x01, 8, 6, 0, 0, 0});  // 10950 x 2^31 + 1, then the rest
    const auto size = png_stated_size(png);
    ASSERT_TRUE(size);
    EXPECT_EQ(size->width, 10950u);
    EXPECT_EQ(size->height, 0x80000001u);
    png[12] = 'i';  // not IHDR first
    EXPECT_FALSE(png_stated_size(png));
    png[12] = 'I';
    EXPECT_FALSE(png_stated_size(ByteView(png).first(23)));
    EXPECT_TRUE(png_stated_size(ByteView(png).first(24)));
}

TEST(PictureRules, PreviewSizeAndScreenshotName) {
    const struct {
        std::int32_t width, height;
        std::uint32_t out_width, out_height;
    } sizes[] = {{1920, 1080, 640, 360}, {1280, 800, 640, 400}, {2560, 1440, 640, 360}, {640, 480, 640, 480},
                 {500, 1000, 500, 1000}, {0, 0, 1, 1}, {3000, 1, 640, 1}, {1366, 768, 640, 360}};
    for (const auto& s : sizes) {
        const PreviewSize size = preview_size(s.width, s.height);
        EXPECT_EQ(size.width, s.out_width) << s.width << "x" << s.height;
        EXPECT_EQ(size.height, s.out_height) << s.width << "x" << s.height;
    }
    EXPECT_EQ(screenshot_file_name(1796688343), "PC 2026-12-08T000543.png");
    EXPECT_EQ(screenshot_file_name(-5), "PC 1970-01-01T000000.png");
}

}  // namespace
}  // namespace vorlix
