#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "handshake/handshake.h"
#include "json/base64.h"
#include "support/device_peer.h"

namespace vorlix {
namespace {

Key32 key_from_hex(std::string_view hex) {
    Key32 key{};
    for (std::size_t i = 0; i < 32; ++i) key[i] = static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(2 * i, 2)), nullptr, 16));
    return key;
}

Key32 filled(std::uint8_t v) {
    Key32 k;
    k.fill(v);
    return k;
}

Key32 counting(std::uint8_t first) {
    Key32 k;
    for (std::size_t i = 0; i < 32; ++i) k[i] = static_cast<std::uint8_t>(first + i);
    return k;
}

// RFC 7748's two X25519 secrets, so that the ephemeral public keys are known values.
//
// Every expected key, commitment, proof and signature in the byte-exact tests
// below was worked out apart from this code, from the two Hello texts as the
// tests write them: the X25519 public keys and shared secret (RFC 7748 6.1's
// 4a5d9d5b...1e161742) and the Ed25519 identity keys and signatures with the
// OpenSSL 3.0 command line (pkey, pkeyutl -derive, pkeyutl -sign -rawin); the
// transcript T = SHA-256(device Hello + host Hello), the keys
// HKDF-SHA256(salt T, secret, "vorlix/1 " + label), the proofs
// HMAC-SHA256(pairing key, code + "device" or "mac" + T) and the commitments
// SHA-256(nonce + proof) with Python's hashlib and hmac modules.
const Key32 kHostEphemeral = key_from_hex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
const Key32 kDeviceEphemeral = key_from_hex("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb");
const Key32 kHostNonce = filled(0x42);
const Key32 kDeviceNonce = filled(0x24);

struct Host {
    std::vector<Bytes> trusted;
    std::optional<std::string> code;
    int trust_checks = 0;
    std::vector<Key32> randoms;  // handed out in order by the random source

    std::unique_ptr<HandshakeState> make() {
        return std::make_unique<HandshakeState>(
            "Desk", "PC Model", ed25519_from_seed(counting(0xA0)),
            [this](ByteView key) {
                ++trust_checks;
                for (const Bytes& t : trusted) {
                    if (std::equal(t.begin(), t.end(), key.begin(), key.end())) return true;
                }
                return false;
            },
            [this] { return code; },
            [this] {
                Key32 next = randoms.front();
                randoms.erase(randoms.begin());
                return next;
            });
    }
};

DeviceIdentity fixed_device() { return DeviceIdentity::from_seed(counting(1), "Phone", "P1"); }

std::string text_of(const Frame& frame) { return to_string(frame.body); }

std::string failure_text(PairingError e) {
    return "{\"kind\":\"failure\",\"reason\":\"" + std::string(pairing_error_text(e)) + "\"}";
}

// The one failure frame, and the reason, of a Failed outcome.
void expect_failed(const HandshakeOutcome& outcome, PairingError error) {
    ASSERT_TRUE(std::holds_alternative<HandshakeFailed>(outcome));
    const auto& failed = std::get<HandshakeFailed>(outcome);
    EXPECT_EQ(failed.error, error);
    ASSERT_EQ(failed.frames.size(), 1u);
    EXPECT_EQ(failed.frames[0].type, FrameType::Handshake);
    EXPECT_EQ(text_of(failed.frames[0]), failure_text(error));
}

const Frame& only_frame(const HandshakeOutcome& outcome) {
    const auto& frames = outcome_frames(outcome);
    EXPECT_EQ(frames.size(), 1u);
    return frames.front();
}

