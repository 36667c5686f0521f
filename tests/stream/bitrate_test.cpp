#include "stream/bitrate.h"

#include <gtest/gtest.h>

namespace vorlix {
namespace {

BitrateWishes wishes(std::int64_t fps, std::string quality = "sharp",
                     std::optional<std::int64_t> max = std::nullopt) {
    return BitrateWishes{fps, std::move(quality), max};
}

TEST(StartBitrate, FollowsSizeFrameRateAndQuality) {
    EXPECT_EQ(start_bitrate(1920, 1080, wishes(60, "smooth")), 13'271'040u);
    EXPECT_EQ(start_bitrate(1280, 720, wishes(30, "fast")), 6'000'000u);  // 3,244,032 raised
    EXPECT_EQ(start_bitrate(3840, 2160, wishes(60)), 20'000'000u);
    EXPECT_EQ(start_bitrate(3840, 2160, wishes(60, "sharp", 1'000'000)), 1'500'000u);
    EXPECT_EQ(start_bitrate(3840, 2160, wishes(60, "sharp", 8'000'000)), 8'000'000u);
    EXPECT_EQ(start_bitrate(3840, 2160, wishes(60, "sharp", -5)), 1'500'000u);
    // 42 / 60 * 0.4 + 0.6 is 0.87999... in doubles: 6,488,063.99... cut down.
    EXPECT_EQ(start_bitrate(1280, 720, wishes(42)), 6'488'063u);
    // Frame rates are taken within 30..60; any other quality text is "sharp".
    EXPECT_EQ(start_bitrate(1920, 1080, wishes(0)), start_bitrate(1920, 1080, wishes(30)));
    EXPECT_EQ(start_bitrate(1920, 1080, wishes(500, "SMOOTH")), 16'588'800u);
    EXPECT_EQ(start_bitrate(0, 0, wishes(60)), 6'000'000u);
}

TEST(BitrateSize, TargetCarriesOverButStaysUnderTheNewCeiling) {
    BitrateState state = initial_bitrate_state(3840, 2160, wishes(60));
    EXPECT_EQ(state.ceiling, 20'000'000u);
    EXPECT_EQ(state.target, 20'000'000u);
    state.target = 9'000'000;
    EXPECT_EQ(fit_bitrate_to_size(state, 1920, 1080, wishes(60)), 9'000'000u);
    EXPECT_EQ(fit_bitrate_to_size(state, 1280, 720, wishes(60)), 7'372'800u);
    state.target = 100'000;
    EXPECT_EQ(fit_bitrate_to_size(state, 1280, 720, wishes(60)), 1'500'000u);  // floor
    BitrateState capped = initial_bitrate_state(1280, 720, wishes(60, "sharp", 400'000));
    EXPECT_EQ(capped.ceiling, 1'500'000u);
    capped.target = 100'000;
    EXPECT_EQ(fit_bitrate_to_size(capped, 1280, 720, wishes(60, "sharp", 400'000)), 500'000u);
}

BitrateState running(std::uint32_t ceiling, std::uint32_t target, bool max_given = false) {
    BitrateState s;
    s.ceiling = ceiling;
    s.target = target;
    s.max_bitrate_given = max_given;
    return s;
}

TEST(BitrateSteps, TwoCleanSecondsBeforeTheFirstIncrease) {
    BitrateState s = running(10'000'000, 4'000'000);
    s.pictures_sent = 30;
    auto step = update_stream_stats(s, std::nullopt, std::nullopt);
    EXPECT_FALSE(step.changed);
    EXPECT_EQ(step.target, 4'000'000u);
    s.pictures_sent = 30;
    step = update_stream_stats(s, std::nullopt, std::nullopt);
    EXPECT_TRUE(step.changed);
    EXPECT_EQ(step.target, 4'600'000u);  // +15% without acknowledgements
    for (int i = 0; i < 10; ++i) update_stream_stats(s, std::nullopt, std::nullopt);
    EXPECT_EQ(s.target, 10'000'000u);  // up to the ceiling
    EXPECT_EQ(s.pictures_sent, 0u);
}

TEST(BitrateSteps, CleanSecondsFollowTheDeliveredRates) {
    BitrateState s = running(20'000'000, 4'000'000);
    s.clean_seconds = 1;
    // b48 = 1,000,000 x 48 / 10 = 4,800,000 and D x 10 = 4,500,000 is lower.
    EXPECT_EQ(update_stream_stats(s, 1'000'000, 450'000).target, 4'600'000u);  // 15% wins
    s.target = 4'000'000;
    EXPECT_EQ(update_stream_stats(s, 1'200'000, 500'000).target, 5'000'000u);  // D x 10
    s.target = 4'000'000;
    EXPECT_EQ(update_stream_stats(s, 1'100'000, 900'000).target, 5'280'000u);  // b48
}

TEST(BitrateSteps, CongestedSecondsCutTheTarget) {
    // 1 of 10 held back and no steady rate: three quarters.
    BitrateState s = running(20'000'000, 8'000'000);
    s.clean_seconds = 5;
    s.pictures_sent = 9, s.pictures_held_back = 1;
    auto step = update_stream_stats(s, std::nullopt, std::nullopt);
    EXPECT_EQ(step.target, 6'000'000u);
    EXPECT_EQ(s.clean_seconds, 0u);
    // With a best rate: b64 = 500,000 x 64 / 10 = 3,200,000.
    s.pictures_sent = 9, s.pictures_held_back = 1;
    EXPECT_EQ(update_stream_stats(s, 500'000, std::nullopt).target, 3'200'000u);
    // Never below the floor of 1,500,000 (500,000 with a maxBitrate).
    s.pictures_sent = 0, s.pictures_held_back = 5;
    EXPECT_EQ(update_stream_stats(s, 10, std::nullopt).target, 1'500'000u);
    BitrateState m = running(20'000'000, 600'000, true);
    m.pictures_held_back = 1;
    EXPECT_EQ(update_stream_stats(m, std::nullopt, std::nullopt).target, 500'000u);
    // A fifth held back with a steady rate: v = 300,000 x 72 / 10.
    BitrateState d = running(20'000'000, 8'000'000);
    d.pictures_sent = 4, d.pictures_held_back = 1;
    EXPECT_EQ(update_stream_stats(d, std::nullopt, 300'000).target, 2'160'000u);
}

TEST(BitrateSteps, MiddleSecondsWithASteadyRate) {
    // x = 0.1; D x 8 = 640,000 < 9/10 of 8,000,000: cut to v = 576,000 -> floor.
    BitrateState s = running(20'000'000, 8'000'000);
    s.clean_seconds = 3;
    s.pictures_sent = 9, s.pictures_held_back = 1;
    EXPECT_EQ(update_stream_stats(s, std::nullopt, 80'000).target, 1'500'000u);
    EXPECT_EQ(s.clean_seconds, 0u);
    // D x 8 = 12,800,000 >= 5/4 of 8,000,000: up by at most 10%.
    s.target = 8'000'000;
    s.clean_seconds = 3;
    s.pictures_sent = 9, s.pictures_held_back = 1;
    EXPECT_EQ(update_stream_stats(s, std::nullopt, 1'600'000).target, 8'800'000u);
    EXPECT_EQ(s.clean_seconds, 3u);
    // In between: unchanged.
    s.pictures_sent = 9, s.pictures_held_back = 1;
    const auto step = update_stream_stats(s, std::nullopt, 1'100'000);
    EXPECT_FALSE(step.changed);
    EXPECT_EQ(step.target, 8'800'000u);
}

TEST(BitrateReport, EveryThirtyStepsOnlyWithAMaxBitrate) {
    BitrateState plain = running(8'000'000, 8'000'000);
    for (int i = 0; i < 90; ++i) {
        EXPECT_FALSE(update_stream_stats(plain, 1'000'000, 900'000).report);
    }

    BitrateState s = running(8'000'000, 8'000'000, true);
    s.pictures_with_motion = 5;
    s.sharpening_passes = 2;
    s.sharpening_bytes = 300'000;
    for (int i = 0; i < 29; ++i) {
        s.pictures_sent = 10;
        EXPECT_FALSE(update_stream_stats(s, 1'000'000, std::nullopt).report);
    }
    s.pictures_sent = 10;
    const auto step = update_stream_stats(s, 1'000'000, std::nullopt);
    ASSERT_TRUE(step.report);
    EXPECT_EQ(*step.report,
              "picture, last 30 s: aim 8.0 of 8.0 Mbit/s, arriving 8.0 Mbit/s at best, ? "
              "steadily, 300 pictures sent, 0 held back, 5 pictures with motion, 2 sharpening "
              "passes of 150 KB on average");
    EXPECT_EQ(s.pictures_with_motion, 0u);
    EXPECT_EQ(s.steps, 0u);

    for (int i = 0; i < 29; ++i) update_stream_stats(s, std::nullopt, std::nullopt);
    const auto second = update_stream_stats(s, std::nullopt, std::nullopt);
    ASSERT_TRUE(second.report);
    EXPECT_EQ(*second.report,
              "picture, last 30 s: aim 8.0 of 8.0 Mbit/s, arriving unknown, 0 pictures sent, 0 "
              "held back, 0 pictures with motion, 0 sharpening passes");
}

}  // namespace
}  // namespace vorlix
