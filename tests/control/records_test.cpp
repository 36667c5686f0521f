#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "control/records.h"

namespace vorlix {
namespace {

Json doc(std::string_view text) {
    auto r = parse_json(text, DuplicateKeys::keep_last);
    EXPECT_TRUE(r.ok()) << text;
    return r.ok() ? r.value() : Json();
}

std::string compact(const OrderedJson& v) { return write_compact(v).value(); }

TEST(StreamConfigRecord, Defaults) {
    auto c = read_stream_config(doc("{}"));
    ASSERT_TRUE(c.ok());
    EXPECT_EQ(c.value(), StreamConfig{});
    EXPECT_EQ(c->fps, 60);
    EXPECT_EQ(c->quality, "sharp");
    EXPECT_EQ(c->codec, "hevc");
    EXPECT_EQ(c->source, "fitted");
    EXPECT_FALSE(c->max_bitrate || c->display_id || c->second);
    EXPECT_EQ(compact(write_stream_config(StreamConfig{})),
              "{\"pointsWide\":0,\"pointsHigh\":0,\"hiDPI\":false,\"fps\":60,\"quality\":\"sharp\",\"codec\":\"hevc\","
              "\"source\":\"fitted\",\"audio\":false,\"takeOver\":false}");
}

TEST(StreamConfigRecord, ObjectAndArrayForms) {
    auto c = read_stream_config(doc(
        "{\"pointsWide\":1280,\"pointsHigh\":-800,\"hiDPI\":true,\"fps\":30,\"quality\":\"smooth\",\"codec\":\"h264\","
        "\"source\":\"window\",\"audio\":true,\"takeOver\":true,\"maxBitrate\":9000000,\"displayID\":4294967295,"
        "\"second\":false,\"FPS\":5,\"other\":[1]}"));
    ASSERT_TRUE(c.ok()) << c.error().text;
    EXPECT_EQ(c->points_high, -800);
    EXPECT_EQ(c->fps, 30);
    EXPECT_EQ(c->max_bitrate, 9000000);
    EXPECT_EQ(c->display_id, 4294967295u);
    EXPECT_EQ(c->second, false);
    EXPECT_EQ(read_stream_config(doc(compact(write_stream_config(c.value())))).value(), c.value());

    auto nulls = read_stream_config(doc("{\"maxBitrate\":null,\"displayID\":null,\"second\":null}"));
    ASSERT_TRUE(nulls.ok());
    EXPECT_FALSE(nulls->max_bitrate || nulls->display_id || nulls->second);

    auto short_array = read_stream_config(doc("[100,200,true]"));
    ASSERT_TRUE(short_array.ok());
    EXPECT_EQ(short_array->points_wide, 100);
    EXPECT_TRUE(short_array->hi_dpi);
    EXPECT_EQ(short_array->fps, 60);
    EXPECT_TRUE(read_stream_config(doc("[]")).ok());
    EXPECT_EQ(read_stream_config(doc("[0,0,false,60,\"a\",\"b\",\"c\",false,false,null,null,null,1]")).error().text,
              "invalid length 13, expected fewer elements in array");
}

TEST(StreamConfigRecord, Refusals) {
    EXPECT_EQ(read_stream_config(doc("{\"fps\":30.0}")).error().text,
              "invalid type: floating point `30.0`, expected i64");
    EXPECT_FALSE(read_stream_config(doc("{\"fps\":3e1}")).ok());
    EXPECT_FALSE(read_stream_config(doc("{\"fps\":\"30\"}")).ok());
    EXPECT_FALSE(read_stream_config(doc("{\"fps\":9223372036854775808}")).ok());
    EXPECT_FALSE(read_stream_config(doc("{\"hiDPI\":1}")).ok());
    EXPECT_FALSE(read_stream_config(doc("{\"displayID\":4294967296}")).ok());
    EXPECT_FALSE(read_stream_config(doc("{\"displayID\":-1}")).ok());
    EXPECT_FALSE(read_stream_config(doc("{\"second\":\"no\"}")).ok());
    EXPECT_EQ(read_stream_config(doc("5")).error().text, "invalid type: integer `5`, expected struct StreamConfig");
    EXPECT_EQ(read_stream_config(doc("null")).error().text, "invalid type: null, expected struct StreamConfig");
    // Where the document refuses repeated keys, a repeated field never reaches the record.
    EXPECT_FALSE(parse_json("{\"fps\":30,\"fps\":30}", DuplicateKeys::refuse).ok());
    // Where it keeps the last value, the record reads that one.
    EXPECT_EQ(read_stream_config(doc("{\"fps\":30,\"fps\":24}"))->fps, 24);
}

TEST(StreamInfoRecord, RequiredKeys) {
    const std::string full =
        "{\"pixelsWide\":2560,\"pixelsHigh\":1600,\"pointsWide\":1280,\"pointsHigh\":800,\"fps\":60,\"codec\":\"h264\","
        "\"fitted\":true,\"generation\":3";
    auto info = read_stream_info(doc(full + "}"));
    ASSERT_TRUE(info.ok()) << info.error().text;
    EXPECT_FALSE(info->split);
    EXPECT_EQ(compact(write_stream_info(info.value())), full + "}");
    auto split = read_stream_info(doc(full + ",\"split\":2}"));
    ASSERT_TRUE(split.ok());
    EXPECT_EQ(split->split, 2);
    EXPECT_EQ(compact(write_stream_info(split.value())), full + ",\"split\":2}");

    EXPECT_EQ(read_stream_info(doc("{\"pixelsWide\":1,\"pixelsHigh\":1,\"pointsWide\":1,\"pointsHigh\":1,\"fps\":1,"
                                   "\"codec\":\"h264\",\"fitted\":false}"))
                  .error()
                  .text,
              "missing field `generation`");
    EXPECT_EQ(read_stream_info(doc("{}")).error().text, "missing field `pixelsWide`");
    EXPECT_EQ(read_stream_info(doc("[1,2,3]")).error().text, "invalid length 3, expected struct StreamInfo with 9 elements");
    EXPECT_EQ(read_stream_info(doc("[1,2,3,4,5,\"h264\",true,6,null,7]")).error().text,
              "invalid length 10, expected fewer elements in array");
    auto array = read_stream_info(doc("[1,2,3,4,5,\"h264\",true,6,null]"));
    ASSERT_TRUE(array.ok());
    EXPECT_EQ(array->generation, 6);
    EXPECT_EQ(read_stream_info(doc("\"x\"")).error().text, "invalid type: string \"x\", expected struct StreamInfo");
}

TEST(MenuCommandRecord, Forms) {
    auto plain = read_menu_command(doc("{\"id\":-7,\"title\":\"Save\",\"menu\":\"File\",\"enabled\":true,\"x\":1}"));
    ASSERT_TRUE(plain.ok());
    EXPECT_EQ(plain->id, -7);
    EXPECT_FALSE(plain->shortcut);
    EXPECT_EQ(compact(write_menu_command(plain.value())), "{\"id\":-7,\"title\":\"Save\",\"menu\":\"File\",\"enabled\":true}");
    auto with = read_menu_command(doc("[1,\"Open\",\"File\",\"Ctrl+O\",false]"));
    ASSERT_TRUE(with.ok());
    EXPECT_EQ(with->shortcut, "Ctrl+O");
    EXPECT_EQ(compact(write_menu_command(with.value())),
              "{\"id\":1,\"title\":\"Open\",\"menu\":\"File\",\"shortcut\":\"Ctrl+O\",\"enabled\":false}");
    EXPECT_TRUE(read_menu_command(doc("{\"id\":1,\"title\":\"\",\"menu\":\"\",\"shortcut\":null,\"enabled\":false}")).ok());

    EXPECT_EQ(read_menu_command(doc("{\"id\":1,\"title\":\"\",\"menu\":\"\"}")).error().text, "missing field `enabled`");
    EXPECT_FALSE(read_menu_command(doc("{\"id\":1,\"title\":\"\",\"menu\":\"\",\"shortcut\":5,\"enabled\":true}")).ok());
    EXPECT_EQ(read_menu_command(doc("[1,\"a\",\"b\",null]")).error().text,
              "invalid length 4, expected struct MenuCommand with 5 elements");
    EXPECT_EQ(read_menu_command(doc("[1,\"a\",\"b\",null,true,0]")).error().text,
              "invalid length 6, expected fewer elements in array");
}

TEST(SessionOptionsRecord, Lenient) {
    SessionOptions o = read_session_options(doc("{\"curtain\":\"yes\",\"twoUp\":true,\"oneApp\":1,\"lockOnEnd\":null}"));
    SessionOptions expected;
    expected.two_up = true;
    EXPECT_EQ(o, expected);
    SessionOptions all = read_session_options(
        doc("{\"hideDesktopIcons\":true,\"oneApp\":true,\"curtain\":true,\"lockOnEnd\":true,\"twoUp\":true,"
            "\"bringWindows\":true,\"screenshotsToDevice\":true,\"localCursor\":true}"));
    EXPECT_TRUE(all.hide_desktop_icons && all.one_app && all.curtain && all.lock_on_end && all.two_up &&
                all.bring_windows && all.screenshots_to_device && all.local_cursor);
    EXPECT_EQ(read_session_options(doc("[true]")), SessionOptions{});
    EXPECT_EQ(read_session_options(doc("null")), SessionOptions{});
}

TEST(InkEventRecord, Lenient) {
    auto begin = read_ink_event(doc("{\"phase\":\"begin\"}"));
    ASSERT_TRUE(begin);
    EXPECT_EQ(begin->id, 0);
    EXPECT_EQ(begin->kind, "pen");
    EXPECT_EQ(begin->color, 0xff3b30);
    EXPECT_EQ(begin->width, 0.004);
    EXPECT_TRUE(begin->points.empty());
    EXPECT_FALSE(begin->author);
    EXPECT_EQ(compact(write_ink_event(*begin)),
              "{\"id\":0,\"phase\":\"begin\",\"kind\":\"pen\",\"color\":16726832,\"width\":0.004,\"points\":[]}");

    for (const char* phase : {"move", "end", "clear"}) {
        EXPECT_TRUE(read_ink_event(doc(std::string("{\"phase\":\"") + phase + "\"}"))) << phase;
    }
    for (const char* bad : {"{}", "{\"phase\":\"Begin\"}", "{\"phase\":\"stop\"}", "{\"phase\":1}", "[\"begin\"]",
                            "{\"phase\":null}"}) {
        EXPECT_FALSE(read_ink_event(doc(bad))) << bad;
    }

    auto e = read_ink_event(doc("{\"phase\":\"move\",\"kind\":\"LASER\",\"id\":-5,\"color\":-1,\"width\":3,"
                                "\"points\":[1,\"x\",0.25,null,-2e0],\"author\":\"Ann\"}"));
    ASSERT_TRUE(e);
    EXPECT_EQ(e->kind, "pen");
    EXPECT_EQ(e->id, -5);
    EXPECT_EQ(e->color, -1);
    EXPECT_EQ(e->width, 3.0);
    EXPECT_EQ(e->points, (std::vector<double>{1.0, 0.25, -2.0}));
    EXPECT_EQ(e->author, "Ann");

    auto odd = read_ink_event(doc("{\"phase\":\"end\",\"kind\":\"laser\",\"id\":1.5,\"color\":18446744073709551615,"
                                  "\"width\":\"thin\",\"points\":{\"a\":1},\"author\":7}"));
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->kind, "laser");
    EXPECT_EQ(odd->id, 0);
    EXPECT_EQ(odd->color, 0xff3b30);
    EXPECT_EQ(odd->width, 0.004);
    EXPECT_TRUE(odd->points.empty());
    EXPECT_FALSE(odd->author);

    InkEvent nan = *begin;
    nan.width = std::nan("");
    nan.points = {1.0, std::numeric_limits<double>::infinity()};
    nan.author = "me";
    EXPECT_EQ(compact(write_ink_event(nan)),
              "{\"id\":0,\"phase\":\"begin\",\"kind\":\"pen\",\"color\":16726832,\"width\":null,\"points\":[1.0,null],"
              "\"author\":\"me\"}");
}

TEST(StringList, SkipsOtherElements) {
    EXPECT_EQ(read_string_list(doc("[\"a\",1,null,\"b\",[\"c\"]]")), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(read_string_list(doc("\"a\"")).empty());
    EXPECT_TRUE(read_string_list(doc("{\"a\":\"b\"}")).empty());
}

}  // namespace
}  // namespace vorlix