TEST(Handshake, PairingWithTheRightCodeIsByteExact) {
    Host host;
    host.code = "123456";
    host.randoms = {kHostEphemeral, kHostNonce};
    auto state = host.make();
    DeviceHandshake device(fixed_device(), kDeviceEphemeral);

    Bytes hello = device.hello(HelloMode::Pair);
    EXPECT_EQ(to_string(hello),
              "{\"version\":1,\"name\":\"Phone\",\"model\":\"P1\",\"idKey\":\"ebVWLo/mVPlAeLES6KmLp5AfhTrmlb7X4OORC60ElmQ=\","
              "\"ephemeralKey\":\"3p7bfXt9wbTTW2HC7OQ1Nz+DQ8hbeGdNrfx+FG+IK08=\",\"mode\":\"pair\"}");
    auto outcome = state->step(FrameType::Hello, hello);
    ASSERT_TRUE(std::holds_alternative<HandshakeContinue>(outcome));
    const Frame& host_hello = only_frame(outcome);
    EXPECT_EQ(host_hello.type, FrameType::Hello);
    EXPECT_EQ(text_of(host_hello),
              "{\"version\":1,\"name\":\"Desk\",\"model\":\"PC Model\",\"idKey\":\"T9CZzNR9eJPf6ewkQU7LDZtUICMqrTDZHEZb4zy+ZcQ=\","
              "\"ephemeralKey\":\"hSDwCYkwp1R0i33ctD73Wg2/Og0mOBr066SpjqqbTmo=\",\"known\":false,\"pairingOpen\":true,"
              "\"roles\":[\"send\",\"watch\"]}");
    EXPECT_EQ(state->current_step(), 1);
    ASSERT_TRUE(device.receive_host_hello(host_hello.body));

    Bytes commit = device.commit("123456", kDeviceNonce);
    EXPECT_EQ(to_string(commit), "{\"kind\":\"commit\",\"value\":\"Zez1gzxI8WUYyz50sJ+wvuuQ3PPAHYqwgaHC8Vqs05M=\"}");
    outcome = state->step(FrameType::Handshake, commit);
    ASSERT_TRUE(std::holds_alternative<HandshakeContinue>(outcome));
    EXPECT_EQ(text_of(only_frame(outcome)), "{\"kind\":\"commit\",\"value\":\"+AHeVXpwOxsYSFj7caQqTgePwo4447i3lK9bBjtPH0E=\"}");
    ASSERT_TRUE(device.receive_host_commit(only_frame(outcome).body));

    Bytes reveal = device.reveal();
    EXPECT_EQ(to_string(reveal),
              "{\"kind\":\"reveal\",\"value\":\"/htVLAApEbyxxnahv+TtctZ2gTEvXZE7nTWYOc8G0/U=\","
              "\"nonce\":\"JCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQ=\"}");
    outcome = state->step(FrameType::Handshake, reveal);
    ASSERT_TRUE(std::holds_alternative<HandshakeDone>(outcome));
    const auto& done = std::get<HandshakeDone>(outcome);
    ASSERT_EQ(done.frames.size(), 1u);
    EXPECT_EQ(text_of(done.frames[0]),
              "{\"kind\":\"reveal\",\"value\":\"JfkeCbVUij1x2U1IL+wAh++e3eMyZOhMSrrqOgvr/ZA=\","
              "\"nonce\":\"QkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkI=\"}");
    ASSERT_TRUE(device.receive_host_reveal(done.frames[0].body));

    EXPECT_TRUE(done.paired);
    EXPECT_EQ(done.device_name, "Phone");
    EXPECT_EQ(done.device_model, "P1");
    EXPECT_EQ(base64_encode(done.device_id_key), "ebVWLo/mVPlAeLES6KmLp5AfhTrmlb7X4OORC60ElmQ=");
    EXPECT_EQ(done.device_to_host_key, key_from_hex("5b5f13bec908eb027e27eea11ec778deeab94ff72ca102d36ae994030054bd60"));
    EXPECT_EQ(done.host_to_device_key, key_from_hex("a094e55a9c2d6b7a530d10d5176a8dc5bbf291c232a9f916f00a2512d998e926"));
    EXPECT_EQ(device.keys().device_to_host, done.device_to_host_key);
    EXPECT_EQ(device.keys().host_to_device, done.host_to_device_key);
    EXPECT_EQ(state->current_step(), 4);
    EXPECT_EQ(state->peer_role(), std::nullopt);
    EXPECT_EQ(state->link_kind(), (std::pair<LinkKind, std::uint64_t>{LinkKind::Device, 0}));

    // Nothing more is accepted once finished.
    expect_failed(state->step(FrameType::Handshake, reveal), PairingError::Malformed);
}

