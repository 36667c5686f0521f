#include "crypto/crypto.h"

#include <gcrypt.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <mutex>
#include <string>
#include <vector>

#include "crash/crash_log.h"
#include "host/log.h"

namespace vorlix {

namespace {

constexpr const char* kSealFailure = "ChaCha20-Poly1305 seals any length used here";

// Owns one s-expression and releases it.
struct Sexp {
    gcry_sexp_t value = nullptr;
    Sexp() = default;
    Sexp(const Sexp&) = delete;
    Sexp& operator=(const Sexp&) = delete;
    ~Sexp() { gcry_sexp_release(value); }
};

struct EcContext {
    gcry_ctx_t value = nullptr;
    EcContext() = default;
    EcContext(const EcContext&) = delete;
    EcContext& operator=(const EcContext&) = delete;
    ~EcContext() { gcry_ctx_release(value); }
};

// Copies the data of the named token's first value into `out`, which must
// receive exactly out.size() bytes (shorter values are right-aligned).
bool copy_token(gcry_sexp_t list, const char* name, std::uint8_t* out, std::size_t size) {
    Sexp token;
    token.value = gcry_sexp_find_token(list, name, 0);
    if (!token.value) return false;
    std::size_t length = 0;
    const char* data = gcry_sexp_nth_data(token.value, 1, &length);
    if (!data || length > size) return false;
    std::memset(out, 0, size - length);
    std::memcpy(out + (size - length), data, length);
    return true;
}

void clamp_x25519(Key32& scalar) {
    scalar[0] &= 248;
    scalar[31] &= 127;
    scalar[31] |= 64;
}

struct Mpi {
    gcry_mpi_t value;
    Mpi() : value(gcry_mpi_new(0)) {}
    explicit Mpi(unsigned long n) : value(gcry_mpi_set_ui(nullptr, n)) {}
    Mpi(const Mpi&) = delete;
    Mpi& operator=(const Mpi&) = delete;
    ~Mpi() { gcry_mpi_release(value); }
};

// True when the 32 bytes are the encoding of a point of edwards25519
// (RFC 8032 5.1.3) that libgcrypt can take as a public key. libgcrypt 1.10
// aborts the whole process ("mulm_25519: different sizes") when verifying with
// a key whose y-coordinate is below 2^192, so such keys are refused here; an
// honestly made key is one of them with a chance of 2^-63, and the identity
// point (y = 1) is among them.
bool is_ed25519_point(const Key32& encoded) {
    bool high_limb_set = (encoded[31] & 0x7F) != 0;
    for (std::size_t i = 24; i < 31; ++i) high_limb_set = high_limb_set || encoded[i] != 0;
    if (!high_limb_set) return false;

    std::uint8_t big_endian[32];
    for (std::size_t i = 0; i < 32; ++i) big_endian[i] = encoded[31 - i];
    const bool x_odd = (big_endian[0] & 0x80) != 0;
    big_endian[0] &= 0x7F;

    Mpi p, y, d, one(1), y2, u, v, w, e;
    // p = 2^255 - 19
    gcry_mpi_set_bit(p.value, 255);
    gcry_mpi_sub_ui(p.value, p.value, 19);
    gcry_mpi_release(y.value);
    y.value = nullptr;
    if (gcry_mpi_scan(&y.value, GCRYMPI_FMT_USG, big_endian, sizeof big_endian, nullptr) != 0) return false;
    if (gcry_mpi_cmp(y.value, p.value) >= 0) return false;  // not canonical

    // d = -121665 / 121666 mod p
    Mpi n121665(121665), n121666(121666);
    gcry_mpi_invm(d.value, n121666.value, p.value);
    gcry_mpi_mulm(d.value, d.value, n121665.value, p.value);
    gcry_mpi_subm(d.value, p.value, d.value, p.value);

    // x^2 = (y^2 - 1) / (d y^2 + 1)
    gcry_mpi_mulm(y2.value, y.value, y.value, p.value);
    gcry_mpi_subm(u.value, y2.value, one.value, p.value);
    gcry_mpi_mulm(v.value, d.value, y2.value, p.value);
    gcry_mpi_addm(v.value, v.value, one.value, p.value);
    if (!gcry_mpi_invm(v.value, v.value, p.value)) return false;
    gcry_mpi_mulm(w.value, u.value, v.value, p.value);
    if (gcry_mpi_cmp_ui(w.value, 0) == 0) return !x_odd;  // x = 0 has no odd form

    // Euler's criterion: w is a square when w^((p-1)/2) = 1.
    gcry_mpi_sub_ui(e.value, p.value, 1);
    gcry_mpi_rshift(e.value, e.value, 1);
    gcry_mpi_powm(w.value, w.value, e.value, p.value);
    return gcry_mpi_cmp_ui(w.value, 1) == 0;
}

gcry_cipher_hd_t open_chacha(const Key32& key) {
    crypto_init();
    gcry_cipher_hd_t handle = nullptr;
    if (gcry_cipher_open(&handle, GCRY_CIPHER_CHACHA20, GCRY_CIPHER_MODE_POLY1305, 0) != 0)
        crypto_fatal("ChaCha20-Poly1305 is not available");
    if (gcry_cipher_setkey(handle, key.data(), key.size()) != 0) {
        gcry_cipher_close(handle);
        crypto_fatal("ChaCha20-Poly1305 refused a 32-byte key");
    }
    return handle;
}

void seal_with(gcry_cipher_hd_t handle, const Nonce12& nonce, ByteView aad, std::uint8_t* data,
               std::size_t size, std::uint8_t* tag) {
    if (gcry_cipher_reset(handle) != 0 || gcry_cipher_setiv(handle, nonce.data(), nonce.size()) != 0 ||
        (!aad.empty() && gcry_cipher_authenticate(handle, aad.data(), aad.size()) != 0) ||
        (size != 0 && gcry_cipher_encrypt(handle, data, size, nullptr, 0) != 0) ||
        gcry_cipher_gettag(handle, tag, kAeadTagSize) != 0)
        crypto_fatal(kSealFailure);
}

bool open_with(gcry_cipher_hd_t handle, const Nonce12& nonce, ByteView aad, std::uint8_t* data,
               std::size_t size, const std::uint8_t* tag) {
    if (gcry_cipher_reset(handle) != 0 || gcry_cipher_setiv(handle, nonce.data(), nonce.size()) != 0)
        return false;
    if (!aad.empty() && gcry_cipher_authenticate(handle, aad.data(), aad.size()) != 0) return false;
    if (size != 0 && gcry_cipher_decrypt(handle, data, size, nullptr, 0) != 0) return false;
    return gcry_cipher_checktag(handle, tag, kAeadTagSize) == 0;
}

bool open_split_with(gcry_cipher_hd_t handle, const Nonce12& nonce, ByteView cipher, const std::uint8_t* tag,
                     std::uint8_t& first, std::uint8_t* rest) {
    if (cipher.empty() || gcry_cipher_reset(handle) != 0 ||
        gcry_cipher_setiv(handle, nonce.data(), nonce.size()) != 0)
        return false;
    // The stream carries on across calls, so the two pieces decrypt as one.
    if (gcry_cipher_decrypt(handle, &first, 1, cipher.data(), 1) != 0) return false;
    const std::size_t rest_size = cipher.size() - 1;
    if (rest_size != 0 && gcry_cipher_decrypt(handle, rest, rest_size, cipher.data() + 1, rest_size) != 0)
        return false;
    return gcry_cipher_checktag(handle, tag, kAeadTagSize) == 0;
}

}  // namespace

void crypto_init() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (!gcry_check_version(GCRYPT_VERSION)) crypto_fatal("libgcrypt is older than the one built against");
        // Keys live in ordinary memory and are wiped by their owners.
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    });
}

