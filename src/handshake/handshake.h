// The pairing and sign-in handshake of a device link. The device speaks
// first at every step; the host only answers. One HandshakeState per link,
// driven frame by frame by the session reader loop through LinkHandshake.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "crypto/crypto.h"
#include "crypto/random.h"  // fresh_random32, new_identity_key
#include "handshake/messages.h"
#include "util/bytes.h"
#include "wire/frame.h"

namespace vorlix {

// The frames of an outcome are plain frames to send in list order.
struct HandshakeContinue {
    std::vector<Frame> frames;
};

// The exchange succeeded. The two keys are wiped when this is released.
struct HandshakeDone {
    std::vector<Frame> frames;
    Bytes device_id_key;  // the device's `idKey` exactly as received
    std::string device_name;
    std::string device_model;
    Key32 device_to_host_key{};
    Key32 host_to_device_key{};
    bool paired = false;  // true after pairing with the code, false after a sign-in

    HandshakeDone() = default;
    HandshakeDone(const HandshakeDone&) = default;
    HandshakeDone(HandshakeDone&&) = default;
    HandshakeDone& operator=(const HandshakeDone&) = default;
    HandshakeDone& operator=(HandshakeDone&&) = default;
    ~HandshakeDone();
};

struct HandshakeFailed {
    std::vector<Frame> frames;  // the one failure message
    PairingError error = PairingError::Malformed;
};

using HandshakeOutcome = std::variant<HandshakeContinue, HandshakeDone, HandshakeFailed>;

// The frames an outcome asks the caller to send, whichever it is.
const std::vector<Frame>& outcome_frames(const HandshakeOutcome& outcome);

enum class LinkKind : std::uint8_t { Device = 0, Browser = 1 };

// The handshake of one link as the session reader loop drives it. The device
// handshake below is one; the watch-link handshake of browser viewers another.
class LinkHandshake {
public:
    virtual ~LinkHandshake() = default;
    // One plain Hello or Handshake frame in; the frames to send and the result out.
    virtual HandshakeOutcome step(FrameType type, ByteView body) = 0;
    // The peer's role; none before the peer's Hello or when it named none.
    virtual std::optional<PeerRole> peer_role() const = 0;
    // The link kind and, for a browser link, the watch link's id.
    virtual std::pair<LinkKind, std::uint64_t> link_kind() const = 0;
    // True while a pairing waits for the device's commit or reveal, that is
    // for a person to type the code.
    virtual bool pairing() const { return false; }
    // True between a pairing's commit and its reveal, while it holds one of
    // the host's few pairing places.
    virtual bool holds_pairing_place() const { return false; }
    // Gives the pairing place back without the reveal counting as missed:
    // the host, not the peer, is ending the link.
    virtual void give_up_pairing_place() {}
    // The identity key of a trusted device whose signature the handshake
    // waits for.
    virtual std::optional<Bytes> signing_key() const { return std::nullopt; }
};

// True when the device's identity key bytes belong to a trusted device.
using TrustCheck = std::function<bool(ByteView id_key)>;
// The pairing code while pairing is open, else none.
using PairingCodeSource = std::function<std::optional<std::string>()>;
// 32 fresh random bytes; fresh_random32 in the host, fixed bytes in tests.
using Random32Source = std::function<Key32()>;

// How a device's reveal fared against the pairing code open at that moment.
enum class RevealCheck : std::uint8_t {
    Matches,
    Wrong,    // counted as a wrong code before the answer goes out
    Closed,   // pairing was closed or locked out since the Hello
    Changed,  // a fresh code replaced the one this link started with
};

// A pairing place, held from a commit to its reveal, or why the commit was
// refused one.
struct PairingPlace {
    std::shared_ptr<void> token;  // gives the place back when released; none: refused
    std::uint64_t code_number = 0;  // the number of the code it was taken under
    PairingError refusal = PairingError::PairingClosed;
};

// The host's hold on pairing handshakes. `enter` takes one of the few places
// for a pairing, at its commit, once a person has typed the code, and only
// while the code its Hello saw is still the one open (a commit under an older
// code tests nothing and fails at once, with no place taken). `check_reveal`
// runs `matches` with the code open now, under the lock that guards it, and
// counts a mismatch there, so that parallel links never test more codes than
// the lock-out allows; a reveal under a code gone since its place was taken
// is answered as closed or changed, and counted all the same. Either may be left empty: then every
// handshake gets a place and the reveal is checked against a fresh read of
// the code source.
struct PairingGuard {
    std::function<PairingPlace(const std::string& code_at_hello)> enter;
    std::function<RevealCheck(std::uint64_t code_number, const std::string& code_at_hello,
                              const std::function<bool(const std::string& code)>& matches)>
        check_reveal;
    // A commit's place is let go without its reveal having been checked: the
    // link ended first, its time included. May be left empty.
    std::function<void(std::uint64_t code_number)> unrevealed;
};

// The texts bound into the key derivations and signatures.
inline constexpr std::string_view kProtocolLabel = "vorlix/1 ";
inline constexpr std::string_view kDeviceToHostLabel = "device-to-mac";
inline constexpr std::string_view kHostToDeviceLabel = "mac-to-device";
inline constexpr std::string_view kPairingLabel = "pairing";
inline constexpr std::string_view kDeviceRole = "device";
inline constexpr std::string_view kHostRole = "mac";

// The keys both ends derive from the X25519 secret and the transcript hash.
struct HandshakeKeys {
    Key32 device_to_host{};
    Key32 host_to_device{};
    Key32 pairing{};

