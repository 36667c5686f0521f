// The levels through WindowsPlatform: read_levels answers within its 3 s,
// the brightness connection is tried and logged once, and sets and a
// session's start and end run cleanly whether or not the PC has an audio
// output and a settable screen brightness (Wine has neither a working
// volume control nor WMI brightness).
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>

#include "storage/log_capture.h"
#include "storage/temp_folder.h"
#include "win/platform.h"

namespace vorlix {
namespace {

TEST(LevelsPlatform, ReadsAndSetsWithinBoundsAndTriesBrightnessOnce) {
    test::LogCapture log;
    test::TempFolder data;
    auto platform = platform_new(DataFolder{data.path(), 1});
    auto read = [&] {
        const auto asked = std::chrono::steady_clock::now();
        std::optional<Levels> levels = platform->read_levels();
        EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(3500));
        if (levels) {
            EXPECT_EQ(levels->volume, std::round(std::clamp(levels->volume, 0.0, 1.0) * 100) / 100);
        }
        return levels;
    };
    std::optional<Levels> first = read();
    platform->set_session_active(true);
    if (first) platform->set_level("volume", first->volume);  // the same value: nothing changes for the user
    platform->set_level("brightness", first && first->brightness ? *first->brightness : 0.5);
    platform->set_level("unknown", 1.0);
    read();
    platform->set_session_active(false);
    read();

    const std::string lines = log.messages();
    const std::string line = first && first->brightness ? "levels: this PC's screen brightness can be set\n"
                                                        : "levels: no screen brightness to set (a desktop PC?)\n";
    EXPECT_NE(lines.find(line), std::string::npos) << lines;
    EXPECT_EQ(lines.find(line), lines.rfind(line)) << lines;
}

}  // namespace
}  // namespace vorlix