void crypto_fatal(std::string_view message, std::source_location where) {
    log_line("fatal: " + std::string(message));
    fatal_error(message, where);
}

void wipe_bytes(void* data, std::size_t size) {
    volatile std::uint8_t* p = static_cast<volatile std::uint8_t*>(data);
    for (std::size_t i = 0; i < size; ++i) p[i] = 0;
#if defined(__GNUC__) || defined(__clang__)
    __asm__ __volatile__("" : : "r"(data) : "memory");
#endif
}

void wipe_key32(Key32& key) { wipe_bytes(key.data(), key.size()); }

// --- hashes and key derivation -----------------------------------------------

Digest32 sha256(ByteView data) {
    crypto_init();
    Digest32 out{};
    gcry_md_hash_buffer(GCRY_MD_SHA256, out.data(), data.data(), data.size());
    return out;
}

Digest64 sha512(ByteView data) {
    crypto_init();
    Digest64 out{};
    gcry_md_hash_buffer(GCRY_MD_SHA512, out.data(), data.data(), data.size());
    return out;
}

Digest32 hmac_sha256(ByteView key, ByteView message) {
    crypto_init();
    gcry_md_hd_t handle = nullptr;
    if (gcry_md_open(&handle, GCRY_MD_SHA256, GCRY_MD_FLAG_HMAC) != 0)
        crypto_fatal("HMAC-SHA256 is not available");
    // An empty key is valid HMAC; libgcrypt wants a non-null pointer for it.
    static const std::uint8_t empty = 0;
    if (gcry_md_setkey(handle, key.empty() ? &empty : key.data(), key.size()) != 0) {
        gcry_md_close(handle);
        crypto_fatal("HMAC-SHA256 refused its key");
    }
    gcry_md_write(handle, message.data(), message.size());
    Digest32 out{};
    std::memcpy(out.data(), gcry_md_read(handle, GCRY_MD_SHA256), out.size());
    gcry_md_close(handle);
    return out;
}

