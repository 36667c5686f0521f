#include <gtest/gtest.h>

#include "win/pictures/picture_coding.h"

namespace vorlix {
namespace {

// A w x h BGRA picture whose every pixel differs, fully opaque or not.
Bytes sample_pixels(std::uint32_t width, std::uint32_t height, bool opaque) {
    Bytes pixels;
    for (std::uint32_t i = 0; i < width * height; ++i)
        pixels.insert(pixels.end(), {std::uint8_t(i * 7), std::uint8_t(i * 13 + 1), std::uint8_t(i * 29 + 2),
                                     std::uint8_t(opaque ? 255 : 40 + i)});
    return pixels;
}

TEST(PictureCoding, PngRoundTripsExactlyInEveryEncoding) {
    const Bytes bgra = sample_pixels(5, 3, false);
    const auto png = encode_png_bgra(5, 3, bgra);
    ASSERT_TRUE(png);
    EXPECT_EQ(Bytes(png->begin(), png->begin() + 4), (Bytes{0x89, 'P', 'N', 'G'}));
    const auto decoded = decode_image(*png);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width, 5u);
    EXPECT_EQ(decoded->height, 3u);
    EXPECT_EQ(decoded->pixels, bgra);
    // The same picture given as RGBA makes the same file.
    EXPECT_EQ(encode_png_rgba(5, 3, swap_red_blue(5, 3, bgra)), png);
    // Without alpha: the colours stay, the alpha reads back opaque.
    const auto opaque = decode_image(*encode_png_24(5, 3, bgra));
    ASSERT_TRUE(opaque);
    EXPECT_EQ(opaque->pixels, sample_pixels(5, 3, true));
}

TEST(PictureCoding, BadInputGivesNothing) {
    EXPECT_EQ(encode_png_bgra(0, 10, Bytes(400)), std::nullopt);
    EXPECT_EQ(encode_png_24(2, 2, Bytes(15)), std::nullopt);
    EXPECT_EQ(encode_jpeg_24(2, 0, Bytes(16), 0.6f), std::nullopt);
    EXPECT_EQ(decode_image(to_bytes("not a picture")), std::nullopt);
    // A picture whose header claims 12,000 x 10,001 pixels is refused by its size.
    Picture huge{1, 1, Bytes{1, 2, 3, 4}};
    Bytes block = dibv5_from_picture(huge);
    put_u32_be(block.data() + 4, 0xE02E0000);  // 12,000 and 10,001, little-endian
    put_u32_be(block.data() + 8, 0x11270000);
    const auto refused = try_decode_image(*bmp_from_dib(block));
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().text, "a picture of 12000x10001 pixels is refused");
}

}  // namespace
}  // namespace vorlix
