#include <cmath>
#include <limits>
#include <set>

#include <gtest/gtest.h>

#include "control/messages.h"

namespace vorlix {
namespace {

std::optional<ControlMessage> parse(std::string_view text) { return parse_control_message(to_bytes(text)); }

// Every message type: a body to read, and how the host writes it back.
struct Case {
    std::string name;
    std::string body;
    std::string written;  // empty: the body itself
};

const std::vector<Case>& all_types() {
    static const std::vector<Case> cases = {
        {"configure", R"({"configure":{"generation":-2,"_0":{"fps":30,"audio":true,"maxBitrate":5}}})",
         R"({"configure":{"_0":{"audio":true,"codec":"hevc","fps":30,"hiDPI":false,"maxBitrate":5,"pointsHigh":0,)"
         R"("pointsWide":0,"quality":"sharp","source":"fitted","takeOver":false},"generation":-2}})"},
        {"requestKeyframe", R"({"requestKeyframe":{}})", ""},
        {"setAudio", R"({"setAudio":{"_0":true}})", ""},
        {"ping", R"({"ping":{"_0":18446744073709551615}})", ""},
        {"received", R"({"received":{"captureMicros":123456789}})", ""},
        {"options", R"({"options":{"_0":{"twoUp":true,"x":[1,2.5,null]}}})", ""},
        {"deviceInfo", R"({"deviceInfo":{"version":"2.1","features":["ink","camera"]}})",
         R"({"deviceInfo":{"features":["ink","camera"],"version":"2.1"}})"},
        {"setLevel", R"({"setLevel":{"kind":"volume","value":1}})", R"({"setLevel":{"kind":"volume","value":1.0}})"},
        {"openURL", R"({"openURL":{"_0":"https://example.com/a?b=c"}})", ""},
        {"fileRequest", R"({"fileRequest":{"id":-9223372036854775808}})", ""},
        {"requestScreenshot", R"({"requestScreenshot":{"extra":1}})", R"({"requestScreenshot":{}})"},
        {"camera", R"({"camera":{"_0":false}})", ""},
        {"performMenu", R"({"performMenu":{"id":42}})", ""},
        {"wakeOther", R"({"wakeOther":{"macAddresses":["aa:bb",3,"cc:dd"]}})",
         R"({"wakeOther":{"addresses":[],"macAddresses":["aa:bb","cc:dd"]}})"},
        {"annotate", R"({"annotate":{"_0":{"phase":"move","points":[1,2.5],"author":"A"}}})",
         R"({"annotate":{"_0":{"author":"A","color":16726832,"id":0,"kind":"pen","phase":"move","points":[1.0,2.5],)"
         R"("width":0.004}}})"},
        {"requestWatchLink", R"({"requestWatchLink":{}})", ""},
        {"stopWebWatchers", R"({"stopWebWatchers":{}})", ""},
        {"nextInputSource", R"({"nextInputSource":{}})", ""},
        {"hostInfo", R"({"hostInfo":{"features":[],"version":"1.2"}})", ""},
        {"pointer", R"({"pointer":{"x":0.5,"y":-3,"applied":7}})", R"({"pointer":{"applied":7,"x":0.5,"y":-3.0}})"},
        {"streamInfo",
         R"({"streamInfo":{"_0":[1920,1080,960,540,60,"h264",true,4,1]}})",
         R"({"streamInfo":{"_0":{"codec":"h264","fitted":true,"fps":60,"generation":4,"pixelsHigh":1080,)"
         R"("pixelsWide":1920,"pointsHigh":540,"pointsWide":960,"split":1}}})"},
        {"frontApp", R"({"frontApp":{"bundleID":"notepad.exe","name":"Notepad"}})", ""},
        {"textFocus", R"({"textFocus":{"_0":true}})", ""},
        {"pong", R"({"pong":{"_0":0}})", ""},
        {"permissions", R"({"permissions":{"accessibility":true,"screenRecording":false}})", ""},
        {"notice", R"({"notice":{"_0":"hello"}})", ""},
        {"wakeInfo", R"({"wakeInfo":{"addresses":["10.0.0.2"],"macAddresses":["aa:bb:cc:dd:ee:ff"]}})", ""},
        {"watchers", R"({"watchers":{"_0":["Ann","Bob"]}})", ""},
        {"watchLink", R"({"watchLink":{"minutes":30,"url":"https://w/#t"}})", ""},
        {"webWatchers", R"({"webWatchers":{"links":2,"watching":1}})", ""},
        {"fileOffer", R"({"fileOffer":{"id":3,"name":"a.txt","size":10}})", ""},
        {"cameraState", R"({"cameraState":{"message":"no camera","on":false}})", ""},
        {"cursorShape", R"({"cursorShape":{"scale":2,"png":"iVBO","hotY":1.5,"hotX":0}})",
         R"({"cursorShape":{"hotX":0.0,"hotY":1.5,"png":"iVBO","scale":2.0}})"},
        {"preview", R"({"preview":{"_0":"AAEC"}})", ""},
        {"menuCommands",
         R"({"menuCommands":{"_0":[{"title":"Save","id":1,"menu":"File","enabled":true},[2,"Open","File","Ctrl+O",false]]}})",
         R"({"menuCommands":{"_0":[{"enabled":true,"id":1,"menu":"File","title":"Save"},)"
         R"({"enabled":false,"id":2,"menu":"File","shortcut":"Ctrl+O","title":"Open"}]}})"},
        {"levels", R"({"levels":{"volume":0.25,"brightness":1,"muted":true}})",
         R"({"levels":{"brightness":1.0,"muted":true,"volume":0.25}})"},
        {"wakeOtherDone", R"({"wakeOtherDone":{"ok":true}})", ""},
        {"reach", R"({"reach":{"addresses":["192.168.1.2","fe80::1"],"port":47910}})", ""},
        {"pictureStopped", R"({"pictureStopped":{"message":"locked","reason":"screenLocked","retrying":true}})", ""},
        {"pictureResumed", R"({"pictureResumed":{}})", ""},
        {"keyboardLayout", R"({"keyboardLayout":{"name":"US","method":"IME","keys":{"1":["s","S"],"0":["a","A"]}}})",
         R"({"keyboardLayout":{"keys":{"0":["a","A"],"1":["s","S"]},"method":"IME","name":"US"}})"},
        {"clipboard", R"({"clipboard":{"_0":"text"}})", ""},
        {"clipboardImage", R"({"clipboardImage":{"_0":""}})", ""},
        {"fileStart", R"({"fileStart":{"size":5,"purpose":"drop","name":"x","id":1}})",
         R"({"fileStart":{"id":1,"name":"x","purpose":"drop","size":5}})"},
        {"fileChunk", R"({"fileChunk":{"data":"aGVsbG8=","id":1}})", ""},
        {"fileEnd", R"({"fileEnd":{"id":-3,"ok":true}})", ""},
        {"bye", R"({"bye":{}})", ""},
        {"Ping", R"({"Ping":{"_0":1}})", R"({"Ping":{}})"},
    };
    return cases;
}

TEST(ControlMessages, EveryTypeReadsAndWrites) {
    std::set<std::size_t> seen;
    for (const Case& c : all_types()) {
        auto message = parse(c.body);
        ASSERT_TRUE(message) << c.body;
        seen.insert(message->index());
        EXPECT_EQ(control_type_name(*message), c.name);
        std::string written = encode_control_message(*message);
        EXPECT_EQ(written, c.written.empty() ? c.body : c.written);
        auto again = parse(written);
        ASSERT_TRUE(again) << written;
        EXPECT_EQ(*again, *message) << written;
        EXPECT_EQ(control_message_to_value(*message).size(), 1u);
    }
    EXPECT_EQ(seen.size(), std::variant_size_v<control::Variant>);
}

TEST(ControlMessages, Integers) {
    EXPECT_EQ(std::get<control::Ping>(*parse(R"({"ping":{"_0":7}})")).value, 7u);
    for (const char* bad : {R"({"ping":{"_0":7.0}})", R"({"ping":{"_0":7e0}})", R"({"ping":{"_0":-1}})",
                            R"({"ping":{}})", R"({"ping":{"_0":"7"}})", R"({"ping":{"_0":18446744073709551616}})",
                            R"({"fileRequest":{"id":9223372036854775808}})", R"({"fileRequest":{"id":1.5}})",
                            R"({"fileEnd":{"id":-3,"ok":1}})", R"({"reach":{"addresses":[],"port":65536}})",
                            R"({"reach":{"addresses":[],"port":-1}})", R"({"configure":{"_0":{}}})",
                            R"({"configure":{"_0":{"fps":30.0},"generation":1}})"}) {
        EXPECT_FALSE(parse(bad)) << bad;
    }
    auto end = parse(R"({"fileEnd":{"id":-3,"ok":true}})");
    EXPECT_EQ(std::get<control::FileEnd>(*end).id, -3);
    EXPECT_EQ(std::get<control::Reach>(*parse(R"({"reach":{"addresses":[],"port":65535}})")).port, 65535);
    auto configure = parse(R"({"configure":{"_0":[],"generation":0}})");
    ASSERT_TRUE(configure);
    EXPECT_EQ(std::get<control::Configure>(*configure).config, StreamConfig{});
}

TEST(ControlMessages, Floats) {
    auto level = parse(R"({"setLevel":{"kind":"brightness","value":-0.5e-3}})");
    ASSERT_TRUE(level);
    EXPECT_EQ(std::get<control::SetLevel>(*level).value, -0.0005);
    EXPECT_TRUE(parse(R"({"setLevel":{"kind":"volume","value":18446744073709551616}})"));
    for (const char* bad : {R"({"setLevel":{"kind":"volume","value":null}})", R"({"setLevel":{"kind":"volume","value":"1"}})",
                            R"({"pointer":{"x":null,"y":1}})"}) {
        EXPECT_FALSE(parse(bad)) << bad;
    }
    auto written = [](double v) {
        return encode_control_message(ControlMessage(control::SetLevel{"volume", v}));
    };
    EXPECT_EQ(written(1.0), R"({"setLevel":{"kind":"volume","value":1.0}})");
    EXPECT_EQ(written(0.0), R"({"setLevel":{"kind":"volume","value":0.0}})");
    EXPECT_EQ(written(0.25), R"({"setLevel":{"kind":"volume","value":0.25}})");
    EXPECT_EQ(written(1e300), R"({"setLevel":{"kind":"volume","value":1e+300}})");
    EXPECT_EQ(written(-2.5e-300), R"({"setLevel":{"kind":"volume","value":-2.5e-300}})");
    EXPECT_EQ(written(std::nan("")), R"({"setLevel":{"kind":"volume","value":null}})");
    EXPECT_EQ(written(-std::numeric_limits<double>::infinity()), R"({"setLevel":{"kind":"volume","value":null}})");
    for (double v : {0.1, 1.0 / 3.0, 123456789.125, 5e-324, 1.7976931348623157e308, -0.0}) {
        auto back = parse(written(v));
        ASSERT_TRUE(back) << v;
        EXPECT_EQ(std::get<control::SetLevel>(*back).value, v);
    }

    // An x that is not finite is written as null, which the reader refuses.
    std::string pointer = encode_control_message(ControlMessage(control::Pointer{std::nan(""), 2.0, std::nullopt}));
    EXPECT_EQ(pointer, R"({"pointer":{"x":null,"y":2.0}})");
    EXPECT_FALSE(parse(pointer));
}

TEST(ControlMessages, Base64) {
    auto image = parse(R"({"clipboardImage":{"_0":""}})");
    ASSERT_TRUE(image);
    EXPECT_TRUE(std::get<control::ClipboardImage>(*image).png.empty());
    EXPECT_EQ(std::get<control::FileChunk>(*parse(R"({"fileChunk":{"id":1,"data":"aGk="}})")).data, to_bytes("hi"));
    for (const char* bad : {R"({"clipboardImage":{"_0":"aGk"}})", R"({"clipboardImage":{"_0":"aGl="}})",
                            R"({"clipboardImage":{"_0":"a-_="}})", R"({"clipboardImage":{"_0":"aG k="}})",
                            R"({"clipboardImage":{"_0":null}})", R"({"fileChunk":{"id":1,"data":[1]}})",
                            R"({"cursorShape":{"png":"A","hotX":0,"hotY":0,"scale":1}})"}) {
        EXPECT_FALSE(parse(bad)) << bad;
    }
}

TEST(ControlMessages, Lists) {
    auto empty = parse(R"({"wakeOther":{}})");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(std::get<control::WakeOther>(*empty).mac_addresses.empty());
    EXPECT_TRUE(std::get<control::WakeOther>(*empty).addresses.empty());
    auto mixed = parse(R"({"wakeOther":{"macAddresses":["a",1,"b"],"addresses":"10.0.0.1"}})");
    ASSERT_TRUE(mixed);
    EXPECT_EQ(std::get<control::WakeOther>(*mixed).mac_addresses, (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(std::get<control::WakeOther>(*mixed).addresses.empty());

    EXPECT_FALSE(parse(R"({"wakeInfo":{"macAddresses":["a",1,"b"],"addresses":[]}})"));
    EXPECT_FALSE(parse(R"({"wakeInfo":{"macAddresses":[]}})"));
    EXPECT_FALSE(parse(R"({"deviceInfo":{"version":"1","features":"ink"}})"));
    EXPECT_FALSE(parse(R"({"watchers":{"_0":[null]}})"));
    EXPECT_TRUE(parse(R"({"watchers":{"_0":[]}})"));
    EXPECT_FALSE(parse(R"({"menuCommands":{"_0":[{"id":1,"title":"a","menu":"b"}]}})"));
    EXPECT_FALSE(parse(R"({"menuCommands":{"_0":{}}})"));
    EXPECT_TRUE(parse(R"({"menuCommands":{"_0":[]}})"));
}

TEST(ControlMessages, TextMap) {
    EXPECT_FALSE(parse(R"({"keyboardLayout":{"name":"US","keys":{"0":"a"}}})"));
    EXPECT_FALSE(parse(R"({"keyboardLayout":{"name":"US","keys":{"0":["a",1]}}})"));
    EXPECT_FALSE(parse(R"({"keyboardLayout":{"name":"US","keys":[]}})"));
    EXPECT_FALSE(parse(R"({"keyboardLayout":{"name":"US"}})"));
    auto layout = parse(R"({"keyboardLayout":{"name":"US","keys":{},"language":null,"method":5}})");
    ASSERT_TRUE(layout);
    const auto& l = std::get<control::KeyboardLayout>(*layout);
    EXPECT_FALSE(l.language || l.method);
    EXPECT_EQ(encode_control_message(*layout), R"({"keyboardLayout":{"keys":{},"name":"US"}})");
}

TEST(ControlMessages, OptionalFields) {
    auto pointer = parse(R"({"pointer":{"x":1,"y":2}})");
    ASSERT_TRUE(pointer);
    EXPECT_FALSE(std::get<control::Pointer>(*pointer).applied);
    EXPECT_EQ(encode_control_message(*pointer), R"({"pointer":{"x":1.0,"y":2.0}})");
    EXPECT_FALSE(std::get<control::Pointer>(*parse(R"({"pointer":{"x":1,"y":2,"applied":1.5}})")).applied);

    for (const char* body : {R"({"levels":{"volume":0.5,"muted":false,"brightness":null}})",
                             R"({"levels":{"volume":0.5,"muted":false,"brightness":"high"}})",
                             R"({"levels":{"volume":0.5,"muted":false}})"}) {
        auto levels = parse(body);
        ASSERT_TRUE(levels) << body;
        EXPECT_FALSE(std::get<control::Levels>(*levels).brightness);
        EXPECT_EQ(encode_control_message(*levels), R"({"levels":{"muted":false,"volume":0.5}})");
    }
    EXPECT_FALSE(parse(R"({"levels":{"brightness":0.5,"muted":false}})"));

    auto camera = parse(R"({"cameraState":{"on":true}})");
    ASSERT_TRUE(camera);
    EXPECT_EQ(encode_control_message(*camera), R"({"cameraState":{"on":true}})");

    // The options value is held as it came, null included, but must be there.
    auto options = parse(R"({"options":{"_0":null}})");
    ASSERT_TRUE(options);
    EXPECT_TRUE(std::get<control::Options>(*options).value.is_null());
    EXPECT_FALSE(parse(R"({"options":{}})"));
    auto switches = parse(R"({"options":{"_0":{"curtain":"yes","twoUp":true}}})");
    SessionOptions read = read_session_options(std::get<control::Options>(*switches).value);
    EXPECT_TRUE(read.two_up);
    EXPECT_FALSE(read.curtain);
}

TEST(ControlMessages, OuterShape) {
    for (const char* bad : {"", "{}", "[]", "null", "5", R"("ping")", R"({"ping":{"_0":1},"pong":{"_0":1}})",
                            R"({"ping":{"_0":1}} {"ping":{"_0":1}})", R"({"ping":{"_0":1}}x)", R"({"bye":null})",
                            R"({"bye":[]})", R"({"bye":1})", R"({"Ping":5})", R"({"":null})",
                            "{\"bye\":{}}\x0c", R"({"bye":{},})", "{\"notice\":{\"_0\":\"a\nb\"}}"}) {
        EXPECT_FALSE(parse(bad)) << bad;
    }
    EXPECT_TRUE(parse(" \r\n\t{\"bye\":{}} \n"));
    EXPECT_TRUE(parse(R"({"bye":{"unrelated":[1,{"x":2}]}})"));

    auto last = parse(R"({"ping":{"_0":1},"ping":{"_0":2}})");
    ASSERT_TRUE(last);
    EXPECT_EQ(std::get<control::Ping>(*last).value, 2u);
    auto inner = parse(R"({"configure":{"_0":{"fps":30,"fps":24},"generation":1,"generation":2}})");
    ASSERT_TRUE(inner);
    EXPECT_EQ(std::get<control::Configure>(*inner).config.fps, 24);
    EXPECT_EQ(std::get<control::Configure>(*inner).generation, 2);
}

TEST(ControlMessages, Unrecognized) {
    auto capital = parse(R"({"Ping":{"_0":5}})");
    ASSERT_TRUE(capital);
    ASSERT_TRUE(std::holds_alternative<control::Unrecognized>(*capital));
    EXPECT_EQ(std::get<control::Unrecognized>(*capital).name, "Ping");
    EXPECT_EQ(control_type_name(*capital), "Ping");
    EXPECT_EQ(encode_control_message(*capital), R"({"Ping":{}})");
    EXPECT_EQ(control_message_to_value(*capital), Json::object({{"Ping", Json::object()}}));

    auto empty = parse(R"({"":{}})");
    ASSERT_TRUE(empty);
    EXPECT_EQ(std::get<control::Unrecognized>(*empty).name, "");
    EXPECT_EQ(encode_control_message(*empty), R"({"":{}})");
    // Longer than every name, and one byte off a name.
    EXPECT_TRUE(std::holds_alternative<control::Unrecognized>(*parse(R"({"requestScreenshots":{}})")));
    EXPECT_TRUE(std::holds_alternative<control::Unrecognized>(*parse(R"({"pinh":{}})")));
    // An escaped name is compared after unescaping.
    EXPECT_FALSE(parse("{\"p\\u0069ng\":{}}"));
    EXPECT_TRUE(parse("{\"p\\u0069ng\":{\"_0\":1}}"));
}

TEST(ControlMessages, GoldenWriting) {
    control::FileStart start{7, "report.pdf", 1024, "drop"};
    EXPECT_EQ(encode_control_message(start), R"({"fileStart":{"id":7,"name":"report.pdf","purpose":"drop","size":1024}})");

    StreamConfig config;
    config.points_wide = 1280;
    config.points_high = 800;
    config.display_id = 2;
    config.second = true;
    EXPECT_EQ(encode_control_message(control::Configure{config, 5}),
              R"({"configure":{"_0":{"audio":false,"codec":"hevc","displayID":2,"fps":60,"hiDPI":false,)"
              R"("pointsHigh":800,"pointsWide":1280,"quality":"sharp","second":true,"source":"fitted","takeOver":false},)"
              R"("generation":5}})");

    EXPECT_EQ(encode_control_message(control::CursorShape{Bytes{1, 2, 3}, 4.0, 0.5, 2.0}),
              R"({"cursorShape":{"hotX":4.0,"hotY":0.5,"png":"AQID","scale":2.0}})");
    EXPECT_EQ(encode_control_message(control::Levels{0.75, 0.0, false}),
              R"({"levels":{"brightness":0.0,"muted":false,"volume":0.75}})");
    EXPECT_EQ(encode_control_message(control::Bye{}), R"({"bye":{}})");
    EXPECT_EQ(encode_control_message(control::Reach{{}, 47910}), R"({"reach":{"addresses":[],"port":47910}})");

    // Strings: quotation mark, backslash, the five short escapes, other control
    // characters as \u00xx in lower case; solidus, DEL and é raw.
    std::string text = "say \"hi\"\\\n\b\f\r\t\x01\x1f/\x7f\xC3\xA9";
    EXPECT_EQ(encode_control_message(control::Notice{text}),
              "{\"notice\":{\"_0\":\"say \\\"hi\\\"\\\\\\n\\b\\f\\r\\t\\u0001\\u001f/\x7f\xC3\xA9\"}}");
    auto back = parse(encode_control_message(control::Notice{text}));
    ASSERT_TRUE(back);
    EXPECT_EQ(std::get<control::Notice>(*back).text, text);

    // A text that is not UTF-8 cannot be written.
    EXPECT_EQ(encode_control_message(control::Notice{"\xFF"}), "");
}

TEST(ControlMessages, ReadWriteIsStable) {
    // Written forms of every case, then variations that exercise optional and
    // non-finite values; each must read, write and read to the same message.
    std::vector<ControlMessage> corpus;
    for (const Case& c : all_types()) corpus.push_back(*parse(c.body));
    InkEvent ink;
    ink.phase = "clear";
    ink.kind = "laser";
    ink.points = {0.1, -0.0, 1e-310};
    corpus.push_back(control::Annotate{ink});
    corpus.push_back(control::Pointer{1e21, -1e-7, std::int64_t{-1}});
    corpus.push_back(control::KeyboardLayout{"Français", "fr", std::nullopt, {{"12", {"a", "A"}}, {"", {}}}});
    corpus.push_back(control::MenuCommands{{MenuCommand{-1, "Édition", "Menu", std::string("⌘Z"), true}}});
    corpus.push_back(control::FileChunk{std::numeric_limits<std::int64_t>::max(), Bytes(1000, 0xAB)});
    corpus.push_back(control::Options{Json::parse(R"({"deep":[[[]]],"n":-0.0,"u":18446744073709551615})")});
    for (const ControlMessage& message : corpus) {
        std::string first = encode_control_message(message);
        auto read = parse(first);
        ASSERT_TRUE(read) << first;
        std::string second = encode_control_message(*read);
        EXPECT_EQ(second, first);
        auto again = parse(second);
        ASSERT_TRUE(again);
        EXPECT_EQ(*again, *read) << second;
    }
}

}  // namespace
}  // namespace vorlix
