#include "ink/ink.h"

#include "control/messages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vorlix {
namespace {

InkEvent ink(const std::string& phase, std::int64_t id, std::vector<double> points = {},
             std::optional<std::string> author = std::string("A")) {
    InkEvent e;
    e.phase = phase;
    e.id = id;
    e.points = std::move(points);
    e.author = std::move(author);
    return e;
}

TEST(InkStrokesTest, StrokeGrowsInOrderAndTakesTheTimeOfItsEnd) {
    InkStrokes strokes;
    EXPECT_TRUE(apply_ink_event(strokes, ink("begin", 7, {0.1, 0.2}), 1.0));
    EXPECT_TRUE(apply_ink_event(strokes, ink("move", 7, {0.3, 0.4}), 2.0));
    EXPECT_TRUE(apply_ink_event(strokes, ink("other", 7, {0.5, 0.6}), 3.0));
    EXPECT_TRUE(apply_ink_event(strokes, ink("end", 7, {0.7, 0.8}), 4.5));
    ASSERT_EQ(strokes.strokes.size(), 1u);
    const InkStroke& s = strokes.strokes[0];
    EXPECT_TRUE(s.ended);
    EXPECT_EQ(s.time, 4.5);
    EXPECT_EQ(s.points, (std::vector<double>{0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8}));
    EXPECT_EQ(s.author, "A");
}

TEST(InkStrokesTest, BeginReplacesEndStartsAndStrokesAreKeyedByAuthorAndId) {
    InkStrokes strokes;
    apply_ink_event(strokes, ink("begin", 1, {0.1, 0.1}), 0);
    apply_ink_event(strokes, ink("begin", 1, {0.2, 0.2}, std::string("B")), 0);
    apply_ink_event(strokes, ink("begin", 1, {0.9, 0.9}), 1);
    ASSERT_EQ(strokes.strokes.size(), 2u);
    EXPECT_EQ(strokes.strokes[0].author, "B");
    EXPECT_EQ(strokes.strokes[1].author, "A");
    EXPECT_EQ(strokes.strokes[1].points, (std::vector<double>{0.9, 0.9}));

    // An end for a stroke that is not there makes an ended one.
    apply_ink_event(strokes, ink("end", 5, {0.3, 0.3}), 2);
    ASSERT_EQ(strokes.strokes.size(), 3u);
    EXPECT_TRUE(strokes.strokes[2].ended);
    EXPECT_EQ(strokes.strokes[2].points, (std::vector<double>{0.3, 0.3}));

    // No author and the empty author are the same author.
    apply_ink_event(strokes, ink("begin", 9, {}, std::nullopt), 3);
    EXPECT_FALSE(apply_ink_event(strokes, ink("move", 9, {}, std::string()), 3));
    ASSERT_EQ(strokes.strokes.size(), 4u);
}

TEST(InkStrokesTest, ClearRemovesOnlyThatAuthorsStrokes) {
    InkStrokes strokes;
    apply_ink_event(strokes, ink("begin", 1), 0);
    apply_ink_event(strokes, ink("begin", 2, {}, std::string("B")), 0);
    apply_ink_event(strokes, ink("begin", 3), 0);
    EXPECT_TRUE(apply_ink_event(strokes, ink("clear", 0), 1));
    ASSERT_EQ(strokes.strokes.size(), 1u);
    EXPECT_EQ(strokes.strokes[0].author, "B");
    EXPECT_FALSE(apply_ink_event(strokes, ink("clear", 0), 1));
    // Phases are compared exactly.
    EXPECT_TRUE(apply_ink_event(strokes, ink("Clear", 4), 1));
    EXPECT_EQ(strokes.strokes.size(), 2u);
}

TEST(InkStrokesTest, PointsAreFilteredAndCapped) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(filter_ink_points({0.5, 0.5, inf, 0.2, -0.3, 1.7, 0.9}), (std::vector<double>{0.5, 0.5, 0, 1}));
    EXPECT_EQ(filter_ink_points({std::nan(""), 0.1, 0.2, 0.3}), (std::vector<double>{0.2, 0.3}));