TEST(Handshake, SignInWithATrustedKeyIsByteExact) {
    Host host;
    DeviceIdentity identity = fixed_device();
    host.trusted.push_back(Bytes(identity.keys.public_key.begin(), identity.keys.public_key.end()));
    host.randoms = {kHostEphemeral};
    auto state = host.make();
    DeviceHandshake device(identity, kDeviceEphemeral);

    auto outcome = state->step(FrameType::Hello, device.hello(HelloMode::Auth));
    EXPECT_EQ(text_of(only_frame(outcome)),
              "{\"version\":1,\"name\":\"Desk\",\"model\":\"PC Model\",\"idKey\":\"T9CZzNR9eJPf6ewkQU7LDZtUICMqrTDZHEZb4zy+ZcQ=\","
              "\"ephemeralKey\":\"hSDwCYkwp1R0i33ctD73Wg2/Og0mOBr066SpjqqbTmo=\",\"known\":true,\"pairingOpen\":false,"
              "\"roles\":[\"send\",\"watch\"]}");
    EXPECT_EQ(state->current_step(), 3);
    EXPECT_EQ(host.trust_checks, 1);
    ASSERT_TRUE(device.receive_host_hello(only_frame(outcome).body));

    Bytes signature = device.signature();
    EXPECT_EQ(to_string(signature),
              "{\"kind\":\"signature\",\"value\":\"6bbUwTPeIqn7Zzn3vlQzQbxql5rg5i7zLtQ1Cs3NT1V1NnhG6Vuu1jbogkVxwJfZVyvaXks8R8K"
              "WJADLN3WbDQ==\"}");
    outcome = state->step(FrameType::Handshake, signature);
    ASSERT_TRUE(std::holds_alternative<HandshakeDone>(outcome));
    const auto& done = std::get<HandshakeDone>(outcome);
    EXPECT_EQ(text_of(done.frames.at(0)),
              "{\"kind\":\"signature\",\"value\":\"LjlTSqE/j9BSnqzOkytK899CTe/lU4sO6QuCqIKJW2HuO56Yb+50xkck1NgdSjEScCFaLH2"
              "MlCX8THpwICu5DA==\"}");
    ASSERT_TRUE(device.receive_host_signature(done.frames[0].body));
    EXPECT_FALSE(done.paired);
    EXPECT_EQ(done.device_to_host_key, key_from_hex("aea50683108ca430fc4285de3050b1c75cd8c1804524a73006c35e843182289c"));
    EXPECT_EQ(done.host_to_device_key, key_from_hex("17e34bc99cd26fe4cc54721fcb254041655b8d54247f5340d7789a3b26d32712"));
    EXPECT_EQ(device.keys().device_to_host, done.device_to_host_key);
    EXPECT_EQ(device.keys().host_to_device, done.host_to_device_key);
}

TEST(Handshake, SignedMessagesAndLabels) {
    Digest32 t = counting(0);
    Bytes host = signed_transcript(kHostRole, t);
    Bytes device = signed_transcript(kDeviceRole, t);
    EXPECT_EQ(host.size(), 45u);
    EXPECT_EQ(device.size(), 48u);
    EXPECT_EQ(to_string(ByteView(host).first(13)), "vorlix/1 mac ");
    EXPECT_EQ(to_string(ByteView(device).first(16)), "vorlix/1 device ");
    EXPECT_TRUE(std::equal(t.begin(), t.end(), host.end() - 32));
}

