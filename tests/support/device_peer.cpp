#include "support/device_peer.h"

#include <algorithm>

#include "crypto/random.h"
#include "json/base64.h"

namespace vorlix {
namespace {

Key32 to_key32(ByteView bytes) {
    Key32 key{};
    std::copy_n(bytes.begin(), std::min<std::size_t>(bytes.size(), 32), key.begin());
    return key;
}

Result<HandshakeMessage> read_reply(ByteView body, HandshakeKind expected) {
    auto message = parse_handshake_message(body);
    if (!message) return Error("the host's handshake message does not read: " + message.error().text);
    if (message->kind == HandshakeKind::Failure) {
        std::string reason = message->reason ? std::string(pairing_error_text(*message->reason)) : "none";
        return Error("the host failed the handshake: " + reason);
    }
    if (message->kind != expected) {
        return Error("the host answered with kind " + std::string(handshake_kind_text(message->kind)));
    }
    return message;
}

}  // namespace

// --- DeviceIdentity ------------------------------------------------------------

DeviceIdentity DeviceIdentity::make(std::string name, std::string model) {
    return from_seed(fresh_random32(), std::move(name), std::move(model));
}

DeviceIdentity DeviceIdentity::from_seed(const Key32& seed, std::string name, std::string model) {
    DeviceIdentity identity;
    identity.keys = ed25519_from_seed(seed);
    identity.name = std::move(name);
    identity.model = std::move(model);
    return identity;
}

std::string DeviceIdentity::key_text() const { return base64_encode(keys.public_key); }

// --- DeviceHandshake -------------------------------------------------------------

DeviceHandshake::DeviceHandshake(DeviceIdentity identity, std::optional<Key32> ephemeral_secret)
    : identity_(std::move(identity)), ephemeral_secret_(ephemeral_secret ? *ephemeral_secret : fresh_random32()) {}

DeviceHandshake::~DeviceHandshake() {
    wipe_key32(ephemeral_secret_);
    wipe_key32(identity_.keys.secret_key);
    wipe_key32(nonce_);
}

Hello DeviceHandshake::hello_record(HelloMode mode, std::optional<PeerRole> role) const {
    Hello hello;
    hello.version = 1;
    hello.name = identity_.name;
    hello.model = identity_.model;
    hello.id_key.assign(identity_.keys.public_key.begin(), identity_.keys.public_key.end());
    Key32 ephemeral_public = x25519_public_key(ephemeral_secret_);
    hello.ephemeral_key.assign(ephemeral_public.begin(), ephemeral_public.end());
    hello.mode = mode;
    hello.role = role;
    return hello;
}

Bytes DeviceHandshake::hello(HelloMode mode, std::optional<PeerRole> role) {
    return hello_with(hello_record(mode, role));
}

Bytes DeviceHandshake::hello_with(const Hello& record) {
    own_hello_ = write_hello(record);
    return own_hello_;
}

Status DeviceHandshake::receive_host_hello(ByteView body) {
    auto host = parse_hello(body);
    if (!host) return Error("the host's Hello does not read: " + host.error().text);
    if (host->ephemeral_key.size() != 32) return Error("the host's ephemeral key is not 32 bytes");
    auto shared = x25519_shared_secret(ephemeral_secret_, to_key32(host->ephemeral_key));
    if (!shared) return Error("the shared secret is all zero");
    transcript_ = handshake_transcript(own_hello_, body);
    HandshakeKeys derived = derive_handshake_keys(*shared, transcript_);
    keys_.device_to_host = derived.device_to_host;
    keys_.host_to_device = derived.host_to_device;
    keys_.pairing = derived.pairing;
    wipe_key32(*shared);
    host_hello_ = std::move(host).value();
    return {};
}

Bytes DeviceHandshake::commit(std::string_view code, std::optional<Key32> nonce) {
    code_ = std::string(code);
    nonce_ = nonce ? *nonce : fresh_random32();
    Digest32 proof = pairing_proof(keys_.pairing, code_, kDeviceRole, transcript_);
    Digest32 commitment = pairing_commitment(nonce_, proof);
    HandshakeMessage message;
    message.kind = HandshakeKind::Commit;
    message.value = Bytes(commitment.begin(), commitment.end());
    return write_handshake_message(message);
}

Status DeviceHandshake::receive_host_commit(ByteView body) {
    auto message = read_reply(body, HandshakeKind::Commit);
    if (!message) return message.error();
    if (!message->value || message->value->size() != 32) return Error("the host's commitment is not 32 bytes");
    host_commitment_ = *message->value;
    return {};
}

Bytes DeviceHandshake::reveal() const {
    Digest32 proof = pairing_proof(keys_.pairing, code_, kDeviceRole, transcript_);
    HandshakeMessage message;
    message.kind = HandshakeKind::Reveal;
    message.value = Bytes(proof.begin(), proof.end());
    message.nonce = Bytes(nonce_.begin(), nonce_.end());
    return write_handshake_message(message);
}

Status DeviceHandshake::receive_host_reveal(ByteView body) {
    auto message = read_reply(body, HandshakeKind::Reveal);
    if (!message) return message.error();
    if (!message->value || !message->nonce) return Error("the host's reveal lacks its proof or nonce");
    Digest32 commitment = pairing_commitment(*message->nonce, *message->value);
    if (!std::equal(commitment.begin(), commitment.end(), host_commitment_.begin(), host_commitment_.end())) {
        return Error("the host's reveal does not match its commitment");
    }
    Digest32 expected = pairing_proof(keys_.pairing, code_, kHostRole, transcript_);
    if (!std::equal(expected.begin(), expected.end(), message->value->begin(), message->value->end())) {
        return Error("the host's proof does not match the code");
    }
    return {};
}

Bytes DeviceHandshake::signature() const {
    Signature64 signature = ed25519_sign(identity_.keys, signed_transcript(kDeviceRole, transcript_));
    HandshakeMessage message;
    message.kind = HandshakeKind::Signature;
    message.value = Bytes(signature.begin(), signature.end());
    return write_handshake_message(message);
}

Status DeviceHandshake::receive_host_signature(ByteView body) {
    auto message = read_reply(body, HandshakeKind::Signature);
    if (!message) return message.error();
    if (!message->value || message->value->size() != 64) return Error("the host's signature is not 64 bytes");
    if (!host_hello_ || host_hello_->id_key.size() != 32) return Error("the host's identity key is not 32 bytes");
    Signature64 signature{};
    std::copy(message->value->begin(), message->value->end(), signature.begin());
    if (!ed25519_verify(to_key32(host_hello_->id_key), signed_transcript(kHostRole, transcript_), signature)) {
        return Error("the host's signature does not verify");
    }
    return {};
}

// --- MemoryPipe --------------------------------------------------------------------

std::pair<std::unique_ptr<MemoryPipe>, std::unique_ptr<MemoryPipe>> MemoryPipe::make_pair() {
    auto a_to_b = std::make_shared<Channel>();
    auto b_to_a = std::make_shared<Channel>();
    std::unique_ptr<MemoryPipe> a(new MemoryPipe(b_to_a, a_to_b));
    std::unique_ptr<MemoryPipe> b(new MemoryPipe(a_to_b, b_to_a));
    return {std::move(a), std::move(b)};
}

MemoryPipe::~MemoryPipe() { close(); }

Status MemoryPipe::send(ByteView bytes) {
    std::lock_guard lock(out_->mutex);
    if (out_->closed) return Error("the pipe is closed");
    out_->bytes.insert(out_->bytes.end(), bytes.begin(), bytes.end());
    out_->ready.notify_all();
    return {};
}

Result<Bytes> MemoryPipe::receive(std::size_t max, std::chrono::milliseconds timeout) {
    std::unique_lock lock(in_->mutex);
    if (!in_->ready.wait_for(lock, timeout, [&] { return !in_->bytes.empty() || in_->closed; })) {
        return Error("timed out");
    }
    std::size_t n = std::min(max, in_->bytes.size());
    Bytes out(in_->bytes.begin(), in_->bytes.begin() + static_cast<std::ptrdiff_t>(n));
    in_->bytes.erase(in_->bytes.begin(), in_->bytes.begin() + static_cast<std::ptrdiff_t>(n));
    return out;
}

void MemoryPipe::close() {
    std::lock_guard lock(out_->mutex);
    out_->closed = true;
    out_->ready.notify_all();
}

// --- SocketStream ----------------------------------------------------------------

Result<std::unique_ptr<SocketStream>> SocketStream::connect(const IpAddress& address, std::uint16_t port,
                                                            const std::optional<IpAddress>& from) {
    auto socket = Socket::connect(address, port, std::chrono::seconds(10), from);
    if (!socket) return socket.error();
    return std::make_unique<SocketStream>(std::move(socket).value());
}

Status SocketStream::send(ByteView bytes) { return socket_.send_all(bytes); }

Result<Bytes> SocketStream::receive(std::size_t max, std::chrono::milliseconds timeout) {
    Bytes buffer(max);
    ReceiveOutcome outcome = socket_.receive(buffer.data(), buffer.size(), timeout);
    switch (outcome.kind) {
        case ReceiveOutcome::Kind::Data: buffer.resize(outcome.size); return buffer;
        case ReceiveOutcome::Kind::Closed:
        case ReceiveOutcome::Kind::Shutdown: return Bytes{};
        case ReceiveOutcome::Kind::TimedOut: return Error("timed out");
        case ReceiveOutcome::Kind::Failed: break;
    }
    return Error(outcome.error);
}

void SocketStream::close() { socket_.shutdown_both(); }

// --- DevicePeer ----------------------------------------------------------------------

DevicePeer::DevicePeer(std::unique_ptr<ByteStream> stream, DeviceIdentity identity)
    : stream_(std::move(stream)), handshake_(std::move(identity)) {}

Result<Bytes> DevicePeer::next_raw_frame(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (pending_.size() >= 4) {
            std::uint32_t length = get_u32_be(pending_.data());
            if (length == 0) return Error("the host sent a frame of length 0");
            if (pending_.size() >= 4 + std::size_t{length}) {
                Bytes frame(pending_.begin() + 4, pending_.begin() + 4 + length);
                pending_.erase(pending_.begin(), pending_.begin() + 4 + length);
                return frame;  // type byte and body
            }
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return Error("timed out waiting for a frame");
        auto more = stream_->receive(65536, left);
        if (!more) return more.error();
        if (more->empty()) return Error("the host closed the link");
        append(pending_, *more);
    }
}

Status DevicePeer::send_plain(FrameType type, ByteView body) {
    Bytes frame;
    append_u32_be(frame, static_cast<std::uint32_t>(body.size() + 1));
    frame.push_back(static_cast<std::uint8_t>(type));
    append(frame, body);
    return stream_->send(frame);
}

Result<ReceivedFrame> DevicePeer::receive_plain(std::chrono::milliseconds timeout) {
    auto raw = next_raw_frame(timeout);
    if (!raw) return raw.error();
    ReceivedFrame frame{static_cast<FrameType>(raw->front()), Bytes(raw->begin() + 1, raw->end())};
    return frame;
}

Status DevicePeer::expect_handshake_reply(Bytes& body) {
    auto frame = receive_plain();
    if (!frame) return frame.error();
    if (frame->type != FrameType::Handshake) return Error("the host did not answer with a Handshake frame");
    auto message = parse_handshake_message(frame->body);
    if (message && message->kind == HandshakeKind::Failure) failure_ = message->reason;
    body = std::move(frame->body);
    return {};
}

Status DevicePeer::pair(std::string_view code, std::optional<PeerRole> role) {
    if (Status s = send_plain(FrameType::Hello, handshake_.hello(HelloMode::Pair, role)); !s) return s;
    auto host_hello = receive_plain();
    if (!host_hello) return host_hello.error();
    if (host_hello->type == FrameType::Handshake) {
        auto message = parse_handshake_message(host_hello->body);
        if (message && message->kind == HandshakeKind::Failure) failure_ = message->reason;
        return Error("the host answered the Hello with a handshake message");
    }
    if (Status s = handshake_.receive_host_hello(host_hello->body); !s) return s;

    if (Status s = send_plain(FrameType::Handshake, handshake_.commit(code)); !s) return s;
    Bytes reply;
    if (Status s = expect_handshake_reply(reply); !s) return s;
    if (Status s = handshake_.receive_host_commit(reply); !s) return s;

    if (Status s = send_plain(FrameType::Handshake, handshake_.reveal()); !s) return s;
    if (Status s = expect_handshake_reply(reply); !s) return s;
    if (Status s = handshake_.receive_host_reveal(reply); !s) return s;
    install_keys();
    return {};
}

Status DevicePeer::sign_in(std::optional<PeerRole> role) {
    if (Status s = send_sign_in_hello(role); !s) return s;
    return finish_sign_in();
}

Status DevicePeer::send_sign_in_hello(std::optional<PeerRole> role) {
    if (Status s = send_plain(FrameType::Hello, handshake_.hello(HelloMode::Auth, role)); !s) return s;
    auto host_hello = receive_plain();
    if (!host_hello) return host_hello.error();
    if (host_hello->type != FrameType::Hello) return Error("the host answered the Hello with a handshake message");
    return handshake_.receive_host_hello(host_hello->body);
}

Status DevicePeer::finish_sign_in() {
    if (Status s = send_plain(FrameType::Handshake, handshake_.signature()); !s) return s;
    Bytes reply;
    if (Status s = expect_handshake_reply(reply); !s) return s;
    if (Status s = handshake_.receive_host_signature(reply); !s) return s;
    install_keys();
    return {};
}

Status DevicePeer::act_as_stranger(Stranger kind, const DeviceIdentity& trusted) {
    if (kind == Stranger::Silent) return {};
    DeviceHandshake copied(trusted);
    const Bytes hello = kind == Stranger::CopiedHello ? copied.hello(HelloMode::Auth)
                                                      : handshake_.hello(HelloMode::Auth);
    if (Status s = send_plain(FrameType::Hello, hello); !s) return s;
    auto host_hello = receive_plain();
    if (!host_hello) return host_hello.error();
    return {};
}

void DevicePeer::install_keys() {
    send_key_ = std::make_unique<SealingKey>(handshake_.keys().device_to_host);
    receive_key_ = std::make_unique<SealingKey>(handshake_.keys().host_to_device);
}

Status DevicePeer::send_frame(FrameType inner_type, ByteView body) {
    if (!send_key_) return Error("the device is not signed in");
    return stream_->send(seal_frame(*send_key_, inner_type, body));
}

Status DevicePeer::send_control_text(std::string_view json) { return send_frame(FrameType::Control, to_bytes(json)); }

Result<ReceivedFrame> DevicePeer::receive_frame(std::chrono::milliseconds timeout) {
    if (!receive_key_) return Error("the device is not signed in");
    auto raw = next_raw_frame(timeout);
    if (!raw) return raw.error();
    if (static_cast<FrameType>(raw->front()) != FrameType::Sealed) {
        return Error("the host sent a plain frame after sign-in");
    }
    auto opened = open_frame(*receive_key_, ByteView(*raw).subspan(1));
    if (!opened) return Error("a sealed frame from the host did not open");
    return ReceivedFrame{opened->type, std::move(opened->body)};
}

Result<ReceivedFrame> DevicePeer::receive_frame_of(FrameType inner_type, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return Error("timed out waiting for a frame");
        auto frame = receive_frame(left);
        if (!frame || frame->type == inner_type) return frame;
    }
}

bool DevicePeer::wait_closed(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        auto more = stream_->receive(65536, left);
        if (!more) return false;
        if (more->empty()) return true;
        append(pending_, *more);
    }
}

}  // namespace vorlix
