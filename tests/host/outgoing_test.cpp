#include "host/outgoing.h"

#include <gtest/gtest.h>

#include <limits>

namespace vorlix {
namespace {

// Keys are written in byte order at every level, compactly.
TEST(OutgoingMessages, ExactTexts) {
    EXPECT_EQ(bye_message(), R"({"bye":{}})");
    EXPECT_EQ(pong_message(7), R"({"pong":{"_0":7}})");
    EXPECT_EQ(host_info_message("1.2", {"files", "camera"}),
              R"({"hostInfo":{"features":["files","camera"],"version":"1.2"}})");
    EXPECT_EQ(permissions_message(true, true), R"({"permissions":{"accessibility":true,"screenRecording":true}})");
    EXPECT_EQ(front_app_message({"com.example", "Example \"App\""}),
              R"({"frontApp":{"bundleID":"com.example","name":"Example \"App\""}})");
    EXPECT_EQ(watchers_message({}), R"({"watchers":{"_0":[]}})");
    EXPECT_EQ(web_watchers_message(2, 0), R"({"webWatchers":{"links":0,"watching":2}})");
    EXPECT_EQ(reach_message({"100.64.0.1"}, 47910), R"({"reach":{"addresses":["100.64.0.1"],"port":47910}})");
    EXPECT_EQ(wake_info_message({"aa:bb:cc:dd:ee:ff"}, {"192.168.1.2"}),
              R"({"wakeInfo":{"addresses":["192.168.1.2"],"macAddresses":["aa:bb:cc:dd:ee:ff"]}})");
    EXPECT_EQ(preview_message(to_bytes("abc")), R"({"preview":{"_0":"YWJj"}})");
    EXPECT_EQ(ink_clear_message("Ann"),
              R"({"annotate":{"_0":{"author":"Ann","color":0,"id":0,"kind":"pen","phase":"clear","points":[],"width":0.004}}})");
}

TEST(OutgoingMessages, LevelsKeepFractionsAndLeaveOutAMissingBrightness) {
    EXPECT_EQ(levels_message({std::nullopt, 1.0, false}), R"({"levels":{"muted":false,"volume":1.0}})");
    EXPECT_EQ(levels_message({0.25, 0.0, true}), R"({"levels":{"brightness":0.25,"muted":true,"volume":0.0}})");
    EXPECT_EQ(levels_message({std::nullopt, std::numeric_limits<double>::quiet_NaN(), false}),
              R"({"levels":{"muted":false,"volume":null}})");
}

}  // namespace
}  // namespace vorlix