TEST(Handshake, RolesOffered) {
    for (auto [role, expected] : std::vector<std::pair<std::optional<PeerRole>, std::string>>{
             {std::nullopt, "[\"send\",\"watch\"]"},
             {PeerRole::Send, "[\"send\",\"watch\"]"},
             {PeerRole::Watch, "[\"send\",\"watch\"]"},
             {PeerRole::Preview, "[\"send\",\"watch\",\"preview\"]"}}) {
        Host host;
        host.randoms = {kHostEphemeral};
        auto state = host.make();
        DeviceHandshake device(fixed_device(), kDeviceEphemeral);
        auto outcome = state->step(FrameType::Hello, device.hello(HelloMode::Pair, role));
        auto hello = parse_hello(only_frame(outcome).body);
        ASSERT_TRUE(hello.ok());
        EXPECT_EQ(to_string(only_frame(outcome).body).find("\"roles\":" + expected + "}") != std::string::npos, true);
        EXPECT_EQ(state->peer_role(), role);
        EXPECT_FALSE(hello->mode || hello->role || hello->invite);
    }
}

// Runs the Hello step for a device Hello record changed by `change`.
HandshakeOutcome hello_outcome(Host& host, std::unique_ptr<HandshakeState>& state,
                               const std::function<void(Hello&)>& change, HelloMode mode = HelloMode::Pair) {
    host.randoms = {kHostEphemeral, kHostNonce};
    state = host.make();
    DeviceHandshake device(fixed_device(), kDeviceEphemeral);
    Hello record = device.hello_record(mode);
    change(record);
    return state->step(FrameType::Hello, write_hello(record));
}

TEST(HandshakeFailures, HelloStep) {
    Host host;
    host.code = "000000";
    std::unique_ptr<HandshakeState> state;
    auto check = [&](const std::function<void(Hello&)>& change, PairingError error, HelloMode mode = HelloMode::Pair) {
        expect_failed(hello_outcome(host, state, change, mode), error);
        EXPECT_EQ(state->current_step(), 0);
        EXPECT_EQ(state->peer_role(), std::nullopt);
    };
    check([](Hello& h) { h.mode.reset(); }, PairingError::Malformed);
    check([](Hello& h) { h.ephemeral_key.resize(31); }, PairingError::Malformed);
    check([](Hello& h) { h.ephemeral_key.push_back(0); }, PairingError::Malformed);
    check([](Hello& h) { h.ephemeral_key.clear(); }, PairingError::Malformed);
    check([](Hello& h) { h.ephemeral_key.assign(32, 0); }, PairingError::Malformed);
    check([](Hello& h) { h.mode = HelloMode::Invite; }, PairingError::Malformed);
    check([](Hello& h) { h.version = 2; }, PairingError::VersionMismatch);
    check([](Hello& h) { h.version = 0; }, PairingError::VersionMismatch, HelloMode::Auth);
    check([](Hello& h) { h.version = -3; }, PairingError::VersionMismatch);
    // The key checks come before the version, the version before the mode.
    check([](Hello& h) { h.version = 2; h.ephemeral_key.assign(32, 0); }, PairingError::Malformed);
    check([](Hello& h) { h.version = 2; h.mode.reset(); }, PairingError::Malformed);
    check([](Hello& h) { h.version = 2; h.mode = HelloMode::Invite; }, PairingError::VersionMismatch);
    // A device that pairs must bring a 32-byte identity key.
    check([](Hello& h) { h.id_key.resize(31); }, PairingError::Malformed);
    check([](Hello& h) { h.id_key.clear(); }, PairingError::Malformed);
    EXPECT_EQ(host.trust_checks, 0);

    // Unreadable bodies.
    for (const char* body : {"", "{", "[]", "{\"version\":1}", "{\"version\":1,\"version\":1}"}) {
        host.randoms = {kHostEphemeral};
        state = host.make();
        expect_failed(state->step(FrameType::Hello, to_bytes(body)), PairingError::Malformed);
    }

    // A second Hello.
    host.randoms = {kHostEphemeral};
    state = host.make();
    DeviceHandshake device(fixed_device(), kDeviceEphemeral);
    Bytes hello = device.hello(HelloMode::Pair);
    ASSERT_TRUE(std::holds_alternative<HandshakeContinue>(state->step(FrameType::Hello, hello)));
    expect_failed(state->step(FrameType::Hello, hello), PairingError::Malformed);
    EXPECT_EQ(state->current_step(), 1);

    // Frames that are neither Hello nor Handshake.
    host.randoms = {kHostEphemeral};
    state = host.make();
    expect_failed(state->step(FrameType::Control, hello), PairingError::Malformed);
    expect_failed(state->step(FrameType::Sealed, hello), PairingError::Malformed);
    EXPECT_EQ(state->current_step(), 0);
}

