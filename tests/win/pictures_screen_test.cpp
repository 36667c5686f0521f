#include <gtest/gtest.h>

#include "win/capture/win_capture.h"
#include "win/painted_screen.h"
#include "win/pictures/picture_coding.h"
#include "win/pictures/screenshots.h"
#include "win/platform.h"

namespace vorlix {
namespace {

// The share of pixels within `tolerance` of the colour (B, G, R).
double share_of(const Picture& picture, int blue, int green, int red, int tolerance) {
    std::size_t close = 0;
    for (std::size_t i = 0; i + 3 < picture.pixels.size(); i += 4) {
        close += std::abs(picture.pixels[i] - blue) <= tolerance && std::abs(picture.pixels[i + 1] - green) <= tolerance &&
                std::abs(picture.pixels[i + 2] - red) <= tolerance;
    }
    return static_cast<double>(close) / (picture.pixels.size() / 4);
}

TEST(PictureScreens, ScreenshotAndPreviewOfAPaintedScreen) {
    const MonitorInfo monitor = primary_monitor();
    test::PaintedScreen paint(monitor, RGB(30, 160, 220));
    ASSERT_TRUE(paint.ok());
    auto platform = platform_new(DataFolder{});

    // Full size, lossless, the pointer at most a few pixels of it.
    const auto png = platform->take_screenshot();
    ASSERT_TRUE(png);
    const auto shot = decode_image(*png);
    ASSERT_TRUE(shot);
    EXPECT_EQ(shot->width, static_cast<std::uint32_t>(monitor.width));
    EXPECT_EQ(shot->height, static_cast<std::uint32_t>(monitor.height));
    EXPECT_GT(share_of(*shot, 220, 160, 30, 0), 0.99);

    // The preview: small, JPEG, the same colour.
    const auto jpeg = platform->take_preview();
    ASSERT_TRUE(jpeg);
    EXPECT_EQ((*jpeg)[0], 0xFF);
    const auto preview = decode_image(*jpeg);
    ASSERT_TRUE(preview);
    const PreviewSize size = preview_size(monitor.width, monitor.height);
    EXPECT_EQ(preview->width, size.width);
    EXPECT_EQ(preview->height, size.height);
    if (monitor.width == 1280 && monitor.height == 800) {
        EXPECT_EQ(preview->height, 400u);
    }
    EXPECT_GT(share_of(*preview, 220, 160, 30, 8), 0.99);

    EXPECT_EQ(grab_screen_with_cursor(monitor, 0, 10, false), std::nullopt);
}

}  // namespace
}  // namespace vorlix
