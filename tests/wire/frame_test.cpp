#include "wire/frame.h"

#include <gtest/gtest.h>

#include <set>

namespace vorlix {
namespace {

// Feeds bytes to a receive buffer the way the reader loop does: after every
// arrival, cut frames while whole ones are there.
struct Receiver {
    Bytes pending;
    std::vector<Frame> frames;
    std::optional<FrameError> error;

    void arrive(ByteView bytes) {
        append(pending, bytes);
        while (!error && pending.size() >= 4) {
            CutResult result = cut_frame(pending);
            if (std::holds_alternative<NeedMoreBytes>(result)) break;
            if (auto* bad = std::get_if<FrameError>(&result)) {
                error = *bad;
                break;
            }
            auto& cut = std::get<CutFrame>(result);
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(cut.consumed));
            frames.push_back(std::move(cut.frame));
        }
    }
};

Bytes header(std::uint32_t length, std::uint8_t type) {
    Bytes out;
    append_u32_be(out, length);
    out.push_back(type);
    return out;
}

TEST(FrameType, ExactlyTheElevenTypesAreKnown) {
    const std::set<int> known = {0x01, 0x02, 0x03, 0x10, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x30};
    for (int b = 0; b < 256; ++b) {
        EXPECT_EQ(is_frame_type(static_cast<std::uint8_t>(b)), known.count(b) == 1) << b;
        EXPECT_EQ(frame_type_from_byte(static_cast<std::uint8_t>(b)).has_value(), known.count(b) == 1) << b;
    }
    EXPECT_EQ(frame_type_name(FrameType::Hello), "Hello");
    EXPECT_EQ(frame_type_name(FrameType::Sealed), "Sealed");
    EXPECT_EQ(frame_type_name(FrameType::Video2), "Video2");
    EXPECT_EQ(frame_type_name(FrameType::MicAudio), "MicAudio");
    EXPECT_EQ(frame_type_name(FrameType::FileData), "FileData");
    EXPECT_EQ(frame_type_name(FrameType::Input), "Input");
}

TEST(FrameError, TextsNameTheFault) {
    EXPECT_EQ(FrameError::too_large().text(), "frame too large");
    EXPECT_EQ(FrameError::unknown_type(0x04).text(), "unknown frame type 4");
    EXPECT_EQ(FrameError::unknown_type(0xFF).text(), "unknown frame type ff");
    EXPECT_EQ(FrameError::unknown_type(0x00).text(), "unknown frame type 0");
}

TEST(PlainFrame, EncodesLengthTypeAndBody) {
    EXPECT_EQ(encode_plain_frame(FrameType::Control, {}), (Bytes{0, 0, 0, 1, 0x10}));
    EXPECT_EQ(encode_plain_frame(FrameType::Hello, to_bytes("{}")), (Bytes{0, 0, 0, 3, 0x01, '{', '}'}));
}

TEST(CutFrame, FewerThanFourBytesNeedMore) {
    EXPECT_TRUE(std::holds_alternative<NeedMoreBytes>(cut_frame({})));
    const Bytes three{0, 0, 0};
    EXPECT_TRUE(std::holds_alternative<NeedMoreBytes>(cut_frame(three)));
}

TEST(CutFrame, LengthOneIsAnEmptyBody) {
    const Bytes bytes = encode_plain_frame(FrameType::Handshake, {});
    CutResult result = cut_frame(bytes);
    ASSERT_TRUE(std::holds_alternative<CutFrame>(result));
    const auto& cut = std::get<CutFrame>(result);
    EXPECT_EQ(cut.frame.type, FrameType::Handshake);
    EXPECT_TRUE(cut.frame.body.empty());
    EXPECT_EQ(cut.consumed, 5u);
}

TEST(CutFrame, BadLengthIsDecidedFromTheFourLengthBytes) {
    const Bytes zero{0, 0, 0, 0};
    const Bytes over{0x04, 0x00, 0x00, 0x01};  // 67,108,865
    const Bytes huge{0xFF, 0xFF, 0xFF, 0xFF};
    for (const Bytes& bytes : {zero, over, huge}) {
        CutResult result = cut_frame(bytes);
        ASSERT_TRUE(std::holds_alternative<FrameError>(result)) << hex_lower(bytes);
        EXPECT_EQ(std::get<FrameError>(result), FrameError::too_large());
    }
    // The largest length waits for its bytes instead.
    const Bytes largest = header(kMaxFrameLength, 0x25);
    EXPECT_TRUE(std::holds_alternative<NeedMoreBytes>(cut_frame(largest)));
}

TEST(CutFrame, LargestFrameIsDeliveredWhenComplete) {
    Bytes bytes = header(kMaxFrameLength, static_cast<std::uint8_t>(FrameType::FileData));
    bytes.resize(kMaxFrameLength + 4 - 1, 0xAB);
    EXPECT_TRUE(std::holds_alternative<NeedMoreBytes>(cut_frame(bytes)));
    bytes.push_back(0xCD);
    CutResult result = cut_frame(bytes);
    ASSERT_TRUE(std::holds_alternative<CutFrame>(result));
    const auto& cut = std::get<CutFrame>(result);
    EXPECT_EQ(cut.consumed, std::size_t{kMaxFrameLength} + 4);
    EXPECT_EQ(cut.frame.body.size(), kMaxFrameBody);
    EXPECT_EQ(cut.frame.body.back(), 0xCD);
}

TEST(CutFrame, UnknownTypeOnlyOnceTheWholeFrameIsThere) {
    Bytes bytes = header(5, 0x04);
    bytes.insert(bytes.end(), {1, 2, 3});
    EXPECT_TRUE(std::holds_alternative<NeedMoreBytes>(cut_frame(bytes)));
    bytes.push_back(4);
    CutResult result = cut_frame(bytes);
    ASSERT_TRUE(std::holds_alternative<FrameError>(result));
    EXPECT_EQ(std::get<FrameError>(result).text(), "unknown frame type 4");

    for (std::uint8_t type : {0x00, 0x11, 0x26, 0x31}) {
        const Bytes frame = header(1, type);
        CutResult r = cut_frame(frame);
        ASSERT_TRUE(std::holds_alternative<FrameError>(r)) << int(type);
        EXPECT_EQ(std::get<FrameError>(r), FrameError::unknown_type(type));
    }
    EXPECT_EQ(std::get<FrameError>(cut_frame(header(1, 0x11))).text(), "unknown frame type 11");
}

TEST(CutFrame, FrameArrivingOneByteAtATimeIsDeliveredOnce) {
    const Bytes frame = encode_plain_frame(FrameType::Hello, to_bytes("{\"version\":1}"));
    Receiver receiver;
    for (std::size_t i = 0; i < frame.size(); ++i) {
        receiver.arrive(ByteView(&frame[i], 1));
        EXPECT_EQ(receiver.frames.size(), i + 1 == frame.size() ? 1u : 0u) << "after byte " << i;
    }
    ASSERT_FALSE(receiver.error);
    ASSERT_EQ(receiver.frames.size(), 1u);
    EXPECT_EQ(receiver.frames[0].type, FrameType::Hello);
    EXPECT_EQ(to_string(receiver.frames[0].body), "{\"version\":1}");
    EXPECT_TRUE(receiver.pending.empty());
}

TEST(CutFrame, SeveralFramesInOneArrivalAreCutInOrder) {
    Bytes bytes = encode_plain_frame(FrameType::Hello, to_bytes("one"));
    append(bytes, encode_plain_frame(FrameType::Handshake, to_bytes("two")));
    const Bytes third = encode_plain_frame(FrameType::Handshake, to_bytes("three"));
    bytes.insert(bytes.end(), third.begin(), third.begin() + 2);

    Receiver receiver;
    receiver.arrive(bytes);
    ASSERT_EQ(receiver.frames.size(), 2u);
    EXPECT_EQ(receiver.frames[0].type, FrameType::Hello);
    EXPECT_EQ(to_string(receiver.frames[0].body), "one");
    EXPECT_EQ(receiver.frames[1].type, FrameType::Handshake);
    EXPECT_EQ(to_string(receiver.frames[1].body), "two");
    EXPECT_EQ(receiver.pending, Bytes(third.begin(), third.begin() + 2));

    receiver.arrive(ByteView(third).subspan(2));
    ASSERT_EQ(receiver.frames.size(), 3u);
    EXPECT_EQ(to_string(receiver.frames[2].body), "three");
    EXPECT_TRUE(receiver.pending.empty());
}

TEST(CutFrame, ErrorAfterGoodFramesStopsCutting) {
    Bytes bytes = encode_plain_frame(FrameType::Hello, to_bytes("a"));
    append(bytes, header(0, 0));
    append(bytes, encode_plain_frame(FrameType::Hello, to_bytes("b")));
    Receiver receiver;
    receiver.arrive(bytes);
    EXPECT_EQ(receiver.frames.size(), 1u);
    ASSERT_TRUE(receiver.error);
    EXPECT_EQ(receiver.error->text(), "frame too large");
}

}  // namespace
}  // namespace vorlix