TEST(HandshakeFailures, SignInKeepsAShortKeyUntilTheSignature) {
    Host host;
    std::unique_ptr<HandshakeState> state;
    Bytes short_key;
    auto outcome = hello_outcome(host, state, [&](Hello& h) { h.id_key.resize(31); short_key = h.id_key; }, HelloMode::Auth);
    ASSERT_TRUE(std::holds_alternative<HandshakeContinue>(outcome));
    // Trust it anyway, to reach the signature check.
    host.trusted.push_back(short_key);
    outcome = hello_outcome(host, state, [&](Hello& h) { h.id_key = short_key; }, HelloMode::Auth);
    ASSERT_EQ(state->current_step(), 3);
    HandshakeMessage signature{HandshakeKind::Signature, Bytes(64, 1), {}, {}};
    expect_failed(state->step(FrameType::Handshake, write_handshake_message(signature)), PairingError::BadSignature);
}

struct Exchange {
    Host host;
    std::unique_ptr<HandshakeState> state;
    std::unique_ptr<DeviceHandshake> device;

    // Runs the Hello step for `mode`; the device is trusted when `trusted`.
    void start(HelloMode mode, std::optional<std::string> code, bool trusted) {
        host.code = std::move(code);
        host.randoms = {kHostEphemeral, kHostNonce};
        DeviceIdentity identity = fixed_device();
        if (trusted) host.trusted.push_back(Bytes(identity.keys.public_key.begin(), identity.keys.public_key.end()));
        state = host.make();
        device = std::make_unique<DeviceHandshake>(identity, kDeviceEphemeral);
        auto outcome = state->step(FrameType::Hello, device->hello(mode));
        ASSERT_TRUE(std::holds_alternative<HandshakeContinue>(outcome));
        ASSERT_TRUE(device->receive_host_hello(only_frame(outcome).body));
    }

    HandshakeOutcome send(const HandshakeMessage& m) { return state->step(FrameType::Handshake, write_handshake_message(m)); }
    HandshakeOutcome send(const Bytes& body) { return state->step(FrameType::Handshake, body); }
};