Bytes hkdf_sha256(ByteView salt, ByteView input_key_material, ByteView info, std::size_t length) {
    if (length > 255 * 32) crypto_fatal("HKDF-SHA256 output longer than 8160 bytes");
    // Extract: an absent salt is a string of 32 zeros.
    static const std::uint8_t zeros[32] = {};
    Digest32 prk = hmac_sha256(salt.empty() ? ByteView(zeros, sizeof zeros) : salt, input_key_material);

    Bytes out;
    out.reserve(length);
    Bytes block;
    Digest32 previous{};
    for (std::uint8_t counter = 1; out.size() < length; ++counter) {
        block.clear();
        if (counter > 1) block.insert(block.end(), previous.begin(), previous.end());
        block.insert(block.end(), info.begin(), info.end());
        block.push_back(counter);
        previous = hmac_sha256(prk, block);
        std::size_t take = std::min<std::size_t>(previous.size(), length - out.size());
        out.insert(out.end(), previous.begin(), previous.begin() + take);
    }
    wipe_bytes(prk.data(), prk.size());
    wipe_bytes(previous.data(), previous.size());
    wipe_bytes(block.data(), block.size());
    return out;
}

// --- X25519 -------------------------------------------------------------------

Key32 x25519_public_key(const Key32& secret) {
    static const Key32 base_point = {9};
    // The base point is never small order, so the result is never all zero.
    return x25519_shared_secret(secret, base_point).value_or(Key32{});
}

std::optional<Key32> x25519_shared_secret(const Key32& secret, const Key32& peer_public) {
    crypto_init();
    Key32 scalar = secret;
    clamp_x25519(scalar);
    Key32 point = peer_public;
    point[31] &= 127;  // the top bit of a u-coordinate is ignored
    Key32 out{};
    gpg_error_t err = gcry_ecc_mul_point(GCRY_ECC_CURVE25519, out.data(), scalar.data(), point.data());
    wipe_key32(scalar);
    std::uint8_t any = 0;
    for (std::uint8_t b : out) any |= b;
    if (err != 0 || any == 0) {
        wipe_key32(out);
        return std::nullopt;
    }
    return out;
}

// --- Ed25519 --------------------------------------------------------------------