    ~HandshakeKeys();
};

// T = SHA-256(device Hello body + host Hello JSON).
Digest32 handshake_transcript(ByteView device_hello_body, ByteView host_hello_body);
// HKDF-SHA256 with salt T and info "vorlix/1 " + label, for the three keys.
HandshakeKeys derive_handshake_keys(const Key32& shared_secret, const Digest32& transcript);
// "vorlix/1 " + role + " " + T: the message each side signs at sign-in.
Bytes signed_transcript(std::string_view role, const Digest32& transcript);
// HMAC-SHA256(pairing key, code + role + T).
Digest32 pairing_proof(const Key32& pairing_key, std::string_view code, std::string_view role,
                       const Digest32& transcript);
// SHA-256(nonce + proof).
Digest32 pairing_commitment(ByteView nonce, ByteView proof);

// True exactly when `list` holds 32 bytes equal to `key` (compared in
// constant time). Takes the list over and wipes and releases it.
bool keys_equal32(const Key32& key, Bytes&& list);

class HandshakeState final : public LinkHandshake {
public:
    // Copies the identity; draws the ephemeral secret from `random`, which
    // also gives the host nonce of a pairing.
    HandshakeState(std::string own_name, std::string own_model, const Ed25519KeyPair& identity,
                   TrustCheck trust_check, PairingCodeSource pairing_code, Random32Source random = nullptr,
                   PairingGuard guard = {});
    ~HandshakeState() override;
    HandshakeState(const HandshakeState&) = delete;
    HandshakeState& operator=(const HandshakeState&) = delete;

    HandshakeOutcome step(FrameType type, ByteView body) override;
    std::optional<PeerRole> peer_role() const override;
    std::pair<LinkKind, std::uint64_t> link_kind() const override { return {LinkKind::Device, 0}; }
    bool pairing() const override { return step_ == 1 || step_ == 2; }
    bool holds_pairing_place() const override { return step_ == 2; }
    void give_up_pairing_place() override { pairing_place_.reset(); }
    std::optional<Bytes> signing_key() const override {
        return step_ == 3 ? std::optional<Bytes>(peer_hello_->id_key) : std::nullopt;
    }

    // Where the exchange stands: 0 waiting for the Hello, 1 for the commit,
    // 2 for the reveal, 3 for the signature, 4 finished or waiting for nothing.
    int current_step() const { return step_; }

private:
    HandshakeOutcome hello_step(ByteView body);
    HandshakeOutcome commit_step(const HandshakeMessage& message);
    HandshakeOutcome reveal_step(const HandshakeMessage& message);
    HandshakeOutcome signature_step(const HandshakeMessage& message);
    // Done with the final reply, the device's identity and both link keys.
    HandshakeOutcome finish(const HandshakeMessage& reply, bool paired) const;

    std::string own_name_;
    std::string own_model_;
    Ed25519KeyPair identity_;
    TrustCheck trust_check_;
    PairingCodeSource pairing_code_source_;
    Random32Source random_;
    PairingGuard guard_;
    std::shared_ptr<void> pairing_place_;  // held from the commit of a pairing to its reveal
    std::uint64_t pairing_code_number_ = 0;    // the number of the code the place was taken under
    Key32 ephemeral_secret_{};

    std::optional<Hello> peer_hello_;
    Digest32 transcript_{};
    std::optional<HandshakeKeys> keys_;
    std::string pairing_code_;
    Bytes device_commitment_;
    Key32 host_nonce_{};
    Digest32 host_proof_{};
    int step_ = 0;
};

// A failed outcome with the one failure frame for `error`.
HandshakeOutcome handshake_failure(PairingError error);

}  // namespace vorlix
