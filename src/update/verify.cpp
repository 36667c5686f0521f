#include "update/verify.h"

#include <algorithm>
#include <cstring>

#include "app/text.h"
#include "json/base64.h"

namespace vorlix {
namespace {

// Little-endian numbers of the curve: the group order L, the field prime p,
// and the y coordinates of the points of order 8 (and their negations).
constexpr Key32 kGroupOrder = {0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7,
                               0xa2, 0xde, 0xf9, 0xde, 0x14, 0,    0,    0,    0,    0,    0,
                               0,    0,    0,    0,    0,    0,    0,    0,    0,    0x10};
constexpr Key32 kOrder8Y = {0x26, 0xe8, 0x95, 0x8f, 0xc2, 0xb2, 0x27, 0xb0, 0x45, 0xc3, 0xf4,
                            0x89, 0xf2, 0xef, 0x98, 0xf0, 0xd5, 0xdf, 0xac, 0x05, 0xd3, 0xc6,
                            0x33, 0x39, 0xb1, 0x38, 0x02, 0x88, 0x6d, 0x53, 0xfc, 0x05};
constexpr Key32 kOrder8NegY = {0xc7, 0x17, 0x6a, 0x70, 0x3d, 0x4d, 0xd8, 0x4f, 0xba, 0x3c, 0x0b,
                               0x76, 0x0d, 0x10, 0x67, 0x0f, 0x2a, 0x20, 0x53, 0xfa, 0x2c, 0x39,
                               0xcc, 0xc6, 0x4e, 0xc7, 0xfd, 0x77, 0x92, 0xac, 0x03, 0x7a};

// a < b for little-endian 256-bit numbers.
bool less_le(const std::uint8_t* a, const Key32& b) {
    for (std::size_t i = 32; i-- > 0;) {
        if (a[i] != b[i]) return a[i] < b[i];
    }
    return false;
}

Key32 y_of(const std::uint8_t* point) {
    Key32 y;
    std::memcpy(y.data(), point, 32);
    y[31] &= 0x7f;
    return y;
}

// A point encoding whose y is below p and which is not one of the eight
// points of small order (y = 1, -1, 0 or the two order-8 values).
bool is_canonical_large_order(const std::uint8_t* point) {
    const Key32 y = y_of(point);
    Key32 p{};
    p.fill(0xff);
    p[0] = 0xed;
    p[31] = 0x7f;
    if (!less_le(y.data(), p)) return false;
    Key32 small{};
    if (y == small) return false;          // y = 0, order 4
    small[0] = 1;
    if (y == small) return false;          // identity
    small[0] = 0xec;
    std::fill(small.begin() + 1, small.end(), 0xff);
    small[31] = 0x7f;
    if (y == small) return false;          // y = -1, order 2
    return y != kOrder8Y && y != kOrder8NegY;
}

}  // namespace

std::string hex_digest(ByteView bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 15]);
    }
    return text;
}

std::optional<Key32> decode_update_key(std::string_view base64) {
    const std::optional<Bytes> bytes = base64_decode(base64);
    if (!bytes || bytes->size() != 32 || !is_canonical_large_order(bytes->data())) return std::nullopt;
    Key32 key;
    std::copy(bytes->begin(), bytes->end(), key.begin());
    return key;
}

bool ed25519_verify_strict(const Key32& public_key, ByteView message, const Signature64& signature) {
    if (!less_le(signature.data() + 32, kGroupOrder)) return false;
    if (!is_canonical_large_order(signature.data()) || !is_canonical_large_order(public_key.data())) return false;
    return ed25519_verify_long(public_key, message, signature);
}

Result<void> verify_download(ByteView bytes, const Download& download, const Key32& key) {
    if (bytes.size() != download.size) {
        return Error("the download is " + std::to_string(bytes.size()) + " bytes, not " +
                     std::to_string(download.size));
    }
    const Digest32 digest = sha256(bytes);
    const std::string hex = hex_digest(digest);
    const bool same = hex.size() == download.sha256.size() &&
                      std::equal(hex.begin(), hex.end(), download.sha256.begin(), [](char a, char b) {
                          return a == ((b >= 'A' && b <= 'Z') ? static_cast<char>(b - 'A' + 'a') : b);
                      });
    if (!same) return Error("the download's SHA-256 does not match");
    const std::optional<Bytes> raw = base64_decode(trim_unicode_space(download.signature));
    if (!raw || raw->size() != 64) return Error("the signature is not 64 bytes");
    Signature64 signature;
    std::copy(raw->begin(), raw->end(), signature.begin());
    if (!ed25519_verify_strict(key, bytes, signature)) return Error("the signature does not match");
    return {};
}

}  // namespace vorlix
