// GCC 12 reports false out-of-bounds writes inside vector::insert after
// reserve (its inlined memmove); the code below writes inside the reserve.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Warray-bounds"
#pragma GCC diagnostic ignored "-Wstringop-overflow"
#endif

#include "wire/sealed.h"

#include <algorithm>
#include <cassert>

namespace vorlix {

namespace {

// Appends `bytes` to reserved room in pieces of 2 KiB. Large copies in the C
// library use string instructions, which some processors run twenty times
// slower when the destination lies a few bytes past a multiple of 4096 from
// the source (as a frame body copied behind a header easily does); pieces of
// this size keep to the vector loop.
void append_in_pieces(Bytes& out, ByteView bytes) {
    constexpr std::size_t kPiece = 2048;
    for (std::size_t at = 0; at < bytes.size(); at += kPiece) {
        const auto piece = bytes.subspan(at, std::min(kPiece, bytes.size() - at));
        out.insert(out.end(), piece.begin(), piece.end());
    }
}

}  // namespace

SealingKey::SealingKey(const Key32& key) : key_(key), cipher_(key) {}

SealingKey::~SealingKey() { wipe_key32(key_); }

SealingKey::SealingKey(SealingKey&& other) noexcept
    : key_(other.key_), counter_(other.counter_), cipher_(std::move(other.cipher_)) {
    wipe_key32(other.key_);
}

SealingKey& SealingKey::operator=(SealingKey&& other) noexcept {
    if (this != &other) {
        key_ = other.key_;
        counter_ = other.counter_;
        cipher_ = std::move(other.cipher_);
        wipe_key32(other.key_);
    }
    return *this;
}

Nonce12 sealing_nonce(std::uint64_t counter) {
    Nonce12 nonce{};
    put_u64_be(nonce.data() + 4, counter);
    return nonce;
}

bool is_inner_frame_type(std::uint8_t value) {
    return is_frame_type(value) && value >= static_cast<std::uint8_t>(FrameType::Control);
}

Bytes seal_frame(SealingKey& key, FrameType inner_type, ByteView body) {
    assert(body.size() <= kMaxFrameLength - 18);
    // One allocation of the final size; every byte is written once before
    // being encrypted where it lies.
    std::uint8_t header[kFrameHeaderSize + 1];
    put_u32_be(header, static_cast<std::uint32_t>(body.size() + 18));
    header[4] = static_cast<std::uint8_t>(FrameType::Sealed);
    header[5] = static_cast<std::uint8_t>(inner_type);
    Bytes out;
    out.reserve(body.size() + kSealedOverhead);
    out.insert(out.end(), header, header + sizeof header);
    append_in_pieces(out, body);
    out.resize(out.size() + kAeadTagSize);

    std::uint8_t* plain = out.data() + kFrameHeaderSize;
    const std::size_t plain_size = body.size() + 1;
    key.cipher_.seal_in_place(sealing_nonce(key.counter_), {}, plain, plain_size, plain + plain_size);
    ++key.counter_;
    return out;
}

std::optional<Frame> open_frame(SealingKey& key, ByteView sealed_body) {
    if (sealed_body.size() < kMinSealedBody) return std::nullopt;
    const std::size_t cipher_size = sealed_body.size() - kAeadTagSize;
    // Decrypted straight from the sealed bytes: the inner type byte apart and
    // the body into its own storage, so nothing is copied or shifted.
    std::uint8_t inner = 0;
    Bytes body(cipher_size - 1);
    if (!key.cipher_.open_split(sealing_nonce(key.counter_), sealed_body.first(cipher_size),
                                sealed_body.data() + cipher_size, inner, body.data()))
        return std::nullopt;
    ++key.counter_;

    if (!is_inner_frame_type(inner)) return std::nullopt;
    return Frame{static_cast<FrameType>(inner), std::move(body)};
}

}  // namespace vorlix
