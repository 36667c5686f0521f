#include "crypto/crypto.h"

#include <gtest/gtest.h>

#include <string>
#include <cstring>

namespace vorlix {
namespace {

Bytes from_hex(std::string_view hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return out;
}

template <std::size_t N>
std::array<std::uint8_t, N> array_from_hex(std::string_view hex) {
    Bytes bytes = from_hex(hex);
    std::array<std::uint8_t, N> out{};
    EXPECT_EQ(bytes.size(), N);
    std::copy_n(bytes.begin(), std::min(N, bytes.size()), out.begin());
    return out;
}

// --- hashes, HMAC, HKDF ------------------------------------------------------

TEST(Hashes, KnownDigests) {
    EXPECT_EQ(hex_lower(sha256(to_bytes("abc"))),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hex_lower(sha256({})), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hex_lower(sha512(to_bytes("abc"))),
              "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
              "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f");
}

TEST(Hashes, HmacSha256Rfc4231Case2) {
    EXPECT_EQ(hex_lower(hmac_sha256(to_bytes("Jefe"), to_bytes("what do ya want for nothing?"))),
              "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
}

TEST(Hkdf, Rfc5869CaseA1) {
    const Bytes ikm(22, 0x0b);
    const Bytes salt = from_hex("000102030405060708090a0b0c");
    const Bytes info = from_hex("f0f1f2f3f4f5f6f7f8f9");
    // The extract step alone is HMAC(salt, IKM).
    EXPECT_EQ(hex_lower(hmac_sha256(salt, ikm)),
              "077709362c2e32df0ddc3f0dc47bba6390b6c73bb50f9c3122ec844ad7c2b3e5");
    EXPECT_EQ(hex_lower(hkdf_sha256(salt, ikm, info, 42)),
              "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865");
}

TEST(Hkdf, Rfc5869CaseA3EmptySaltAndInfo) {
    const Bytes ikm(22, 0x0b);
    EXPECT_EQ(hex_lower(hkdf_sha256({}, ikm, {}, 42)),
              "8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8");
}

TEST(Hkdf, ShortOutputIsPrefixOfLongerOne) {
    const Bytes ikm = to_bytes("input key material");
    const Bytes longer = hkdf_sha256(to_bytes("salt"), ikm, to_bytes("info"), 100);
    const Bytes shorter = hkdf_sha256(to_bytes("salt"), ikm, to_bytes("info"), 32);
    ASSERT_EQ(longer.size(), 100u);
    ASSERT_EQ(shorter.size(), 32u);
    EXPECT_TRUE(std::equal(shorter.begin(), shorter.end(), longer.begin()));
}

// --- X25519 -------------------------------------------------------------------

TEST(X25519, Rfc7748Section61) {
    const Key32 alice = array_from_hex<32>("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
    const Key32 bob = array_from_hex<32>("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb");
    const Key32 alice_public = x25519_public_key(alice);
    const Key32 bob_public = x25519_public_key(bob);
    EXPECT_EQ(hex_lower(alice_public), "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a");
    EXPECT_EQ(hex_lower(bob_public), "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f");
    const auto from_alice = x25519_shared_secret(alice, bob_public);
    const auto from_bob = x25519_shared_secret(bob, alice_public);
    ASSERT_TRUE(from_alice && from_bob);
    EXPECT_EQ(hex_lower(*from_alice), "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742");
    EXPECT_EQ(*from_alice, *from_bob);
}

TEST(X25519, TopBitOfPeerKeyIsIgnored) {
    const Key32 alice = array_from_hex<32>("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
    Key32 bob_public = array_from_hex<32>("de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f");
    bob_public[31] |= 0x80;
    const auto shared = x25519_shared_secret(alice, bob_public);
    ASSERT_TRUE(shared);
    EXPECT_EQ(hex_lower(*shared), "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742");
}

TEST(X25519, SmallOrderPeerKeysGiveNoSecret) {
    const Key32 secret = array_from_hex<32>("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
    const Key32 zero{};
    Key32 one{};
    one[0] = 1;
    // The order-8 point listed among the known low-order points of curve25519.
    const Key32 order8 = array_from_hex<32>("e0eb7a7c3b41b8ae1656e3faf19fc46ada098deb9c32b1fd866205165f49b800");
    EXPECT_FALSE(x25519_shared_secret(secret, zero));
    EXPECT_FALSE(x25519_shared_secret(secret, one));
    EXPECT_FALSE(x25519_shared_secret(secret, order8));
}

TEST(X25519, SecretIsClampedBeforeUse) {
    Key32 secret = array_from_hex<32>("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
    const Key32 expected = x25519_public_key(secret);
    // The bits that clamping sets or clears do not change the result.
    secret[0] |= 7;
    secret[31] |= 0x80;
    secret[31] &= static_cast<std::uint8_t>(~0x40);
    EXPECT_EQ(x25519_public_key(secret), expected);
}

// --- Ed25519 --------------------------------------------------------------------

TEST(Ed25519, Rfc8032Section71Test1) {
    const Key32 seed = array_from_hex<32>("9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60");
    const Ed25519KeyPair keys = ed25519_from_seed(seed);
    EXPECT_EQ(hex_lower(keys.public_key), "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a");
    EXPECT_EQ(keys.secret_key, seed);
    const Signature64 signature = ed25519_sign(keys, {});
    EXPECT_EQ(hex_lower(signature),
              "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b");
    EXPECT_TRUE(ed25519_verify(keys.public_key, {}, signature));
}

TEST(Ed25519, SeedWithLeadingZerosKeepsThem) {
    // Cross-checked with an independent Ed25519 implementation.
    const Key32 seed = array_from_hex<32>("00000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e");
    const Ed25519KeyPair keys = ed25519_from_seed(seed);
    EXPECT_EQ(hex_lower(keys.public_key), "c955740507c0730f6ecd9907dca92f42c03ce697401b75ed10e44ae0f7db18a7");
    EXPECT_EQ(hex_lower(ed25519_sign(keys, to_bytes("abc"))),
              "87f3717c775cc990989beb855f486099adc57fc89311022d86477bf4dca3cee5"
              "3f57cae9b6659e7acec104f5d28c71837e215d0d21fb67b1689e78756194400e");
}

TEST(Ed25519, VerifyRefusesChangedMessageSignatureOrKey) {
    Key32 seed{};
    seed.fill(0x42);
    const Ed25519KeyPair keys = ed25519_from_seed(seed);
    const Bytes message = to_bytes("vorlix/1 device transcript");
    const Signature64 signature = ed25519_sign(keys, message);
    ASSERT_TRUE(ed25519_verify(keys.public_key, message, signature));

    Bytes changed = message;
    changed.back() ^= 1;
    EXPECT_FALSE(ed25519_verify(keys.public_key, changed, signature));

    for (std::size_t i : {0u, 31u, 32u, 63u}) {
        Signature64 bad = signature;
        bad[i] ^= 0x01;
        EXPECT_FALSE(ed25519_verify(keys.public_key, message, bad)) << "byte " << i;
    }

    Key32 other_seed{};
    other_seed.fill(0x43);
    EXPECT_FALSE(ed25519_verify(ed25519_from_seed(other_seed).public_key, message, signature));

    // A y-coordinate with no point on the curve is not a valid public key.
    const Key32 not_a_point = array_from_hex<32>("0200000000000000000000000000000000000000000000000000000000000000");
    EXPECT_FALSE(ed25519_verify(not_a_point, message, signature));
    // p + 1 is not a canonical encoding.
    const Key32 not_canonical = array_from_hex<32>("eeffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f");
    EXPECT_FALSE(ed25519_verify(not_canonical, message, signature));
}

TEST(Ed25519, KeysWithASmallYAreRefusedWithoutStoppingTheProcess) {
    Key32 seed{};
    seed.fill(0x42);
    const Ed25519KeyPair keys = ed25519_from_seed(seed);
    const Bytes message = to_bytes("m");
    const Signature64 signature = ed25519_sign(keys, message);
    // The identity point (y = 1) and a point with y = 2^184: both on the curve,
    // both of the kind the library cannot take.
    Key32 identity{};
    identity[0] = 1;
    Key32 small_y{};
    small_y[23] = 1;
    EXPECT_FALSE(ed25519_verify(identity, message, signature));
    EXPECT_FALSE(ed25519_verify(small_y, message, signature));
    // A signature whose R is such a point is just a bad signature.
    Signature64 small_r = signature;
    std::fill(small_r.begin(), small_r.begin() + 32, 0);
    small_r[0] = 1;
    EXPECT_FALSE(ed25519_verify(keys.public_key, message, small_r));
}

// --- ChaCha20-Poly1305 -------------------------------------------------------------

constexpr std::string_view kSunscreen =
    "Ladies and Gentlemen of the class of '99: If I could offer you only one tip for the future, "
    "sunscreen would be it.";
constexpr std::string_view kSunscreenCipher =
    "d31a8d34648e60db7b86afbc53ef7ec2a4aded51296e08fea9e2b5a736ee62d63dbea45e8ca9671282fafb69da92728b"
    "1a71de0a9e060b2905d6a5b67ecd3b3692ddbd7f2d778b8c9803aee328091b58fab324e4fad675945585808b4831d7bc"
    "3ff4def08e4b7a9de576d26586cec64b6116";

struct AeadVector {
    Key32 key;
    Nonce12 nonce;
    Bytes aad;
};

AeadVector rfc8439_vector() {
    AeadVector v;
    for (std::size_t i = 0; i < 32; ++i) v.key[i] = static_cast<std::uint8_t>(0x80 + i);
    v.nonce = array_from_hex<12>("070000004041424344454647");
    v.aad = from_hex("50515253c0c1c2c3c4c5c6c7");
    return v;
}

TEST(ChaCha20Poly1305, Rfc8439Section282SealsAndOpens) {
    const AeadVector v = rfc8439_vector();
    Bytes data = to_bytes(kSunscreen);
    std::uint8_t tag[kAeadTagSize];
    chacha20_poly1305_seal_in_place(v.key, v.nonce, v.aad, data.data(), data.size(), tag);
    EXPECT_EQ(hex_lower(data), kSunscreenCipher);
    EXPECT_EQ(hex_lower(ByteView(tag, sizeof tag)), "1ae10b594f09e26a7e902ecbd0600691");

    ASSERT_TRUE(chacha20_poly1305_open_in_place(v.key, v.nonce, v.aad, data.data(), data.size(), tag));
    EXPECT_EQ(to_string(data), kSunscreen);
}

TEST(ChaCha20Poly1305, OpenRefusesAnyChange) {
    const AeadVector v = rfc8439_vector();
    const Bytes cipher = from_hex(kSunscreenCipher);
    const Bytes tag = from_hex("1ae10b594f09e26a7e902ecbd0600691");

    auto opens = [&](Bytes data, Bytes t, Bytes aad, Nonce12 nonce) {
        return chacha20_poly1305_open_in_place(v.key, nonce, aad, data.data(), data.size(), t.data());
    };
    ASSERT_TRUE(opens(cipher, tag, v.aad, v.nonce));

    Bytes bad_cipher = cipher;
    bad_cipher[57] ^= 0x20;
    EXPECT_FALSE(opens(bad_cipher, tag, v.aad, v.nonce));
    Bytes bad_tag = tag;
    bad_tag[15] ^= 0x01;
    EXPECT_FALSE(opens(cipher, bad_tag, v.aad, v.nonce));
    EXPECT_FALSE(opens(cipher, tag, {}, v.nonce));
    Nonce12 other_nonce = v.nonce;
    other_nonce[11] ^= 1;
    EXPECT_FALSE(opens(cipher, tag, v.aad, other_nonce));
}

TEST(ChaCha20Poly1305, ReusableCipherMatchesOneShotAcrossMessages) {
    const AeadVector v = rfc8439_vector();
    ChaCha20Poly1305 cipher(v.key);
    for (std::size_t size : {0u, 1u, 63u, 64u, 65u, 1000u}) {
        Bytes a(size), b(size);
        for (std::size_t i = 0; i < size; ++i) a[i] = b[i] = static_cast<std::uint8_t>(i * 7);
        std::uint8_t tag_a[kAeadTagSize], tag_b[kAeadTagSize];
        chacha20_poly1305_seal_in_place(v.key, v.nonce, {}, a.data(), a.size(), tag_a);
        cipher.seal_in_place(v.nonce, {}, b.data(), b.size(), tag_b);
        EXPECT_EQ(a, b) << size;
        EXPECT_EQ(0, std::memcmp(tag_a, tag_b, kAeadTagSize)) << size;
        EXPECT_TRUE(cipher.open_in_place(v.nonce, {}, b.data(), b.size(), tag_b)) << size;
        tag_b[0] ^= 1;
        EXPECT_FALSE(cipher.open_in_place(v.nonce, {}, a.data(), a.size(), tag_b)) << size;
    }
    // The RFC message again, after failures, on the same object.
    Bytes data = to_bytes(kSunscreen);
    std::uint8_t tag[kAeadTagSize];
    cipher.seal_in_place(v.nonce, v.aad, data.data(), data.size(), tag);
    EXPECT_EQ(hex_lower(data), kSunscreenCipher);

    ChaCha20Poly1305 moved = std::move(cipher);
    EXPECT_TRUE(moved.open_in_place(v.nonce, v.aad, data.data(), data.size(), tag));
    EXPECT_EQ(to_string(data), kSunscreen);
}

// --- wiping ------------------------------------------------------------

TEST(Wipe, ZeroesEveryByte) {
    Key32 key;
    key.fill(0xA5);
    wipe_key32(key);
    EXPECT_EQ(key, Key32{});
    Bytes bytes(100, 0x5A);
    wipe_bytes(bytes.data(), bytes.size());
    EXPECT_EQ(bytes, Bytes(100, 0));
}

}  // namespace
}  // namespace vorlix
