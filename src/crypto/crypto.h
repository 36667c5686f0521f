// The cryptographic building blocks of the host, all from libgcrypt:
// X25519 (RFC 7748), Ed25519 (RFC 8032), SHA-256, SHA-512, HMAC-SHA256,
// HKDF-SHA256 (RFC 5869) and ChaCha20-Poly1305 (RFC 8439).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <source_location>
#include <string_view>

#include "util/bytes.h"

namespace vorlix {

using Key32 = std::array<std::uint8_t, 32>;
using Digest32 = std::array<std::uint8_t, 32>;
using Digest64 = std::array<std::uint8_t, 64>;
using Signature64 = std::array<std::uint8_t, 64>;
using Nonce12 = std::array<std::uint8_t, 12>;

constexpr std::size_t kAeadTagSize = 16;

// Prepares libgcrypt once per process; every function below calls it, so
// callers need not. Safe to call from any thread.
void crypto_init();

// Ends the process with `message` after logging it, as a fatal error that the
// crash log records with the caller's place.
[[noreturn]] void crypto_fatal(std::string_view message,
                               std::source_location where = std::source_location::current());

// Overwrites the 32 bytes with zeros through stores the compiler may not remove.
void wipe_key32(Key32& key);
void wipe_bytes(void* data, std::size_t size);

// --- hashes and key derivation -------------------------------------------
Digest32 sha256(ByteView data);
Digest64 sha512(ByteView data);
Digest32 hmac_sha256(ByteView key, ByteView message);
// HKDF-SHA256 extract-then-expand; `length` at most 255 * 32.
Bytes hkdf_sha256(ByteView salt, ByteView input_key_material, ByteView info, std::size_t length);

// --- X25519 ----------------------------------------------------------------
// The public key of a secret scalar (clamped as RFC 7748 prescribes).
Key32 x25519_public_key(const Key32& secret);
// The shared secret, or nothing when it comes out all zero.
std::optional<Key32> x25519_shared_secret(const Key32& secret, const Key32& peer_public);

// --- Ed25519 ---------------------------------------------------------------
struct Ed25519KeyPair {
    Key32 public_key{};
    Key32 secret_key{};  // the 32-byte seed (RFC 8032 private key)
};

Ed25519KeyPair ed25519_from_seed(const Key32& seed);
Signature64 ed25519_sign(const Ed25519KeyPair& keys, ByteView message);
// False for a public key that is not a valid point, or a signature that does not verify.
bool ed25519_verify(const Key32& public_key, ByteView message, const Signature64& signature);
// The same for messages of any length (the two above take at most 64 KiB).
Signature64 ed25519_sign_long(const Ed25519KeyPair& keys, ByteView message);
bool ed25519_verify_long(const Key32& public_key, ByteView message, const Signature64& signature);

// --- ChaCha20-Poly1305 -------------------------------------------------------
// Encrypts `data` in place and writes the 16-byte tag to `tag`.
void chacha20_poly1305_seal_in_place(const Key32& key, const Nonce12& nonce, ByteView aad,
                                     std::uint8_t* data, std::size_t size, std::uint8_t* tag);
// Decrypts `data` in place when the tag verifies; false (data unspecified) otherwise.
bool chacha20_poly1305_open_in_place(const Key32& key, const Nonce12& nonce, ByteView aad,
                                     std::uint8_t* data, std::size_t size, const std::uint8_t* tag);

// A ChaCha20-Poly1305 cipher bound to one key, for sealing or opening many
// messages without preparing the cipher again. Move-only; the key schedule is
// wiped when the object is released.
class ChaCha20Poly1305 {
public:
    explicit ChaCha20Poly1305(const Key32& key);
    ~ChaCha20Poly1305();
    ChaCha20Poly1305(ChaCha20Poly1305&& other) noexcept;
    ChaCha20Poly1305& operator=(ChaCha20Poly1305&& other) noexcept;
    ChaCha20Poly1305(const ChaCha20Poly1305&) = delete;
    ChaCha20Poly1305& operator=(const ChaCha20Poly1305&) = delete;

    // As chacha20_poly1305_seal_in_place / _open_in_place, with this key.
    void seal_in_place(const Nonce12& nonce, ByteView aad, std::uint8_t* data, std::size_t size,
                       std::uint8_t* tag);
    bool open_in_place(const Nonce12& nonce, ByteView aad, std::uint8_t* data, std::size_t size,
                       const std::uint8_t* tag);
    // Opens `cipher` (at least one byte) without changing it: its first
    // plaintext byte goes to `first` and the rest to `rest`, which has room
    // for cipher.size() - 1 bytes. False, with the outputs unusable, when the
    // tag does not match.
    bool open_split(const Nonce12& nonce, ByteView cipher, const std::uint8_t* tag, std::uint8_t& first,
                    std::uint8_t* rest);

private:
    void* handle_ = nullptr;  // gcry_cipher_hd_t
};

}  // namespace vorlix
