#include "wire/input_message.h"

#include <bit>

namespace vorlix {

namespace {

// A read cursor: every read fails, consuming nothing, when too few bytes remain.
class Cursor {
public:
    explicit Cursor(ByteView bytes) : bytes_(bytes) {}

    std::size_t remaining() const { return bytes_.size() - position_; }
    ByteView rest() const { return bytes_.subspan(position_); }

    std::optional<std::uint8_t> u8() {
        if (remaining() < 1) return std::nullopt;
        return bytes_[position_++];
    }
    std::optional<std::uint16_t> u16() {
        if (remaining() < 2) return std::nullopt;
        const std::uint16_t v = get_u16_be(bytes_.data() + position_);
        position_ += 2;
        return v;
    }
    std::optional<std::uint32_t> u32() {
        if (remaining() < 4) return std::nullopt;
        const std::uint32_t v = get_u32_be(bytes_.data() + position_);
        position_ += 4;
        return v;
    }
    std::optional<float> f32() {
        const auto bits = u32();
        if (!bits) return std::nullopt;
        return std::bit_cast<float>(*bits);
    }

private:
    ByteView bytes_;
    std::size_t position_ = 0;
};

// Minimum body length of each kind, the kind byte included (index = kind).
constexpr std::size_t kMinimumLength[] = {0, 9, 9, 8, 11, 8, 1, 6, 6, 22, 2};

std::uint8_t phase_of(std::uint8_t byte) { return byte <= 4 ? byte : 0; }

std::optional<InputEvent> decode_fields(std::uint8_t kind, Cursor& in) {
    switch (kind) {
        case 1: {
            input::MoveTo e;
            e.x = *in.f32();
            e.y = *in.f32();
            return InputEvent(e);
        }
        case 2: {
            input::MoveBy e;
            e.dx = *in.f32();
            e.dy = *in.f32();
            return InputEvent(e);
        }
        case 3: {
            input::Button e;
            e.button = *in.u8();
            e.down = *in.u8() != 0;
            e.extra = *in.u8();
            e.modifiers = *in.u32();
            return InputEvent(e);
        }
        case 4: {
            input::Scroll e;
            e.dx = *in.f32();
            e.dy = *in.f32();
            e.phase = phase_of(*in.u8());
            e.momentumPhase = phase_of(*in.u8());
            return InputEvent(e);
        }
        case 5: {
            input::Key e;
            e.keyCode = *in.u16();
            e.down = *in.u8() != 0;
            e.modifiers = *in.u32();
            return InputEvent(e);
        }
        case 6: {
            const ByteView text = in.rest();
            if (!is_valid_utf8(text)) return std::nullopt;
            return InputEvent(input::Text{to_string(text)});
        }
        case 7: {
            input::Magnify e;
            e.delta = *in.f32();
            e.phase = phase_of(*in.u8());
            return InputEvent(e);
        }
        case 8: {
            input::IgnoredGesture e;
            e.value = *in.f32();
            e.phase = phase_of(*in.u8());
            return InputEvent(e);
        }
        case 9: {
            input::Pen e;
            e.x = *in.f32();
            e.y = *in.f32();
            e.pressure = *in.f32();
            e.tiltX = *in.f32();
            e.tiltY = *in.f32();
            e.phase = phase_of(*in.u8());
            return InputEvent(e);
        }
        case 10: {
            const std::uint8_t code = *in.u8();
            if (code < 1 || code > 12) return std::nullopt;
            return InputEvent(input::Action{code});
        }
        default:
            return std::nullopt;
    }
}

}  // namespace

std::optional<InputEvent> decode_input_message(ByteView body) {
    if (body.empty()) return std::nullopt;
    const std::uint8_t kind = body[0];
    if (kind == 0 || kind > 10) return std::nullopt;
    // With the minimum length checked, every field read below succeeds.
    if (body.size() < kMinimumLength[kind]) return std::nullopt;
    Cursor in(body.subspan(1));
    return decode_fields(kind, in);
}

bool is_valid_utf8(ByteView bytes) {
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        const std::uint8_t b = bytes[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        std::size_t extra;
        std::uint8_t low = 0x80, high = 0xBF;  // range of the second byte
        if (b >= 0xC2 && b <= 0xDF) {
            extra = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            extra = 2;
            if (b == 0xE0) low = 0xA0;        // no overlong forms
            else if (b == 0xED) high = 0x9F;  // no surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            extra = 3;
            if (b == 0xF0) low = 0x90;
            else if (b == 0xF4) high = 0x8F;  // nothing above U+10FFFF
        } else {
            return false;
        }
        if (n - i <= extra) return false;
        if (bytes[i + 1] < low || bytes[i + 1] > high) return false;
        for (std::size_t k = 2; k <= extra; ++k)
            if (bytes[i + k] < 0x80 || bytes[i + k] > 0xBF) return false;
        i += extra + 1;
    }
    return true;
}

}  // namespace vorlix
