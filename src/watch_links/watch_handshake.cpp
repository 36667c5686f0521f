#include "watch_links/watch_handshake.h"

#include "app/text.h"

namespace vorlix {

namespace {

constexpr std::string_view kWatchInfo = "vorlix/1 watch-link ";
constexpr std::size_t kMaxViewerName = 40;

Key32 derive_one(const Key32& shared, const Key32& link_secret, const Digest32& transcript, std::string_view label) {
    Bytes material(shared.begin(), shared.end());
    material.insert(material.end(), link_secret.begin(), link_secret.end());
    std::string info(kWatchInfo);
    info += label;
    Bytes out = hkdf_sha256(ByteView(transcript.data(), transcript.size()), material,
                            ByteView(reinterpret_cast<const std::uint8_t*>(info.data()), info.size()), 32);
    wipe_bytes(material.data(), material.size());
    Key32 key{};
    std::copy_n(out.begin(), key.size(), key.begin());
    wipe_bytes(out.data(), out.size());
    return key;
}

bool same_in_constant_time(ByteView a, ByteView b) {
    if (a.size() != b.size()) return false;
    std::uint8_t diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<std::uint8_t>(a[i] ^ b[i]);
    return diff == 0;
}

}  // namespace

WatchKeys::~WatchKeys() {
    wipe_key32(device_to_mac);
    wipe_key32(mac_to_device);
    wipe_key32(proof);
    wipe_key32(next);
}

WatchKeys derive_watch_keys(const Key32& shared, const Key32& link_secret, const Digest32& transcript) {
    WatchKeys keys;
    keys.device_to_mac = derive_one(shared, link_secret, transcript, "device-to-mac");
    keys.mac_to_device = derive_one(shared, link_secret, transcript, "mac-to-device");
    keys.proof = derive_one(shared, link_secret, transcript, "proof");
    keys.next = derive_one(shared, link_secret, transcript, "next");
    return keys;
}

Digest32 watch_hmac(const Key32& key, std::string_view label, ByteView data) {
    Bytes message(label.begin(), label.end());
    message.insert(message.end(), data.begin(), data.end());
    return hmac_sha256(ByteView(key.data(), key.size()), message);
}

std::string viewer_display_name(ByteView bytes) {
    std::string text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (!is_valid_utf8(text)) text = utf16_to_utf8(utf8_to_utf16(text));
    text = std::string(trim_unicode_space(text));
    std::size_t chars = 0, at = 0;
    while (at < text.size() && chars < kMaxViewerName) {
        ++at;
        while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
        ++chars;
    }
    text.resize(at);
    return text.empty() ? std::string("Web browser") : text;
}

WatchHandshakeState::WatchHandshakeState(const Key32& web_key, std::string host_name, std::string host_model,
                                         std::shared_ptr<WatchLinkRegistry> registry, WatchGate gate,
                                         const Key32& ephemeral_secret)
    : web_key_(web_key),
      host_name_(std::move(host_name)),
      host_model_(std::move(host_model)),
      registry_(std::move(registry)),
      gate_(std::move(gate)),
      ephemeral_secret_(ephemeral_secret) {}

WatchHandshakeState::~WatchHandshakeState() { wipe_key32(ephemeral_secret_); }

std::optional<PeerRole> WatchHandshakeState::peer_role() const {
    return viewer_hello_ ? std::optional<PeerRole>(PeerRole::Watch) : std::nullopt;
}

std::pair<LinkKind, std::uint64_t> WatchHandshakeState::link_kind() const {
    return {LinkKind::Browser, opened_link_.value_or(0)};
}

HandshakeOutcome WatchHandshakeState::fail(PairingError error) {
    step_ = 2;
    return handshake_failure(error);
}

HandshakeOutcome WatchHandshakeState::step(FrameType type, ByteView body) {
    if (step_ == 0) return hello(type, body);
    if (step_ == 1) return proof(type, body);
    return fail(PairingError::Malformed);
}

HandshakeOutcome WatchHandshakeState::hello(FrameType type, ByteView body) {
    if (type != FrameType::Hello) return fail(PairingError::Malformed);
    Result<Hello> parsed = parse_hello(body);
    if (!parsed) return fail(PairingError::Malformed);
    const Hello& viewer = *parsed;
    if (viewer.mode != HelloMode::Invite || viewer.role != PeerRole::Watch || !viewer.invite ||
        viewer.invite->size() != 16 || viewer.ephemeral_key.size() != 32) {
        return fail(PairingError::Malformed);
    }
    Key32 peer{};
    std::copy(viewer.ephemeral_key.begin(), viewer.ephemeral_key.end(), peer.begin());
    std::optional<Key32> shared = x25519_shared_secret(ephemeral_secret_, peer);
    if (!shared) return fail(PairingError::Malformed);
    if (viewer.version != 1) {
        wipe_key32(*shared);
        return fail(PairingError::VersionMismatch);
    }
    std::optional<Key32> link_secret;
    if (gate_ && gate_()) link_secret = registry_->find_watch_link(*viewer.invite);
    if (!link_secret) {
        wipe_key32(*shared);
        return fail(PairingError::LinkExpired);
    }
    Hello own;
    own.version = 1;
    own.name = host_name_;
    own.model = host_model_;
    own.id_key.assign(web_key_.begin(), web_key_.end());
    const Key32 ephemeral_public = x25519_public_key(ephemeral_secret_);
    own.ephemeral_key.assign(ephemeral_public.begin(), ephemeral_public.end());
    own.known = false;
    own.pairing_open = false;
    own.roles = std::vector<PeerRole>{PeerRole::Watch};
    Bytes own_text = write_hello(own);
    Bytes transcript_input(body.begin(), body.end());
    transcript_input.insert(transcript_input.end(), own_text.begin(), own_text.end());
    transcript_ = sha256(transcript_input);
    keys_.emplace();
    WatchKeys derived = derive_watch_keys(*shared, *link_secret, transcript_);
    *keys_ = derived;
    wipe_key32(*shared);
    wipe_key32(*link_secret);
    viewer_hello_ = viewer;
    link_id_ = *viewer.invite;
    step_ = 1;
    return HandshakeContinue{{Frame{FrameType::Hello, std::move(own_text)}}};
}

HandshakeOutcome WatchHandshakeState::proof(FrameType type, ByteView body) {
    if (type != FrameType::Handshake) return fail(PairingError::Malformed);
    Result<HandshakeMessage> message = parse_handshake_message(body);
    if (!message || !keys_ || !viewer_hello_ || message->kind != HandshakeKind::Proof) {
        return fail(PairingError::Malformed);
    }
    const ByteView transcript(transcript_.data(), transcript_.size());
    const Digest32 expected = watch_hmac(keys_->proof, "device", transcript);
    if (!message->value || !same_in_constant_time(*message->value, ByteView(expected.data(), expected.size()))) {
        registry_->note_failed_watch_attempt(link_id_);
        return fail(PairingError::WrongCode);
    }
    const Digest32 answer = watch_hmac(keys_->proof, "mac", transcript);
    if (!gate_ || !gate_()) return fail(PairingError::LinkExpired);
    std::optional<std::uint64_t> seq = registry_->redeem_watch_link(link_id_, keys_->next);
    if (!seq) return fail(PairingError::LinkExpired);
    opened_link_ = *seq;
    step_ = 2;
    HandshakeMessage reply;
    reply.kind = HandshakeKind::Proof;
    reply.value = Bytes(answer.begin(), answer.end());
    HandshakeDone done;
    done.frames.push_back(Frame{FrameType::Handshake, write_handshake_message(reply)});
    done.device_id_key = viewer_hello_->ephemeral_key;
    done.device_name = viewer_display_name(ByteView(reinterpret_cast<const std::uint8_t*>(viewer_hello_->name.data()),
                                                    viewer_hello_->name.size()));
    done.device_model = "Browser";
    done.device_to_host_key = keys_->device_to_mac;
    done.host_to_device_key = keys_->mac_to_device;
    return done;
}

}  // namespace vorlix