TEST(HandshakeFailures, MessageSteps) {
    // Before the Hello.
    {
        Host host;
        host.randoms = {kHostEphemeral};
        auto state = host.make();
        expect_failed(state->step(FrameType::Handshake, write_handshake_message({HandshakeKind::Commit, Bytes(32, 1), {}, {}})),
                      PairingError::Malformed);
        expect_failed(state->step(FrameType::Handshake, to_bytes("not json")), PairingError::Malformed);
    }
    // Pairing, expecting the commit.
    {
        Exchange x;
        x.start(HelloMode::Pair, "123456", false);
        ASSERT_EQ(x.state->current_step(), 1);
        expect_failed(x.send(to_bytes("{\"kind\":\"commit\"")), PairingError::Malformed);
        expect_failed(x.send({HandshakeKind::Commit, Bytes(31, 1), {}, {}}), PairingError::Malformed);
        expect_failed(x.send({HandshakeKind::Commit, Bytes(33, 1), {}, {}}), PairingError::Malformed);
        expect_failed(x.send({HandshakeKind::Commit, {}, {}, {}}), PairingError::Malformed);
        expect_failed(x.send({HandshakeKind::Signature, Bytes(64, 1), {}, {}}), PairingError::Malformed);
        expect_failed(x.send({HandshakeKind::Proof, Bytes(32, 1), {}, {}}), PairingError::Malformed);
        expect_failed(x.send({HandshakeKind::Reveal, Bytes(32, 1), Bytes(32, 1), {}}), PairingError::Malformed);
        expect_failed(x.send({HandshakeKind::Failure, {}, {}, PairingError::WrongCode}), PairingError::Malformed);
        EXPECT_EQ(x.state->current_step(), 1);
        // Still usable: the right commit goes through.
        EXPECT_TRUE(std::holds_alternative<HandshakeContinue>(x.send(x.device->commit("123456", kDeviceNonce))));
        EXPECT_EQ(x.state->current_step(), 2);
    }
    // Pairing, expecting the reveal.
    auto at_reveal = [](Exchange& x, std::string_view device_code) {
        x.start(HelloMode::Pair, "123456", false);
        auto outcome = x.send(x.device->commit(device_code, kDeviceNonce));
        ASSERT_TRUE(x.device->receive_host_commit(only_frame(outcome).body));
        ASSERT_EQ(x.state->current_step(), 2);
    };
    {
        Exchange x;
        at_reveal(x, "123456");
        auto good = parse_handshake_message(x.device->reveal()).value();
        HandshakeMessage m = good;
        m.value.reset();
        expect_failed(x.send(m), PairingError::Malformed);
        m = good;
        m.nonce.reset();
        expect_failed(x.send(m), PairingError::Malformed);
        m = good;
        m.kind = HandshakeKind::Commit;
        expect_failed(x.send(m), PairingError::Malformed);
        m = good;
        m.nonce->at(0) ^= 1;  // right proof, nonce not the committed one
        expect_failed(x.send(m), PairingError::WrongCode);
        m = good;
        m.nonce->push_back(0);
        expect_failed(x.send(m), PairingError::WrongCode);
        m = good;
        m.value->push_back(0);
        expect_failed(x.send(m), PairingError::WrongCode);
        EXPECT_EQ(x.state->current_step(), 2);
        EXPECT_TRUE(std::holds_alternative<HandshakeDone>(x.send(good)));
    }
    {
        Exchange x;
        at_reveal(x, "654321");  // the device typed another code
        expect_failed(x.send(x.device->reveal()), PairingError::WrongCode);
    }
    // Sign-in, expecting the signature.
    {
        Exchange x;
        x.start(HelloMode::Auth, std::nullopt, true);
        ASSERT_EQ(x.state->current_step(), 3);
        auto good = parse_handshake_message(x.device->signature()).value();
        expect_failed(x.send({HandshakeKind::Commit, Bytes(32, 1), {}, {}}), PairingError::Malformed);
        expect_failed(x.send({HandshakeKind::Proof, Bytes(32, 1), {}, {}}), PairingError::Malformed);
        expect_failed(x.send({HandshakeKind::Signature, {}, {}, {}}), PairingError::BadSignature);
        HandshakeMessage m = good;
        m.value->pop_back();
        expect_failed(x.send(m), PairingError::BadSignature);
        m = good;
        m.value->at(10) ^= 0x80;
        expect_failed(x.send(m), PairingError::BadSignature);
        EXPECT_EQ(x.state->current_step(), 3);
        EXPECT_TRUE(std::holds_alternative<HandshakeDone>(x.send(good)));
    }
    {
        // A signature by another key than the announced one.
        Exchange x;
        x.start(HelloMode::Auth, std::nullopt, true);
        DeviceHandshake other(DeviceIdentity::from_seed(filled(9)), kDeviceEphemeral);
        other.hello(HelloMode::Auth);
        ASSERT_TRUE(other.receive_host_hello(write_hello(*x.device->host_hello())));
        expect_failed(x.send(other.signature()), PairingError::BadSignature);
    }
}