Ed25519KeyPair ed25519_from_seed(const Key32& seed) {
    crypto_init();
    Ed25519KeyPair keys;
    keys.secret_key = seed;
    Sexp key;
    if (gcry_sexp_build(&key.value, nullptr, "(private-key(ecc(curve Ed25519)(flags eddsa)(d %b)))",
                        static_cast<int>(seed.size()), seed.data()) != 0)
        crypto_fatal("Ed25519 key could not be built");
    EcContext ctx;
    if (gcry_mpi_ec_new(&ctx.value, key.value, nullptr) != 0) crypto_fatal("Ed25519 key could not be built");
    gcry_mpi_t q = gcry_mpi_ec_get_mpi("q@eddsa", ctx.value, 1);
    if (!q) crypto_fatal("Ed25519 public key could not be derived");
    unsigned int bits = 0;
    const void* data = gcry_mpi_get_opaque(q, &bits);
    if (!data || bits != 256) {
        gcry_mpi_release(q);
        crypto_fatal("Ed25519 public key could not be derived");
    }
    std::memcpy(keys.public_key.data(), data, 32);
    gcry_mpi_release(q);
    return keys;
}

Signature64 ed25519_sign(const Ed25519KeyPair& keys, ByteView message) {
    crypto_init();
    Sexp key, data, sig;
    if (gcry_sexp_build(&key.value, nullptr, "(private-key(ecc(curve Ed25519)(flags eddsa)(q %b)(d %b)))",
                        32, keys.public_key.data(), 32, keys.secret_key.data()) != 0)
        crypto_fatal("Ed25519 key could not be built");
    if (gcry_sexp_build(&data.value, nullptr, "(data(flags eddsa)(hash-algo sha512)(value %b))",
                        static_cast<int>(message.size()), message.data()) != 0)
        crypto_fatal("Ed25519 message could not be built");
    if (gcry_pk_sign(&sig.value, data.value, key.value) != 0) crypto_fatal("Ed25519 signing failed");
    Signature64 out{};
    if (!copy_token(sig.value, "r", out.data(), 32) || !copy_token(sig.value, "s", out.data() + 32, 32))
        crypto_fatal("Ed25519 signature has an unexpected form");
    return out;
}

bool ed25519_verify(const Key32& public_key, ByteView message, const Signature64& signature) {
    crypto_init();
    if (!is_ed25519_point(public_key)) return false;
    Sexp key, data, sig;
    if (gcry_sexp_build(&key.value, nullptr, "(public-key(ecc(curve Ed25519)(flags eddsa)(q %b)))", 32,
                        public_key.data()) != 0)
        return false;
    if (gcry_sexp_build(&data.value, nullptr, "(data(flags eddsa)(hash-algo sha512)(value %b))",
                        static_cast<int>(message.size()), message.data()) != 0)
        return false;
    if (gcry_sexp_build(&sig.value, nullptr, "(sig-val(eddsa(r %b)(s %b)))", 32, signature.data(), 32,
                        signature.data() + 32) != 0)
        return false;
    return gcry_pk_verify(sig.value, data.value, key.value) == 0;
}

