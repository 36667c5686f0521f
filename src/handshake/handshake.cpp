#include "handshake/handshake.h"

#include <algorithm>

#include "crypto/random.h"

namespace vorlix {
namespace {

Key32 derive_key(const Key32& shared_secret, const Digest32& transcript, std::string_view label) {
    Bytes info = to_bytes(kProtocolLabel);
    append(info, label);
    Bytes out = hkdf_sha256(transcript, shared_secret, info, 32);
    Key32 key{};
    std::copy(out.begin(), out.end(), key.begin());
    wipe_bytes(out.data(), out.size());
    return key;
}

bool equal_in_constant_time(ByteView a, ByteView b) {
    if (a.size() != b.size()) return false;
    std::uint8_t diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<std::uint8_t>(a[i] ^ b[i]);
    return diff == 0;
}

HandshakeOutcome one_message(HandshakeMessage message) {
    return HandshakeContinue{{Frame{FrameType::Handshake, write_handshake_message(message)}}};
}

}  // namespace

HandshakeDone::~HandshakeDone() {
    wipe_key32(device_to_host_key);
    wipe_key32(host_to_device_key);
}

HandshakeKeys::~HandshakeKeys() {
    wipe_key32(device_to_host);
    wipe_key32(host_to_device);
    wipe_key32(pairing);
}

const std::vector<Frame>& outcome_frames(const HandshakeOutcome& outcome) {
    return std::visit([](const auto& o) -> const std::vector<Frame>& { return o.frames; }, outcome);
}

Digest32 handshake_transcript(ByteView device_hello_body, ByteView host_hello_body) {
    Bytes both(device_hello_body.begin(), device_hello_body.end());
    append(both, host_hello_body);
    return sha256(both);
}

HandshakeKeys derive_handshake_keys(const Key32& shared_secret, const Digest32& transcript) {
    HandshakeKeys keys;
    keys.device_to_host = derive_key(shared_secret, transcript, kDeviceToHostLabel);
    keys.host_to_device = derive_key(shared_secret, transcript, kHostToDeviceLabel);
    keys.pairing = derive_key(shared_secret, transcript, kPairingLabel);
    return keys;
}

Bytes signed_transcript(std::string_view role, const Digest32& transcript) {
    Bytes message = to_bytes(kProtocolLabel);
    append(message, role);
    message.push_back(' ');
    append(message, transcript);
    return message;
}

Digest32 pairing_proof(const Key32& pairing_key, std::string_view code, std::string_view role,
                       const Digest32& transcript) {
    Bytes message = to_bytes(code);
    append(message, role);
    append(message, transcript);
    return hmac_sha256(pairing_key, message);
}

Digest32 pairing_commitment(ByteView nonce, ByteView proof) {
    Bytes both(nonce.begin(), nonce.end());
    append(both, proof);
    return sha256(both);
}

bool keys_equal32(const Key32& key, Bytes&& list) {
    Bytes taken = std::move(list);
    bool equal = equal_in_constant_time(key, taken);
    wipe_bytes(taken.data(), taken.size());
    return equal;
}

HandshakeOutcome handshake_failure(PairingError error) {
    HandshakeMessage message;
    message.kind = HandshakeKind::Failure;
    message.reason = error;
    return HandshakeFailed{{Frame{FrameType::Handshake, write_handshake_message(message)}}, error};
}

HandshakeState::HandshakeState(std::string own_name, std::string own_model, const Ed25519KeyPair& identity,
                               TrustCheck trust_check, PairingCodeSource pairing_code, Random32Source random,
                               PairingGuard guard)
    : own_name_(std::move(own_name)),
      own_model_(std::move(own_model)),
      identity_(identity),
      trust_check_(std::move(trust_check)),
      pairing_code_source_(std::move(pairing_code)),
      random_(random ? std::move(random) : Random32Source(fresh_random32)),
      guard_(std::move(guard)) {
    ephemeral_secret_ = random_();
}

HandshakeState::~HandshakeState() {
    // A commit never followed by its reveal tested a code all the same.
    if (pairing_place_ && guard_.unrevealed) guard_.unrevealed(pairing_code_number_);
    pairing_place_.reset();
    wipe_key32(identity_.secret_key);
    wipe_key32(ephemeral_secret_);
    wipe_key32(host_nonce_);
    wipe_bytes(host_proof_.data(), host_proof_.size());
    wipe_bytes(pairing_code_.data(), pairing_code_.size());
}

std::optional<PeerRole> HandshakeState::peer_role() const {
    if (!peer_hello_) return std::nullopt;
    return peer_hello_->role;
}

HandshakeOutcome HandshakeState::step(FrameType type, ByteView body) {
    if (type == FrameType::Hello && step_ == 0) return hello_step(body);
    if (type != FrameType::Handshake) return handshake_failure(PairingError::Malformed);

    auto message = parse_handshake_message(body);
    if (!message) return handshake_failure(PairingError::Malformed);
    switch (step_) {
        case 1: return commit_step(message.value());
        case 2: return reveal_step(message.value());
        case 3: return signature_step(message.value());
        default: return handshake_failure(PairingError::Malformed);  // before the Hello, or finished
    }
}

HandshakeOutcome HandshakeState::hello_step(ByteView body) {
    auto parsed = parse_hello(body);
    if (!parsed) return handshake_failure(PairingError::Malformed);
    Hello& device = parsed.value();
    if (!device.mode) return handshake_failure(PairingError::Malformed);
    if (device.ephemeral_key.size() != 32) return handshake_failure(PairingError::Malformed);

    Key32 device_ephemeral{};
    std::copy(device.ephemeral_key.begin(), device.ephemeral_key.end(), device_ephemeral.begin());
    std::optional<Key32> shared = x25519_shared_secret(ephemeral_secret_, device_ephemeral);
    if (!shared) return handshake_failure(PairingError::Malformed);
    struct WipeOnExit {
        Key32& key;
        ~WipeOnExit() { wipe_key32(key); }
    } wipe_shared{*shared};

    if (device.version != 1) return handshake_failure(PairingError::VersionMismatch);
    if (*device.mode == HelloMode::Invite) return handshake_failure(PairingError::Malformed);
    // A paired device is stored by its identity key and must later sign in
    // with it, which only a 32-byte Ed25519 key can do.
    if (*device.mode == HelloMode::Pair && device.id_key.size() != 32) {
        return handshake_failure(PairingError::Malformed);
    }

    const bool known = trust_check_ ? trust_check_(device.id_key) : false;
    std::optional<std::string> code = pairing_code_source_ ? pairing_code_source_() : std::nullopt;

    Hello host;
    host.version = 1;
    host.name = own_name_;
    host.model = own_model_;
    host.id_key.assign(identity_.public_key.begin(), identity_.public_key.end());
    Key32 ephemeral_public = x25519_public_key(ephemeral_secret_);
    host.ephemeral_key.assign(ephemeral_public.begin(), ephemeral_public.end());
    host.known = known;
    host.pairing_open = code.has_value();
    host.roles = std::vector<PeerRole>{PeerRole::Send, PeerRole::Watch};
    if (device.role == PeerRole::Preview) host.roles->push_back(PeerRole::Preview);
    Bytes host_body = write_hello(host);

    transcript_ = handshake_transcript(body, host_body);
    keys_.emplace();
    {
        HandshakeKeys derived = derive_handshake_keys(*shared, transcript_);
        keys_->device_to_host = derived.device_to_host;
        keys_->host_to_device = derived.host_to_device;
        keys_->pairing = derived.pairing;
    }
    peer_hello_ = std::move(device);

    if (*peer_hello_->mode == HelloMode::Pair) {
        if (code) {
            pairing_code_ = std::move(*code);
            step_ = 1;
        } else {
            step_ = 4;
        }
    } else {
        step_ = known ? 3 : 4;
    }
    if (code) wipe_bytes(code->data(), code->size());
    return HandshakeContinue{{Frame{FrameType::Hello, std::move(host_body)}}};
}

HandshakeOutcome HandshakeState::commit_step(const HandshakeMessage& message) {
    if (message.kind != HandshakeKind::Commit || !message.value || message.value->size() != 32) {
        return handshake_failure(PairingError::Malformed);
    }
    // A pairing takes a place only here, once a person has typed the code: a
    // Hello alone costs a stranger nothing and must not hold one. Under a code
    // that changed since the Hello (a wrong code elsewhere, pairing opened
    // again or closed) nothing is tested: the commit fails at once.
    if (guard_.enter) {
        PairingPlace place = guard_.enter(pairing_code_);
        if (!place.token) return handshake_failure(place.refusal);
        pairing_place_ = std::move(place.token);
        pairing_code_number_ = place.code_number;
    }
    device_commitment_ = *message.value;
    host_nonce_ = random_();
    host_proof_ = pairing_proof(keys_->pairing, pairing_code_, kHostRole, transcript_);
    Digest32 commitment = pairing_commitment(host_nonce_, host_proof_);
    step_ = 2;
    HandshakeMessage reply;
    reply.kind = HandshakeKind::Commit;
    reply.value = Bytes(commitment.begin(), commitment.end());
    return one_message(std::move(reply));
}

HandshakeOutcome HandshakeState::reveal_step(const HandshakeMessage& message) {
    if (message.kind != HandshakeKind::Reveal || !message.value || !message.nonce) {
        return handshake_failure(PairingError::Malformed);
    }
    Digest32 commitment = pairing_commitment(*message.nonce, *message.value);
    const bool commitment_matches = equal_in_constant_time(commitment, device_commitment_);
    auto matches = [&](const std::string& code) {
        Digest32 expected = pairing_proof(keys_->pairing, code, kDeviceRole, transcript_);
        // Both comparisons run whatever the first one gives.
        const bool proof_matches = equal_in_constant_time(*message.value, expected);
        wipe_bytes(expected.data(), expected.size());
        return commitment_matches && proof_matches;
    };
    // The code is read again now: links that said Hello before a lock-out or
    // before a wrong code replaced the code must not test the old one.
    RevealCheck check;
    if (guard_.check_reveal) {
        check = guard_.check_reveal(pairing_code_number_, pairing_code_, matches);
    } else {
        std::optional<std::string> now = pairing_code_source_ ? pairing_code_source_() : std::nullopt;
        check = !now ? RevealCheck::Closed
                : *now != pairing_code_ ? RevealCheck::Changed
                : matches(*now) ? RevealCheck::Matches
                                : RevealCheck::Wrong;
        if (now) wipe_bytes(now->data(), now->size());
    }
    pairing_place_.reset();
    if (check == RevealCheck::Closed) return handshake_failure(PairingError::PairingClosed);
    if (check != RevealCheck::Matches) return handshake_failure(PairingError::WrongCode);

    step_ = 4;
    HandshakeMessage reply;
    reply.kind = HandshakeKind::Reveal;
    reply.value = Bytes(host_proof_.begin(), host_proof_.end());
    reply.nonce = Bytes(host_nonce_.begin(), host_nonce_.end());

    return finish(reply, true);
}

HandshakeOutcome HandshakeState::finish(const HandshakeMessage& reply, bool paired) const {
    HandshakeDone done;
    done.frames.push_back(Frame{FrameType::Handshake, write_handshake_message(reply)});
    done.device_id_key = peer_hello_->id_key;
    done.device_name = peer_hello_->name;
    done.device_model = peer_hello_->model;
    done.device_to_host_key = keys_->device_to_host;
    done.host_to_device_key = keys_->host_to_device;
    done.paired = paired;
    return done;
}

HandshakeOutcome HandshakeState::signature_step(const HandshakeMessage& message) {
    if (message.kind != HandshakeKind::Signature) return handshake_failure(PairingError::Malformed);
    if (!message.value) return handshake_failure(PairingError::BadSignature);
    const Bytes& device_key = peer_hello_->id_key;
    if (device_key.size() != 32 || message.value->size() != 64) {
        return handshake_failure(PairingError::BadSignature);
    }
    Key32 public_key{};
    std::copy(device_key.begin(), device_key.end(), public_key.begin());
    Signature64 signature{};
    std::copy(message.value->begin(), message.value->end(), signature.begin());
    if (!ed25519_verify(public_key, signed_transcript(kDeviceRole, transcript_), signature)) {
        return handshake_failure(PairingError::BadSignature);
    }
    Signature64 host_signature = ed25519_sign(identity_, signed_transcript(kHostRole, transcript_));

    step_ = 4;
    HandshakeMessage reply;
    reply.kind = HandshakeKind::Signature;
    reply.value = Bytes(host_signature.begin(), host_signature.end());

    return finish(reply, false);
}

}  // namespace vorlix
