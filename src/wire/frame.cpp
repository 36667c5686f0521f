// GCC 12 reports false out-of-bounds writes inside vector::insert after
// reserve (its inlined memmove); the code below writes inside the reserve.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Warray-bounds"
#pragma GCC diagnostic ignored "-Wstringop-overflow"
#endif

#include "wire/frame.h"

#include <cassert>
#include <cstdio>

namespace vorlix {

std::optional<FrameType> frame_type_from_byte(std::uint8_t value) {
    if (!is_frame_type(value)) return std::nullopt;
    return static_cast<FrameType>(value);
}

std::string_view frame_type_name(FrameType type) {
    switch (type) {
        case FrameType::Hello: return "Hello";
        case FrameType::Handshake: return "Handshake";
        case FrameType::Sealed: return "Sealed";
        case FrameType::Control: return "Control";
        case FrameType::Video: return "Video";
        case FrameType::Audio: return "Audio";
        case FrameType::Video2: return "Video2";
        case FrameType::MicAudio: return "MicAudio";
        case FrameType::Camera: return "Camera";
        case FrameType::FileData: return "FileData";
        case FrameType::Input: return "Input";
    }
    return "unknown";
}

std::string FrameError::text() const {
    if (kind_ == Kind::TooLarge) return "frame too large";
    char hex[8];
    std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(type_));
    return std::string("unknown frame type ") + hex;
}

Bytes encode_plain_frame(FrameType type, ByteView body) {
    assert(body.size() <= kMaxFrameBody);
    std::uint8_t header[kFrameHeaderSize];
    put_u32_be(header, static_cast<std::uint32_t>(body.size() + 1));
    header[4] = static_cast<std::uint8_t>(type);
    Bytes out;
    out.reserve(kFrameHeaderSize + body.size());
    out.insert(out.end(), header, header + sizeof header);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

PeekResult peek_frame(ByteView pending) {
    if (pending.size() < 4) return NeedMoreBytes{};
    const std::uint32_t length = get_u32_be(pending.data());
    if (length == 0 || length > kMaxFrameLength) return FrameError::too_large();
    if (pending.size() - 4 < length) return NeedMoreBytes{};
    const std::uint8_t type = pending[4];
    if (!is_frame_type(type)) return FrameError::unknown_type(type);
    return FrameView{static_cast<FrameType>(type), pending.subspan(kFrameHeaderSize, length - 1),
                     std::size_t{length} + 4};
}

CutResult cut_frame(ByteView pending) {
    PeekResult peeked = peek_frame(pending);
    if (auto* need = std::get_if<NeedMoreBytes>(&peeked)) return *need;
    if (auto* error = std::get_if<FrameError>(&peeked)) return *error;
    const FrameView& view = std::get<FrameView>(peeked);
    return CutFrame{Frame{view.type, Bytes(view.body.begin(), view.body.end())}, view.consumed};
}

}  // namespace vorlix
