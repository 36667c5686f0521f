#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/nv12.h"
#include "win/capture/win_capture.h"
#include "win/painted_screen.h"

namespace vorlix {
namespace {

TEST(WinCapture, PrimaryMonitorHasAreaAndADpi) {
    const MonitorInfo m = primary_monitor();
    EXPECT_NE(m.monitor, 0u);
    EXPECT_GT(m.width, 0);
    EXPECT_GT(m.height, 0);
    EXPECT_GE(m.dpi, 72u);
}

TEST(WinCapture, GdiGrabOfAPaintedScreenGivesItsColour) {
    const MonitorInfo m = primary_monitor();
    test::PaintedScreen paint(m, RGB(200, 60, 20));
    ASSERT_TRUE(paint.ok());

    auto opened = open_gdi_capture(m);
    ASSERT_TRUE(opened.ok()) << opened.error().text;
    CaptureBackendPtr gdi = std::move(opened).value();
    EXPECT_EQ(gdi->name(), "GDI");
    EXPECT_EQ(gdi->size(), (PictureSize{static_cast<std::size_t>(m.width), static_cast<std::size_t>(m.height)}));
    gdi->set_draw_cursor(false);

    GrabResult first = gdi->grab(20);
    ASSERT_TRUE(first.ok()) << first.error().text;
    EXPECT_TRUE(first.value());
    EXPECT_EQ(gdi->changed_fraction(), 1.0);

    ByteView px = gdi->pixels();
    ASSERT_EQ(px.size(), static_cast<std::size_t>(m.width) * m.height * 4);
    const std::size_t centre = (static_cast<std::size_t>(m.height / 2) * m.width + m.width / 2) * 4;
    EXPECT_EQ(px[centre + 0], 20);   // B
    EXPECT_EQ(px[centre + 1], 60);   // G
    EXPECT_EQ(px[centre + 2], 200);  // R
    EXPECT_EQ(px[4], 20);
    EXPECT_EQ(px[px.size() - 4 + 2], 200);

    // The stream's conversion of that colour: Y 91, U 96, V 191.
    const std::uint32_t w = static_cast<std::uint32_t>(m.width) & ~1u;
    const std::uint32_t h = static_cast<std::uint32_t>(m.height) & ~1u;
    Bytes nv12(std::size_t{w} * h * 3 / 2);
    ASSERT_TRUE(convert_to_nv12(px, static_cast<std::uint32_t>(m.width), static_cast<std::uint32_t>(m.height), false,
                                w, h, nv12));
    const std::size_t y_centre = std::size_t{h / 2} * w + w / 2;
    EXPECT_EQ(nv12[y_centre], 91);
    const std::size_t uv_centre = std::size_t{w} * h + std::size_t{h / 4} * w + (w / 2 & ~std::size_t{1});
    EXPECT_EQ(nv12[uv_centre], 96);
    EXPECT_EQ(nv12[uv_centre + 1], 191);

    GrabResult still = gdi->grab(5);
    ASSERT_TRUE(still.ok());
    EXPECT_FALSE(still.value()) << "a still screen answers no";
}

TEST(WinCapture, OpenCaptureFallsBackToGdiAndSaysWhy) {
    SetEnvironmentVariableW(L"VORLIX_CAPTURE", nullptr);
    std::vector<std::string> lines;
    auto opened = open_capture(primary_monitor(), [&](std::string_view l) { lines.emplace_back(l); });
    ASSERT_TRUE(opened.ok()) << opened.error().text;
    EXPECT_EQ((*opened)->name(), "GDI");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("Desktop Duplication unavailable (", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("); using GDI capture"), std::string::npos) << lines[0];
    EXPECT_EQ(open_desktop_duplication(primary_monitor()), nullptr);
}

TEST(WinCapture, ForcedGdiOpensWithoutTryingDuplication) {
    SetEnvironmentVariableW(L"VORLIX_CAPTURE", L"gdi");
    std::vector<std::string> lines;
    auto opened = open_capture(primary_monitor(), [&](std::string_view l) { lines.emplace_back(l); });
    SetEnvironmentVariableW(L"VORLIX_CAPTURE", nullptr);
    ASSERT_TRUE(opened.ok());
    EXPECT_EQ((*opened)->name(), "GDI");
    EXPECT_TRUE(lines.empty());
}

TEST(WinCapture, ScreenOfThisSessionIsNotBlocked) {
    EXPECT_EQ(screen_block_reason(), ScreenBlock::none);
}

}  // namespace
}  // namespace vorlix

namespace vorlix {
namespace {

TEST(WinCapture, SystemCursorsBecomePictures) {
    for (LPCWSTR id : {IDC_ARROW, IDC_IBEAM, IDC_HAND}) {
        HCURSOR cursor = LoadCursorW(nullptr, id);
        ASSERT_NE(cursor, nullptr);
        auto image = cursor_icon_to_rgba(reinterpret_cast<std::uintptr_t>(cursor));
        ASSERT_TRUE(image.has_value());
        EXPECT_GT(image->width, 0u);
        EXPECT_EQ(image->pixels.size(), std::size_t{image->width} * image->height * 4);
        EXPECT_LT(image->hot_x, image->width);
        int opaque = 0;
        for (std::size_t i = 3; i < image->pixels.size(); i += 4) opaque += image->pixels[i] == 255 ? 1 : 0;
        EXPECT_GT(opaque, 10) << "the pointer has visible pixels";
    }
    EXPECT_FALSE(cursor_icon_to_rgba(0).has_value());
}

TEST(WinCapture, PointerSourceReadsTheSystemPointer) {
    auto source = make_windows_pointer_source(nullptr);
    SetCursorPos(40, 30);
    auto pointer = source->read();
    ASSERT_TRUE(pointer.has_value());
    EXPECT_EQ(pointer->x, 40);
    EXPECT_EQ(pointer->y, 30);
    EXPECT_FALSE(source->last_relative_move().has_value());
}

}  // namespace
}  // namespace vorlix
