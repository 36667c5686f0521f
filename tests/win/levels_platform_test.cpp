// The levels through WindowsPlatform: read_levels answers within its 3 s,
// the brightness connection is tried once and logged once, and sets and a
// session's start and end run cleanly whether or not the PC has an audio
// output and a settable screen brightness (under Wine it has neither a
// working volume control nor WMI brightness).
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>

#include "storage/log_capture.h"
#include "storage/temp_folder.h"
#include "win/platform.h"

namespace vorlix {
namespace {

using namespace std::chrono_literals;

std::optional<Levels> timed_read(WindowsPlatform& platform) {
    const auto asked = std::chrono::steady_clock::now();
    std::optional<Levels> levels = platform.read_levels();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 3500ms);
    if (levels) {
        EXPECT_GE(levels->volume, 0.0);
        EXPECT_LE(levels->volume, 1.0);
        EXPECT_EQ(levels->volume, std::round(levels->volume * 100) / 100);
    }
    return levels;
}

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

TEST(LevelsPlatform, ReadsAndSetsWithinBoundsAndTriesBrightnessOnce) {
    test::LogCapture log;
    test::TempFolder data;
    auto platform = platform_new(DataFolder{data.path(), 1});
    std::optional<Levels> first = timed_read(*platform);
    platform->set_session_active(true);
    if (first) platform->set_level("volume", first->volume);  // the same value: nothing changes for the user
    platform->set_level("brightness", first && first->brightness ? *first->brightness : 0.5);
    platform->set_level("unknown", 1.0);
    timed_read(*platform);
    platform->set_session_active(false);
    timed_read(*platform);

    const std::string lines = log.messages();
    EXPECT_EQ(count(lines, "levels: no screen brightness to set (a desktop PC?)\n") +
                  count(lines, "levels: this PC's screen brightness can be set\n"),
              1u)
        << lines;
}

}  // namespace
}  // namespace vorlix
