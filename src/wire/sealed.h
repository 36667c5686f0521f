// Sealed frames: after sign-in every frame on a link is a Sealed frame whose
// payload is the inner type byte and body, encrypted with ChaCha20-Poly1305
// under the key of its direction. The nonce is 4 zero bytes and the key's
// frame counter, big-endian; there is no associated data.
#pragma once

#include <cstdint>
#include <optional>

#include "crypto/crypto.h"
#include "wire/frame.h"

namespace vorlix {

// Bytes a sealed frame adds to its inner body: header, inner type and tag.
constexpr std::size_t kSealedOverhead = kFrameHeaderSize + 1 + kAeadTagSize;  // 22
// The shortest sealed body that can open: the inner type byte and the tag.
constexpr std::size_t kMinSealedBody = 1 + kAeadTagSize;  // 17

// One direction of one link: its key and the number of frames sealed (or
// opened) with it. One owner at a time; the key is wiped when released.
class SealingKey {
public:
    explicit SealingKey(const Key32& key);
    ~SealingKey();
    SealingKey(SealingKey&& other) noexcept;
    SealingKey& operator=(SealingKey&& other) noexcept;
    SealingKey(const SealingKey&) = delete;
    SealingKey& operator=(const SealingKey&) = delete;

    std::uint64_t counter() const { return counter_; }

private:
    friend Bytes seal_frame(SealingKey& key, FrameType inner_type, ByteView body);
    friend std::optional<Frame> open_frame(SealingKey& key, ByteView sealed_body);

    Key32 key_;
    std::uint64_t counter_ = 0;
    ChaCha20Poly1305 cipher_;
};

// The nonce of the frame numbered `counter`.
Nonce12 sealing_nonce(std::uint64_t counter);

// The inner types a sealed frame may carry: Control, Video, Audio, Video2,
// MicAudio, Camera, FileData and Input.
bool is_inner_frame_type(std::uint8_t value);

// The whole Sealed frame for the wire; advances the counter. The body must
// be at most kMaxFrameLength - 18 bytes long.
Bytes seal_frame(SealingKey& key, FrameType inner_type, ByteView body);

// Opens the body of a Sealed frame (as cut_frame gives it). Nothing when it is
// shorter than 17 bytes or its tag does not verify (the counter is then
// unchanged), or when its inner type is not one of the accepted ones (the
// counter has then moved on).
std::optional<Frame> open_frame(SealingKey& key, ByteView sealed_body);

}  // namespace vorlix
