#include "capture/gdi.h"

#include <gtest/gtest.h>

namespace vorlix {
namespace {

struct FakeScreen : GdiScreen {
    std::size_t width, height;
    Bytes dib;
    std::vector<std::uint32_t> sleeps;
    std::vector<bool> draws;
    std::optional<std::string> fail;
    FakeScreen(std::size_t w, std::size_t h) : width(w), height(h), dib(w * h * 4, 0) {}
    void sleep_ms(std::uint32_t ms) override { sleeps.push_back(ms); }
    std::optional<std::string> copy_screen(bool draw) override {
        draws.push_back(draw);
        return fail;
    }
    ByteView bits() const override { return dib; }
    void set_row(std::size_t row, std::uint8_t v) {
        std::fill(dib.begin() + row * width * 4, dib.begin() + (row + 1) * width * 4, v);
    }
};

struct GdiFixture {
    FakeScreen* screen;
    std::unique_ptr<GdiCapture> capture;
    GdiFixture(std::size_t w, std::size_t h) {
        auto s = std::make_unique<FakeScreen>(w, h);
        screen = s.get();
        capture = std::make_unique<GdiCapture>(w, h, std::move(s));
    }
    bool grab(std::uint32_t timeout = 20) {
        GrabResult r = capture->grab(timeout);
        EXPECT_TRUE(r.ok());
        return r.ok() && r.value();
    }
};

TEST(GdiGrab, FirstGrabIsAPictureEvenWhenBlack) {
    GdiFixture f(4, 4);
    EXPECT_TRUE(f.grab());
    EXPECT_EQ(f.capture->changed_fraction(), 1.0);
    EXPECT_EQ(f.capture->name(), "GDI");
    EXPECT_EQ(f.capture->pointer_shape_serial(), 0u);
    EXPECT_FALSE(f.capture->pointer_shape().has_value());
}

TEST(GdiGrab, StillScreenAnswersNoAndKeepsTheLastFraction) {
    GdiFixture f(4, 4);
    ASSERT_TRUE(f.grab());
    f.screen->set_row(1, 9);
    EXPECT_TRUE(f.grab());
    EXPECT_DOUBLE_EQ(f.capture->changed_fraction(), 0.25);
    EXPECT_EQ(f.capture->pixels()[4 * 4], 9);
    EXPECT_FALSE(f.grab());
    EXPECT_DOUBLE_EQ(f.capture->changed_fraction(), 0.25);
}

TEST(GdiGrab, DrawingSwitchRecomposesAndIsPassedToTheCopy) {
    GdiFixture f(2, 2);
    ASSERT_TRUE(f.grab());
    f.capture->set_draw_cursor(true);
    EXPECT_FALSE(f.grab()) << "the same setting changes nothing";
    f.capture->set_draw_cursor(false);
    EXPECT_TRUE(f.grab());
    EXPECT_EQ(f.capture->changed_fraction(), 1.0);
    EXPECT_EQ(f.screen->draws, (std::vector<bool>{true, true, false}));
}

TEST(GdiGrab, SleepsTheTimeOutUpTo16Ms) {
    GdiFixture f(2, 2);
    (void)f.grab(100);
    (void)f.grab(5);
    EXPECT_EQ(f.screen->sleeps, (std::vector<std::uint32_t>{16, 5}));
}

TEST(GdiGrab, CopyFailureIsFailedWithItsText) {
    GdiFixture f(2, 2);
    f.screen->fail = "BitBlt: access denied";
    GrabResult r = f.capture->grab(20);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error(), CaptureError::failed("BitBlt: access denied"));
}

TEST(GdiPictureUpdate, ComparesRowsWithAShorterLastRow) {
    Bytes picture(10, 0);
    Bytes dib(10, 0);
    bool recompose = false;
    double fraction = 0.5;
    dib[9] = 1;  // rows of 4: 0-3, 4-7, 8-9
    EXPECT_TRUE(update_gdi_picture(picture, dib, 4, recompose, fraction));
    EXPECT_DOUBLE_EQ(fraction, 1.0 / 3.0);
    EXPECT_EQ(picture[9], 1);

    Bytes other(12, 3);
    EXPECT_TRUE(update_gdi_picture(picture, other, 4, recompose, fraction));
    EXPECT_EQ(fraction, 1.0);
    EXPECT_EQ(picture[0], 0) << "sizes differ: nothing is copied";
}

}  // namespace
}  // namespace vorlix