// libgcrypt keeps each S-expression datum's length in 16 bits, so a message
// over 64 KiB cannot pass through gcry_pk_sign or gcry_pk_verify. The pair
// below works on the curve itself and hashes the message as a stream.
namespace {

struct Point {
    gcry_mpi_point_t value = gcry_mpi_point_new(0);
    Point() = default;
    explicit Point(gcry_mpi_point_t p) : value(p) {}
    Point(const Point&) = delete;
    Point& operator=(const Point&) = delete;
    ~Point() { gcry_mpi_point_release(value); }
};

gcry_mpi_t little_endian_number(const std::uint8_t* bytes, std::size_t size) {
    std::vector<std::uint8_t> big(bytes, bytes + size);
    std::reverse(big.begin(), big.end());
    gcry_mpi_t number = nullptr;
    if (gcry_mpi_scan(&number, GCRYMPI_FMT_USG, big.data(), big.size(), nullptr) != 0) return gcry_mpi_new(0);
    return number;
}

// SHA-512 of the parts in order, as a little-endian number modulo `order`.
gcry_mpi_t hash_modulo(std::initializer_list<ByteView> parts, gcry_mpi_t order) {
    gcry_md_hd_t md = nullptr;
    if (gcry_md_open(&md, GCRY_MD_SHA512, 0) != 0) crypto_fatal("SHA-512 is not available");
    for (ByteView part : parts) gcry_md_write(md, part.data(), part.size());
    gcry_mpi_t number = little_endian_number(gcry_md_read(md, GCRY_MD_SHA512), 64);
    gcry_md_close(md);
    gcry_mpi_mod(number, number, order);
    return number;
}

bool decode_point(gcry_mpi_point_t out, const std::uint8_t* encoded, gcry_ctx_t ctx) {
    Mpi raw;
    gcry_mpi_release(raw.value);
    raw.value = gcry_mpi_set_opaque_copy(nullptr, encoded, 256);
    return gcry_mpi_ec_decode_point(out, raw.value, ctx) == 0;
}

std::optional<Key32> encode_point(gcry_mpi_point_t point, gcry_ctx_t ctx) {
    Mpi x, y;
    if (gcry_mpi_ec_get_affine(x.value, y.value, point, ctx) != 0) return std::nullopt;
    std::uint8_t big[32];
    std::size_t length = 0;
    if (gcry_mpi_print(GCRYMPI_FMT_USG, big, sizeof big, &length, y.value) != 0) return std::nullopt;
    Key32 out{};
    for (std::size_t i = 0; i < length; ++i) out[i] = big[length - 1 - i];
    if (gcry_mpi_test_bit(x.value, 0)) out[31] |= 0x80;
    return out;
}

void little_endian_bytes(gcry_mpi_t number, std::uint8_t* out) {
    std::uint8_t big[32];
    std::size_t length = 0;
    if (gcry_mpi_print(GCRYMPI_FMT_USG, big, sizeof big, &length, number) != 0) length = 0;
    std::memset(out, 0, 32);
    for (std::size_t i = 0; i < length; ++i) out[i] = big[length - 1 - i];
}

void ed25519_context(EcContext& ctx) {
    if (gcry_mpi_ec_new(&ctx.value, nullptr, "Ed25519") != 0) crypto_fatal("the Ed25519 curve is not available");
}

}  // namespace

Signature64 ed25519_sign_long(const Ed25519KeyPair& keys, ByteView message) {
    crypto_init();
    EcContext ctx;
    ed25519_context(ctx);
    Mpi order;
    gcry_mpi_release(order.value);
    order.value = gcry_mpi_ec_get_mpi("n", ctx.value, 1);
    std::uint8_t expanded[64];
    gcry_md_hash_buffer(GCRY_MD_SHA512, expanded, keys.secret_key.data(), keys.secret_key.size());
    expanded[0] &= 248;
    expanded[31] &= 127;
    expanded[31] |= 64;
    Mpi secret, nonce, h;
    gcry_mpi_release(secret.value);
    secret.value = little_endian_number(expanded, 32);
    gcry_mpi_release(nonce.value);
    nonce.value = hash_modulo({ByteView(expanded + 32, 32), message}, order.value);
    wipe_bytes(expanded, sizeof expanded);
    Point base(gcry_mpi_ec_get_point("g", ctx.value, 1)), r;
    gcry_mpi_ec_mul(r.value, nonce.value, base.value, ctx.value);
    const std::optional<Key32> r_bytes = encode_point(r.value, ctx.value);
    if (!r_bytes) crypto_fatal("Ed25519 signing failed");
    gcry_mpi_release(h.value);
    h.value = hash_modulo({ByteView(*r_bytes), ByteView(keys.public_key), message}, order.value);
    gcry_mpi_mulm(h.value, h.value, secret.value, order.value);
    gcry_mpi_addm(h.value, h.value, nonce.value, order.value);
    Signature64 out{};
    std::copy(r_bytes->begin(), r_bytes->end(), out.begin());
    little_endian_bytes(h.value, out.data() + 32);
    return out;
}