    InkStrokes strokes;
    apply_ink_event(strokes, ink("begin", 1, {0.5, 0.5}), 0);
    // A single number extends nothing; an end with it still changes the stroke.
    EXPECT_FALSE(apply_ink_event(strokes, ink("move", 1, {0.4}), 1));
    EXPECT_TRUE(apply_ink_event(strokes, ink("end", 1, {0.4}), 1));
    EXPECT_EQ(strokes.strokes[0].points.size(), 2u);

    // 19,998 numbers plus 6 more stop at 20,000, and that still counts.
    std::vector<double> many(19'998, 0.25);
    apply_ink_event(strokes, ink("begin", 2, many), 0);
    EXPECT_TRUE(apply_ink_event(strokes, ink("move", 2, {0.1, 0.1, 0.2, 0.2, 0.3, 0.3}), 1));
    EXPECT_EQ(strokes.strokes.back().points.size(), 20'000u);
    EXPECT_EQ(strokes.strokes.back().points[19'999], 0.1);
    EXPECT_TRUE(apply_ink_event(strokes, ink("move", 2, {0.1, 0.1}), 1));
    EXPECT_EQ(strokes.strokes.back().points.size(), 20'000u);

    // A first event longer than the cap is cut.
    apply_ink_event(strokes, ink("begin", 3, std::vector<double>(30'000, 0.5)), 0);
    EXPECT_EQ(strokes.strokes.back().points.size(), 20'000u);
}

TEST(InkStrokesTest, AFloodOfLongStrokesKeepsTheNewestWithinThePointBound) {
    auto numbers = [](const InkStrokes& strokes) {
        std::size_t n = 0;
        for (const InkStroke& s : strokes.strokes) n += s.points.size();
        return n;
    };
    // A device fills 300 strokes to their cap: the oldest go.
    InkStrokes strokes;
    const std::vector<double> half(kMaxInkStrokeNumbers / 2, 0.5);
    for (int i = 0; i < 300; ++i) {
        apply_ink_event(strokes, ink("begin", i, half), 0);
        apply_ink_event(strokes, ink("move", i, half), 0);
        ASSERT_LE(numbers(strokes), kMaxInkNumbers) << i;
    }
    const std::size_t full = kMaxInkNumbers / kMaxInkStrokeNumbers;
    ASSERT_EQ(strokes.strokes.size(), full);
    EXPECT_EQ(strokes.strokes.front().id, 300 - static_cast<std::int64_t>(full));
    EXPECT_EQ(numbers(strokes), kMaxInkNumbers);

    // Growing the oldest stroke drops the next oldest, never the one drawn on.
    InkStrokes grown;
    apply_ink_event(grown, ink("begin", 0, {0.1, 0.1}), 0);
    for (std::size_t i = 1; i < full; ++i) {
        apply_ink_event(grown, ink("begin", static_cast<std::int64_t>(i), std::vector<double>(kMaxInkStrokeNumbers, 0.5)), 0);
    }
    apply_ink_event(grown, ink("begin", 99, std::vector<double>(kMaxInkStrokeNumbers - 2, 0.5)), 0);
    ASSERT_EQ(numbers(grown), kMaxInkNumbers);
    apply_ink_event(grown, ink("move", 0, {0.2, 0.2}), 0);
    EXPECT_EQ(grown.strokes[0].id, 0);
    EXPECT_EQ(grown.strokes[0].points.size(), 4u);
    EXPECT_EQ(grown.strokes[1].id, 2);

    // What the stroke took from each event: filtered, and cut to its room.
    std::vector<double> kept{9.0};
    apply_ink_event(strokes, ink("begin", 7, {0.5, 2.0, 0.25}), 0, &kept);
    EXPECT_EQ(kept, (std::vector<double>{0.5, 1.0}));
    apply_ink_event(strokes, ink("move", 7, std::vector<double>(kMaxInkStrokeNumbers, 0.75)), 0, &kept);
    EXPECT_EQ(kept, std::vector<double>(kMaxInkStrokeNumbers - 2, 0.75));
    apply_ink_event(strokes, ink("end", 7, {0.1, 0.1}), 0, &kept);
    EXPECT_TRUE(kept.empty());
    apply_ink_event(strokes, ink("clear", 0, {0.1, 0.1}), 0, &kept);
    EXPECT_TRUE(kept.empty());
}

TEST(InkStrokesTest, WidthColourAndKindAreFixedAtCreation) {
    InkStrokes strokes;
    InkEvent thin = ink("begin", 1);
    thin.width = 0.0001;
    thin.color = 0x7f123456;
    thin.kind = "laser";
    apply_ink_event(strokes, thin, 0);
    InkEvent wide = ink("begin", 2);
    wide.width = 0.2;
    wide.kind = "Laser";
    wide.color = -1;
    apply_ink_event(strokes, wide, 0);
    EXPECT_EQ(strokes.strokes[0].width, kMinInkWidth);
    EXPECT_EQ(strokes.strokes[0].color, 0x123456u);
    EXPECT_TRUE(strokes.strokes[0].laser);
    EXPECT_EQ(strokes.strokes[1].width, kMaxInkWidth);
    EXPECT_EQ(strokes.strokes[1].color, 0xFFFFFFu);
    EXPECT_FALSE(strokes.strokes[1].laser);

    InkEvent later = ink("move", 1, {0.1, 0.1});
    later.width = 0.01;
    later.kind = "pen";
    apply_ink_event(strokes, later, 1);
    EXPECT_EQ(strokes.strokes[0].width, kMinInkWidth);
    EXPECT_TRUE(strokes.strokes[0].laser);
}

TEST(InkStrokesTest, TheOldestStrokesFallOffPastThreeHundred) {
    InkStrokes strokes;
    for (int i = 0; i < 301; ++i) apply_ink_event(strokes, ink("begin", i), 0);
    ASSERT_EQ(strokes.strokes.size(), kMaxInkStrokes);
    EXPECT_EQ(strokes.strokes.front().id, 1);
    EXPECT_EQ(strokes.strokes.back().id, 300);
}

TEST(InkStrokesTest, LaserStrokesFadeAndExpirePenStrokesStay) {
    InkStrokes strokes;
    InkEvent laser = ink("end", 1, {0.5, 0.5});
    laser.kind = "laser";
    apply_ink_event(strokes, laser, 10.0);
    apply_ink_event(strokes, ink("end", 2, {0.5, 0.5}), 10.0);
    InkEvent open_laser = ink("begin", 3);
    open_laser.kind = "laser";
    apply_ink_event(strokes, open_laser, 0.0);

    EXPECT_EQ(laser_alpha(strokes.strokes[0], 11.0), 1.0);
    EXPECT_DOUBLE_EQ(laser_alpha(strokes.strokes[0], 11.25), 0.5);
    EXPECT_EQ(laser_alpha(strokes.strokes[0], 12.0), 0.0);
    EXPECT_EQ(laser_alpha(strokes.strokes[2], 100.0), 1.0);

    EXPECT_FALSE(expire_laser_strokes(strokes, 11.4));
    EXPECT_EQ(strokes.strokes.size(), 3u);
    EXPECT_TRUE(expire_laser_strokes(strokes, 11.6));
    ASSERT_EQ(strokes.strokes.size(), 2u);
    EXPECT_EQ(strokes.strokes[0].id, 2);
    EXPECT_FALSE(expire_laser_strokes(strokes, 1e9));
}

TEST(InkStrokesTest, NewcomersGetThePenDrawingOnly) {
    InkStrokes strokes;
    apply_ink_event(strokes, ink("end", 1, {0.1, 0.2}), 0);
    InkEvent laser = ink("begin", 2);
    laser.kind = "laser";
    apply_ink_event(strokes, laser, 0);
    InkEvent open = ink("begin", 3, {0.3, 0.4}, std::string());
    open.color = 0x10ff00;
    open.width = 0.01;
    apply_ink_event(strokes, open, 0);

    auto items = strokes_to_annotate_items(strokes);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].phase, "end");
    EXPECT_EQ(items[0].author, std::optional<std::string>("A"));
    EXPECT_EQ(items[0].points, (std::vector<double>{0.1, 0.2}));
    EXPECT_EQ(items[1].phase, "begin");
    EXPECT_EQ(items[1].kind, "pen");
    EXPECT_EQ(items[1].author, std::nullopt);
    EXPECT_EQ(items[1].id, 3);
    EXPECT_EQ(items[1].color, 0x10ff00);
    EXPECT_EQ(items[1].width, 0.01);
}

TEST(InkStrokesTest, AuthorsAreTakenSortedOnceAndTheListEmptied) {
    InkStrokes strokes;
    apply_ink_event(strokes, ink("begin", 1, {}, std::string("b")), 0);
    apply_ink_event(strokes, ink("begin", 2, {}, std::string("a")), 0);
    apply_ink_event(strokes, ink("begin", 3, {}, std::string("b")), 0);
    EXPECT_EQ(take_ink_authors(strokes), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(strokes.strokes.empty());
}

TEST(InkStrokesTest, PointsAreReadFromJsonNumbersOnly) {
    auto parsed = parse_json("[1, \"x\", null, -2, 0.25, true, [3], {\"a\": 4}, 18446744073709551615]",
                             DuplicateKeys::refuse);
    ASSERT_TRUE(parsed.ok());
    EXPECT_EQ(read_number_list(*parsed), (std::vector<double>{1, -2, 0.25, 18446744073709551615.0}));
    EXPECT_TRUE(read_number_list(Json::object()).empty());
    EXPECT_TRUE(read_number_list(Json(5)).empty());
}

}  // namespace
}  // namespace vorlix

namespace vorlix {
namespace {

TEST(AnnotateEvents, AreReadLenientlyAndWrittenInKeyOrder) {
    auto read = [](const char* text) {
        auto parsed = parse_json(text, DuplicateKeys::refuse);
        EXPECT_TRUE(parsed.ok());
        return read_ink_event(*parsed);
    };
    auto minimal = read(R"({"phase":"begin"})");
    ASSERT_TRUE(minimal);
    EXPECT_EQ(minimal->id, 0);
    EXPECT_EQ(minimal->kind, "pen");
    EXPECT_EQ(minimal->color, kDefaultInkColor);
    EXPECT_EQ(minimal->width, kDefaultInkWidth);
    EXPECT_TRUE(minimal->points.empty());
    EXPECT_FALSE(minimal->author);
    EXPECT_FALSE(read(R"({"phase":"Begin"})"));
    EXPECT_FALSE(read(R"({"phase":1})"));
    EXPECT_FALSE(read(R"([1])"));

    auto odd = read(R"({"phase":"move","kind":"LASER","id":-4,"color":-7,"width":1,"points":[1,"x",2],"author":5})");
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->kind, "pen");
    EXPECT_EQ(odd->id, -4);
    EXPECT_EQ(odd->color, -7);
    EXPECT_EQ(odd->width, 1.0);
    EXPECT_EQ(odd->points, (std::vector<double>{1, 2}));
    EXPECT_FALSE(odd->author);
    auto fallback = read(R"({"phase":"end","id":1.5,"color":18446744073709551615,"width":"wide"})");
    ASSERT_TRUE(fallback);
    EXPECT_EQ(fallback->id, 0);
    EXPECT_EQ(fallback->color, kDefaultInkColor);
    EXPECT_EQ(fallback->width, kDefaultInkWidth);

    InkEvent event = *minimal;
    event.author = "Pad";
    event.points = {0.5, 0.25};
    event.width = std::numeric_limits<double>::infinity();
    EXPECT_EQ(encode_control_message(control::Annotate{event}),
              R"({"annotate":{"_0":{"author":"Pad","color":16726832,"id":0,"kind":"pen","phase":"begin","points":[0.5,0.25],"width":null}}})");
}

}  // namespace
}  // namespace vorlix
