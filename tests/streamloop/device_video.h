// The device's reading of a Video frame body: the header, the parameter
// sets and the length-prefixed NAL units, turned back into Annex-B for a
// decoder.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "stream/video_frame.h"
#include "util/bytes.h"

namespace vorlix::testing {

struct ParsedVideo {
    bool key = false;
    std::uint32_t number = 0;
    std::vector<Bytes> parameter_sets;
    Bytes data;
};

inline std::optional<ParsedVideo> parse_video(ByteView body) {
    if (body.size() < kVideoFrameHeaderSize) return std::nullopt;
    ParsedVideo v;
    v.key = (body[0] & 1) != 0;
    v.number = get_u32_be(body.data() + 1);
    std::size_t at = kVideoFrameHeaderSize;
    for (int i = 0; i < body[21]; ++i) {
        if (at + 2 > body.size()) return std::nullopt;
        const std::size_t len = get_u16_be(body.data() + at);
        at += 2;
        if (at + len > body.size()) return std::nullopt;
        v.parameter_sets.emplace_back(body.begin() + static_cast<std::ptrdiff_t>(at),
                                      body.begin() + static_cast<std::ptrdiff_t>(at + len));
        at += len;
    }
    v.data.assign(body.begin() + static_cast<std::ptrdiff_t>(at), body.end());
    return v;
}

inline Bytes annexb_of(const ParsedVideo& v) {
    Bytes out;
    for (const auto& set : v.parameter_sets) {
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), set.begin(), set.end());
    }
    std::size_t at = 0;
    while (at + 4 <= v.data.size()) {
        const std::uint32_t len = get_u32_be(v.data.data() + at);
        at += 4;
        if (at + len > v.data.size()) break;
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), v.data.begin() + static_cast<std::ptrdiff_t>(at),
                   v.data.begin() + static_cast<std::ptrdiff_t>(at + len));
        at += len;
    }
    return out;
}

}  // namespace vorlix::testing