bool ed25519_verify_long(const Key32& public_key, ByteView message, const Signature64& signature) {
    crypto_init();
    if (!is_ed25519_point(public_key)) return false;
    EcContext ctx;
    ed25519_context(ctx);
    Point a, r;
    if (!decode_point(a.value, public_key.data(), ctx.value) || !decode_point(r.value, signature.data(), ctx.value))
        return false;
    Mpi order, s, h;
    gcry_mpi_release(order.value);
    order.value = gcry_mpi_ec_get_mpi("n", ctx.value, 1);
    gcry_mpi_release(s.value);
    s.value = little_endian_number(signature.data() + 32, 32);
    if (gcry_mpi_cmp(s.value, order.value) >= 0) return false;
    gcry_mpi_release(h.value);
    h.value = hash_modulo({ByteView(signature.data(), 32), ByteView(public_key), message}, order.value);
    // [S]B must equal R + [h]A.
    Point base(gcry_mpi_ec_get_point("g", ctx.value, 1)), left, ha, right;
    gcry_mpi_ec_mul(left.value, s.value, base.value, ctx.value);
    gcry_mpi_ec_mul(ha.value, h.value, a.value, ctx.value);
    gcry_mpi_ec_add(right.value, r.value, ha.value, ctx.value);
    const std::optional<Key32> l = encode_point(left.value, ctx.value);
    const std::optional<Key32> rr = encode_point(right.value, ctx.value);
    return l && rr && *l == *rr;
}

// --- ChaCha20-Poly1305 -------------------------------------------------------------

void chacha20_poly1305_seal_in_place(const Key32& key, const Nonce12& nonce, ByteView aad,
                                     std::uint8_t* data, std::size_t size, std::uint8_t* tag) {
    ChaCha20Poly1305 cipher(key);
    cipher.seal_in_place(nonce, aad, data, size, tag);
}

bool chacha20_poly1305_open_in_place(const Key32& key, const Nonce12& nonce, ByteView aad,
                                     std::uint8_t* data, std::size_t size, const std::uint8_t* tag) {
    ChaCha20Poly1305 cipher(key);
    return cipher.open_in_place(nonce, aad, data, size, tag);
}

ChaCha20Poly1305::ChaCha20Poly1305(const Key32& key) : handle_(open_chacha(key)) {}

ChaCha20Poly1305::~ChaCha20Poly1305() {
    // Closing the handle wipes its key schedule.
    if (handle_) gcry_cipher_close(static_cast<gcry_cipher_hd_t>(handle_));
}

ChaCha20Poly1305::ChaCha20Poly1305(ChaCha20Poly1305&& other) noexcept : handle_(other.handle_) {
    other.handle_ = nullptr;
}

ChaCha20Poly1305& ChaCha20Poly1305::operator=(ChaCha20Poly1305&& other) noexcept {
    if (this != &other) {
        if (handle_) gcry_cipher_close(static_cast<gcry_cipher_hd_t>(handle_));
        handle_ = other.handle_;
        other.handle_ = nullptr;
    }
    return *this;
}

void ChaCha20Poly1305::seal_in_place(const Nonce12& nonce, ByteView aad, std::uint8_t* data,
                                     std::size_t size, std::uint8_t* tag) {
    if (!handle_) crypto_fatal(kSealFailure);
    seal_with(static_cast<gcry_cipher_hd_t>(handle_), nonce, aad, data, size, tag);
}

bool ChaCha20Poly1305::open_in_place(const Nonce12& nonce, ByteView aad, std::uint8_t* data,
                                     std::size_t size, const std::uint8_t* tag) {
    if (!handle_) return false;
    return open_with(static_cast<gcry_cipher_hd_t>(handle_), nonce, aad, data, size, tag);
}

bool ChaCha20Poly1305::open_split(const Nonce12& nonce, ByteView cipher, const std::uint8_t* tag,
                                  std::uint8_t& first, std::uint8_t* rest) {
    if (!handle_) return false;
    return open_split_with(static_cast<gcry_cipher_hd_t>(handle_), nonce, cipher, tag, first, rest);
}

}  // namespace vorlix
