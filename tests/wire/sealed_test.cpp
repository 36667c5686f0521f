#include "wire/sealed.h"

#include <gtest/gtest.h>

namespace vorlix {
namespace {

Key32 test_key(std::uint8_t seed) {
    Key32 key;
    for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(seed + i * 3);
    return key;
}

// The body of the Sealed frame, as cut_frame would deliver it.
ByteView sealed_body(const Bytes& frame) { return ByteView(frame).subspan(kFrameHeaderSize); }

TEST(SealedFrame, EmptyBodyIsTwentyTwoBytes) {
    SealingKey send(test_key(1));
    SealingKey receive(test_key(1));
    const Bytes frame = seal_frame(send, FrameType::Control, {});
    ASSERT_EQ(frame.size(), 22u);
    EXPECT_EQ(get_u32_be(frame.data()), 18u);
    EXPECT_EQ(frame[4], 0x03);
    EXPECT_EQ(send.counter(), 1u);

    const auto opened = open_frame(receive, sealed_body(frame));
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->type, FrameType::Control);
    EXPECT_TRUE(opened->body.empty());
    EXPECT_EQ(receive.counter(), 1u);
}

TEST(SealedFrame, RoundTripsThroughFrameCutting) {
    SealingKey send(test_key(2));
    SealingKey receive(test_key(2));
    const FrameType types[] = {FrameType::Control, FrameType::Video, FrameType::Audio, FrameType::Video2,
                               FrameType::MicAudio, FrameType::Camera, FrameType::FileData, FrameType::Input};
    std::size_t size = 1;
    for (FrameType type : types) {
        Bytes body(size);
        for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<std::uint8_t>(i ^ size);
        const Bytes frame = seal_frame(send, type, body);
        EXPECT_EQ(frame.size(), body.size() + kSealedOverhead);
        // The plaintext does not show through.
        EXPECT_NE(Bytes(frame.begin() + 6, frame.begin() + 6 + static_cast<std::ptrdiff_t>(size)), body);

        CutResult cut = cut_frame(frame);
        ASSERT_TRUE(std::holds_alternative<CutFrame>(cut));
        const Frame& outer = std::get<CutFrame>(cut).frame;
        EXPECT_EQ(outer.type, FrameType::Sealed);
        const auto opened = open_frame(receive, outer.body);
        ASSERT_TRUE(opened) << frame_type_name(type);
        EXPECT_EQ(opened->type, type);
        EXPECT_EQ(opened->body, body);
        size = size * 7 + 3;
    }
    EXPECT_EQ(send.counter(), 8u);
    EXPECT_EQ(receive.counter(), 8u);
}

TEST(SealedFrame, NonceIsFourZerosThenTheCounter) {
    EXPECT_EQ(hex_lower(sealing_nonce(0)), "000000000000000000000000");
    EXPECT_EQ(hex_lower(sealing_nonce(1)), "000000000000000000000001");
    EXPECT_EQ(hex_lower(sealing_nonce(256)), "000000000000000000000100");
    EXPECT_EQ(hex_lower(sealing_nonce(0x0102030405060708ull)), "000000000102030405060708");

    // Frames 1, 2 and 257 of a key are sealed under exactly those nonces.
    const Key32 key = test_key(3);
    SealingKey send(key);
    const Bytes body = to_bytes("pointer");
    const std::pair<std::uint64_t, const char*> expected[] = {
        {1, "000000000000000000000000"}, {2, "000000000000000000000001"}, {257, "000000000000000000000100"}};
    std::uint64_t frame_number = 0;
    for (const auto& [wanted, nonce_hex] : expected) {
        Bytes frame;
        while (frame_number < wanted) {
            frame = seal_frame(send, FrameType::Input, body);
            ++frame_number;
        }
        Nonce12 nonce{};
        for (std::size_t i = 0; i < 12; ++i)
            nonce[i] = static_cast<std::uint8_t>(std::stoi(std::string(nonce_hex + 2 * i, 2), nullptr, 16));
        Bytes plain{static_cast<std::uint8_t>(FrameType::Input)};
        append(plain, body);
        std::uint8_t tag[kAeadTagSize];
        chacha20_poly1305_seal_in_place(key, nonce, {}, plain.data(), plain.size(), tag);
        Bytes wanted_frame{0, 0, 0, static_cast<std::uint8_t>(body.size() + 18), 0x03};
        append(wanted_frame, plain);
        append(wanted_frame, ByteView(tag, sizeof tag));
        EXPECT_EQ(frame, wanted_frame) << "frame " << wanted;
    }
}

TEST(SealedFrame, FailedOpenLeavesTheCounter) {
    SealingKey send(test_key(4));
    SealingKey receive(test_key(4));
    const Bytes frame = seal_frame(send, FrameType::Control, to_bytes("{\"ping\":{}}"));

    const Bytes sixteen(16, 0);
    EXPECT_FALSE(open_frame(receive, sixteen));
    EXPECT_EQ(receive.counter(), 0u);

    Bytes bad_tag(sealed_body(frame).begin(), sealed_body(frame).end());
    bad_tag.back() ^= 0x80;
    EXPECT_FALSE(open_frame(receive, bad_tag));
    EXPECT_EQ(receive.counter(), 0u);

    SealingKey wrong(test_key(5));
    EXPECT_FALSE(open_frame(wrong, sealed_body(frame)));
    EXPECT_EQ(wrong.counter(), 0u);

    // Untouched, so the real frame still opens.
    EXPECT_TRUE(open_frame(receive, sealed_body(frame)));
    EXPECT_EQ(receive.counter(), 1u);
}

TEST(SealedFrame, FrameFromAheadOrRepeatedDoesNotOpen) {
    SealingKey send(test_key(6));
    SealingKey receive(test_key(6));
    std::vector<Bytes> frames;
    for (int i = 0; i < 6; ++i) frames.push_back(seal_frame(send, FrameType::Input, Bytes{2, 0, 0, 0, 0, 0, 0, 0, 0}));
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(open_frame(receive, sealed_body(frames[i])));
    ASSERT_EQ(receive.counter(), 4u);
    EXPECT_FALSE(open_frame(receive, sealed_body(frames[5])));  // sealed under counter 5
    EXPECT_EQ(receive.counter(), 4u);
    EXPECT_FALSE(open_frame(receive, sealed_body(frames[3])));  // repeated
    EXPECT_EQ(receive.counter(), 4u);
    EXPECT_TRUE(open_frame(receive, sealed_body(frames[4])));
}

TEST(SealedFrame, RefusedInnerTypeStillAdvancesTheCounter) {
    SealingKey send(test_key(7));
    SealingKey receive(test_key(7));
    for (FrameType refused : {FrameType::Hello, FrameType::Handshake, FrameType::Sealed}) {
        const Bytes frame = seal_frame(send, refused, to_bytes("x"));
        const std::uint64_t before = receive.counter();
        EXPECT_FALSE(open_frame(receive, sealed_body(frame))) << frame_type_name(refused);
        EXPECT_EQ(receive.counter(), before + 1) << frame_type_name(refused);
    }
    // In step with the sender, so its next frame opens.
    const Bytes next = seal_frame(send, FrameType::Control, to_bytes("y"));
    const auto opened = open_frame(receive, sealed_body(next));
    ASSERT_TRUE(opened);
    EXPECT_EQ(to_string(opened->body), "y");
}

TEST(SealedFrame, AnyFlippedBitAfterTheOuterTypeFails) {
    const Key32 key = test_key(8);
    SealingKey send(key);
    const Bytes frame = seal_frame(send, FrameType::Input, Bytes{10, 3});
    const ByteView body = sealed_body(frame);
    for (std::size_t bit = 0; bit < body.size() * 8; ++bit) {
        Bytes changed(body.begin(), body.end());
        changed[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
        SealingKey receive(key);
        EXPECT_FALSE(open_frame(receive, changed)) << "bit " << bit;
        EXPECT_EQ(receive.counter(), 0u);
    }
}

TEST(SealedFrame, MovedKeyKeepsKeyAndCounter) {
    SealingKey send(test_key(9));
    SealingKey receive(test_key(9));
    const Bytes first = seal_frame(send, FrameType::Control, to_bytes("1"));
    SealingKey moved_send = std::move(send);
    const Bytes second = seal_frame(moved_send, FrameType::Control, to_bytes("2"));
    EXPECT_EQ(moved_send.counter(), 2u);

    ASSERT_TRUE(open_frame(receive, sealed_body(first)));
    SealingKey moved_receive(test_key(0));
    moved_receive = std::move(receive);
    const auto opened = open_frame(moved_receive, sealed_body(second));
    ASSERT_TRUE(opened);
    EXPECT_EQ(to_string(opened->body), "2");
}

}  // namespace
}  // namespace vorlix
