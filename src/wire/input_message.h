// Binary input messages: the body of an Input frame is one kind byte and the
// fields of that kind, big-endian, without padding. Decoding gives an
// InputEvent, a plain value handed on to the input thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "util/bytes.h"

namespace vorlix {

namespace input {

// Every phase byte is 0 to 4 (for a pen: 0 hover, 1 down, 2 move, 3 up,
// 4 cancel); larger values arrive as 0.
struct MoveTo {
    float x = 0, y = 0;  // fractions of the monitor's width and height
    bool operator==(const MoveTo&) const = default;
};
struct MoveBy {
    float dx = 0, dy = 0;
    bool operator==(const MoveBy&) const = default;
};
struct Button {
    std::uint8_t button = 0;  // 0 left, 1 right, 2 and above middle
    bool down = false;
    std::uint8_t extra = 0;
    std::uint32_t modifiers = 0;  // 1 shift, 2 control, 4 option, 8 command, 16 function
    bool operator==(const Button&) const = default;
};
struct Scroll {
    std::uint8_t phase = 0;
    std::uint8_t momentumPhase = 0;
    float dx = 0, dy = 0;
    bool operator==(const Scroll&) const = default;
};
struct Key {
    bool down = false;
    std::uint16_t keyCode = 0;  // a Mac virtual key code
    std::uint32_t modifiers = 0;
    bool operator==(const Key&) const = default;
};
struct Text {
    std::string text;  // UTF-8
    bool operator==(const Text&) const = default;
};
struct Magnify {
    std::uint8_t phase = 0;
    float delta = 0;
    bool operator==(const Magnify&) const = default;
};
// A gesture the device sends and the injector leaves alone.
struct IgnoredGesture {
    std::uint8_t phase = 0;
    float value = 0;
    bool operator==(const IgnoredGesture&) const = default;
};
struct Pen {
    std::uint8_t phase = 0;
    float x = 0, y = 0;
    float pressure = 0;
    float tiltX = 0, tiltY = 0;
    bool operator==(const Pen&) const = default;
};
// SystemAction codes: 1 volume up, 2 volume down, 3 mute, 4 and 5 nothing,
// 6 play/pause, 7 next track, 8 previous track, 9 Win+Tab, 10 the Windows
// key, 11 lock the workstation, 12 Win+H.
struct Action {
    std::uint8_t code = 1;
    bool operator==(const Action&) const = default;
};

}  // namespace input

using InputEventVariant = std::variant<input::MoveTo, input::MoveBy, input::Button, input::Scroll, input::Key,
                                       input::Text, input::Magnify, input::IgnoredGesture, input::Pen,
                                       input::Action>;

// One decoded input message. Its index() is the wire kind minus one.
struct InputEvent : InputEventVariant {
    using InputEventVariant::InputEventVariant;
    using InputEventVariant::operator=;

    const InputEventVariant& variant() const { return *this; }
    InputEventVariant& variant() { return *this; }
};

// The body of an Input frame, after its type byte. Nothing when the body is
// empty, of an unknown kind, shorter than its kind needs, holds text that is
// not UTF-8, or names an action outside 1 to 12. Bytes after the last field
// are ignored.
std::optional<InputEvent> decode_input_message(ByteView body);

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or
// values above U+10FFFF).
bool is_valid_utf8(ByteView bytes);

}  // namespace vorlix