TEST(HandshakeFailures, NothingToWaitFor) {
    // Pairing while no code is open: the Hello is answered, then anything is malformed.
    {
        Exchange x;
        x.start(HelloMode::Pair, std::nullopt, false);
        EXPECT_EQ(x.device->host_hello()->pairing_open, false);
        EXPECT_EQ(x.state->current_step(), 4);
        expect_failed(x.send(x.device->commit("123456", kDeviceNonce)), PairingError::Malformed);
    }
    // Sign-in with an unknown key: known false, then malformed.
    {
        Exchange x;
        x.start(HelloMode::Auth, "123456", false);
        EXPECT_EQ(x.device->host_hello()->known, false);
        EXPECT_EQ(x.device->host_hello()->pairing_open, true);
        EXPECT_EQ(x.state->current_step(), 4);
        expect_failed(x.send(x.device->signature()), PairingError::Malformed);
    }
}

TEST(HandshakeFailures, TheRevealIsCheckedAgainstTheCodeOpenNow) {
    // A new code drawn after a wrong code elsewhere, or pairing closed by a
    // lock-out, since this link's Hello: the old code no longer pairs.
    const std::pair<std::optional<std::string>, PairingError> cases[] = {
        {"999999", PairingError::WrongCode},
        {std::nullopt, PairingError::PairingClosed},
    };
    for (const auto& [now, error] : cases) {
        Exchange x;
        x.start(HelloMode::Pair, "123456", false);
        x.host.code = now;
        auto outcome = x.send(x.device->commit("123456", kDeviceNonce));
        ASSERT_TRUE(x.device->receive_host_commit(only_frame(outcome).body));
        expect_failed(x.send(x.device->reveal()), error);
    }
}

TEST(Handshake, FreshEphemeralSecretsPerLink) {
    // Two handshakes made at once with the real random source, answered by the
    // same device Hello, announce different ephemeral keys and derive different keys.
    HandshakeState first("Desk", "PC", ed25519_from_seed(counting(0xA0)), nullptr, [] { return std::string("1"); });
    HandshakeState second("Desk", "PC", ed25519_from_seed(counting(0xA0)), nullptr, [] { return std::string("1"); });
    DeviceHandshake device(fixed_device(), kDeviceEphemeral);
    Bytes hello = device.hello(HelloMode::Pair);
    auto a = parse_hello(only_frame(first.step(FrameType::Hello, hello)).body).value();
    auto b = parse_hello(only_frame(second.step(FrameType::Hello, hello)).body).value();
    EXPECT_NE(a.ephemeral_key, b.ephemeral_key);
    EXPECT_EQ(a.id_key, b.id_key);
    EXPECT_EQ(a.known, false);  // no trust check given
}

TEST(Handshake, KeysEqual32) {
    Key32 key = counting(5);
    EXPECT_TRUE(keys_equal32(key, Bytes(key.begin(), key.end())));
    Bytes differs(key.begin(), key.end());
    differs[31] ^= 1;
    EXPECT_FALSE(keys_equal32(key, std::move(differs)));
    EXPECT_FALSE(keys_equal32(key, Bytes(key.begin(), key.begin() + 31)));
    Bytes longer(key.begin(), key.end());
    longer.push_back(0);
    EXPECT_FALSE(keys_equal32(key, std::move(longer)));
    Bytes taken(key.begin(), key.end());
    keys_equal32(key, std::move(taken));
    EXPECT_TRUE(taken.empty());  // NOLINT(bugprone-use-after-move): the list is taken over
}

}  // namespace
}  // namespace vorlix
