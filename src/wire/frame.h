// Frames: the unit of everything sent on a link. A frame is a 4-byte
// big-endian length L (the type byte plus the body), a one-byte FrameType and
// L - 1 body bytes, with 1 <= L <= 0x4000000.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "util/bytes.h"

namespace vorlix {

enum class FrameType : std::uint8_t {
    Hello = 0x01,
    Handshake = 0x02,
    Sealed = 0x03,
    Control = 0x10,
    Video = 0x20,
    Audio = 0x21,
    Video2 = 0x22,
    MicAudio = 0x23,
    Camera = 0x24,
    FileData = 0x25,
    Input = 0x30,
};

// The largest length field: the type byte and a body of 67,108,863 bytes.
constexpr std::uint32_t kMaxFrameLength = 0x4000000;
constexpr std::size_t kMaxFrameBody = kMaxFrameLength - 1;
constexpr std::size_t kFrameHeaderSize = 5;  // length and type

// True when the byte is one of the FrameType values.
constexpr bool is_frame_type(std::uint8_t value) {
    return value <= 0x30 && ((0x1003F0001000EULL >> value) & 1) != 0;
}

std::optional<FrameType> frame_type_from_byte(std::uint8_t value);

// The name printed in log lines: "Hello", "Sealed", "FileData", ...
std::string_view frame_type_name(FrameType type);

// A framing failure; either form ends the link.
class FrameError {
public:
    enum class Kind { TooLarge, UnknownType };

    static FrameError too_large() { return FrameError(Kind::TooLarge, 0); }
    static FrameError unknown_type(std::uint8_t type) { return FrameError(Kind::UnknownType, type); }

    Kind kind() const { return kind_; }
    std::uint8_t type_byte() const { return type_; }  // for UnknownType
    // "frame too large" or "unknown frame type {:x}".
    std::string text() const;

    bool operator==(const FrameError&) const = default;

private:
    FrameError(Kind kind, std::uint8_t type) : kind_(kind), type_(type) {}
    Kind kind_;
    std::uint8_t type_;
};

struct Frame {
    FrameType type;
    Bytes body;
};

// The bytes of one plain frame; the body must be at most kMaxFrameBody bytes.
Bytes encode_plain_frame(FrameType type, ByteView body);

// What cut_frame found at the front of the pending bytes.
struct NeedMoreBytes {};
struct CutFrame {
    Frame frame;
    std::size_t consumed;  // always the length field + 4
};
using CutResult = std::variant<NeedMoreBytes, CutFrame, FrameError>;

// A whole frame seen in place in the pending bytes: the body stays valid
// until those bytes change.
struct FrameView {
    FrameType type;
    ByteView body;
    std::size_t consumed;  // always the length field + 4
};
using PeekResult = std::variant<NeedMoreBytes, FrameView, FrameError>;

// cut_frame without the copy of the body.
PeekResult peek_frame(ByteView pending);

// Looks at the unconsumed bytes of a link's receive buffer. Nothing is
// consumed unless a whole frame is there; a bad length is reported as soon as
// its 4 bytes are, without waiting for the rest of the frame.
CutResult cut_frame(ByteView pending);

}  // namespace vorlix
