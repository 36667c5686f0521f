#include "wire/input_message.h"

#include <gtest/gtest.h>

#include <cmath>

namespace vorlix {
namespace {

std::optional<InputEvent> decode(const Bytes& body) { return decode_input_message(body); }

// A body of the given kind and length, with every field byte distinct.
Bytes body_of(std::uint8_t kind, std::size_t length) {
    Bytes body{kind};
    for (std::size_t i = 1; i < length; ++i) body.push_back(static_cast<std::uint8_t>(0x31 + i));
    return body;
}

TEST(InputMessage, EveryKindAtItsMinimumLengthAndOneByteShort) {
    struct Case {
        std::uint8_t kind;
        std::size_t minimum;
    };
    const Case cases[] = {{1, 9}, {2, 9}, {3, 8}, {4, 11}, {5, 8}, {6, 1}, {7, 6}, {8, 6}, {9, 22}, {10, 2}};
    for (const Case& c : cases) {
        Bytes body = body_of(c.kind, c.minimum);
        if (c.kind == 10) body[1] = 6;  // a valid action code
        const auto event = decode(body);
        ASSERT_TRUE(event) << "kind " << int(c.kind);
        EXPECT_EQ(event->index(), c.kind - 1u) << "kind " << int(c.kind);

        body.pop_back();
        if (c.kind == 6) continue;  // text has no shorter form than the kind byte
        EXPECT_FALSE(decode(body)) << "kind " << int(c.kind) << " one byte short";
    }
    EXPECT_FALSE(decode({}));
}

TEST(InputMessage, UnknownKindsGiveNothing) {
    for (std::uint8_t kind : {0, 11, 0x30, 0xFF}) EXPECT_FALSE(decode(body_of(kind, 30))) << int(kind);
}

TEST(InputMessage, PointerMovesReadBigEndianFloats) {
    const auto event = decode(Bytes{1, 0x3F, 0x80, 0, 0, 0x3F, 0, 0, 0, 0xEE});  // a trailing byte ignored
    ASSERT_TRUE(event);
    EXPECT_EQ(std::get<input::MoveTo>(*event), (input::MoveTo{1.0f, 0.5f}));

    const auto by = decode(Bytes{2, 0xC0, 0x40, 0, 0, 0x7F, 0xC0, 0, 0});
    ASSERT_TRUE(by);
    EXPECT_EQ(std::get<input::MoveBy>(*by).dx, -3.0f);
    EXPECT_TRUE(std::isnan(std::get<input::MoveBy>(*by).dy));  // taken as it comes
}

TEST(InputMessage, ButtonFields) {
    const auto event = decode(Bytes{3, 9, 2, 0x77, 0x00, 0x00, 0x01, 0x0A});
    ASSERT_TRUE(event);
    EXPECT_EQ(std::get<input::Button>(*event), (input::Button{9, true, 0x77, 0x10A}));
    const auto up = decode(Bytes{3, 0, 0, 0, 0, 0, 0, 0});
    ASSERT_TRUE(up);
    EXPECT_FALSE(std::get<input::Button>(*up).down);
}

TEST(InputMessage, KeyFields) {
    const auto event = decode(Bytes{0x05, 0x00, 0x24, 0x01, 0x00, 0x00, 0x00, 0x00});
    ASSERT_TRUE(event);
    EXPECT_EQ(std::get<input::Key>(*event), (input::Key{true, 0x0024, 0}));
    const auto with_mods = decode(Bytes{0x05, 0x12, 0x34, 0x00, 0x00, 0x00, 0x00, 0x09});
    ASSERT_TRUE(with_mods);
    EXPECT_EQ(std::get<input::Key>(*with_mods), (input::Key{false, 0x1234, 9}));
}

TEST(InputMessage, PhasesAboveFourBecomeZero) {
    const Bytes scroll{4, 0x3F, 0x80, 0, 0, 0xBF, 0x80, 0, 0, 7, 4, 0xEE};  // 12 bytes, last ignored
    const auto event = decode(scroll);
    ASSERT_TRUE(event);
    EXPECT_EQ(std::get<input::Scroll>(*event), (input::Scroll{0, 4, 1.0f, -1.0f}));
    EXPECT_FALSE(decode(Bytes(scroll.begin(), scroll.begin() + 10)));

    const auto magnify = decode(Bytes{7, 0x3E, 0x80, 0, 0, 5});
    ASSERT_TRUE(magnify);
    EXPECT_EQ(std::get<input::Magnify>(*magnify), (input::Magnify{0, 0.25f}));
    const auto kept = decode(Bytes{7, 0x3E, 0x80, 0, 0, 4});
    ASSERT_TRUE(kept);
    EXPECT_EQ(std::get<input::Magnify>(*kept).phase, 4);

    const auto gesture = decode(Bytes{8, 0x3E, 0x80, 0, 0, 200});
    ASSERT_TRUE(gesture);
    EXPECT_EQ(std::get<input::IgnoredGesture>(*gesture), (input::IgnoredGesture{0, 0.25f}));
}

TEST(InputMessage, PenFields) {
    const Bytes body{9,    0x3F, 0x00, 0, 0,  // x 0.5
                     0x3E, 0x80, 0,    0,     // y 0.25
                     0x3F, 0x40, 0,    0,     // pressure 0.75
                     0xC1, 0x20, 0,    0,     // tiltX -10
                     0x41, 0xA0, 0,    0,     // tiltY 20
                     2};
    const auto event = decode(body);
    ASSERT_TRUE(event);
    EXPECT_EQ(std::get<input::Pen>(*event), (input::Pen{2, 0.5f, 0.25f, 0.75f, -10.0f, 20.0f}));
    Bytes cancel = body;
    cancel.back() = 9;
    EXPECT_EQ(std::get<input::Pen>(*decode(cancel)).phase, 0);
}

TEST(InputMessage, TextMustBeUtf8) {
    const auto empty = decode(Bytes{6});
    ASSERT_TRUE(empty);
    EXPECT_EQ(std::get<input::Text>(*empty).text, "");

    Bytes body{6};
    append(body, std::string_view("h\xC3\xA9llo \xE2\x82\xAC \xF0\x9F\x98\x80"));
    const auto text = decode(body);
    ASSERT_TRUE(text);
    EXPECT_EQ(std::get<input::Text>(*text).text, "h\xC3\xA9llo \xE2\x82\xAC \xF0\x9F\x98\x80");

    const Bytes bad[] = {
        {6, 0xFF},
        {6, 'a', 0xC0, 0x80},              // overlong NUL
        {6, 0xE0, 0x80, 0x80},             // overlong
        {6, 0xED, 0xA0, 0x80},             // a surrogate
        {6, 0xF4, 0x90, 0x80, 0x80},       // above U+10FFFF
        {6, 0xE2, 0x82},                   // cut short
        {6, 0x80},                         // a lone continuation byte
        {6, 0xC3, 0x28},                   // a bad continuation byte
    };
    for (const Bytes& b : bad) EXPECT_FALSE(decode(b)) << hex_lower(b);
}

TEST(InputMessage, ActionCodesOneToTwelve) {
    EXPECT_FALSE(decode(Bytes{10, 0}));
    EXPECT_FALSE(decode(Bytes{10, 13}));
    for (std::uint8_t code : {1, 4, 12}) {
        const auto event = decode(Bytes{10, code});
        ASSERT_TRUE(event) << int(code);
        EXPECT_EQ(std::get<input::Action>(*event).code, code);
    }
}

}  // namespace
}  // namespace vorlix
