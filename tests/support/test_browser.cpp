#include "support/test_browser.h"

#include <gtest/gtest.h>

#include "json/base64.h"
#include "watch_links/watch_handshake.h"

namespace vorlix::test {

std::optional<WatchAddress> read_watch_address(const std::string& url) {
    const std::size_t hash = url.find('#');
    if (hash == std::string::npos) return std::nullopt;
    std::optional<Bytes> token = base64url_decode(url.substr(hash + 1));
    if (!token || token->size() < 65 || (*token)[0] != 0x01) return std::nullopt;
    WatchAddress address;
    std::copy_n(token->begin() + 1, 32, address.secret.begin());
    std::copy_n(token->begin() + 33, 32, address.web_key.begin());
    address.relay_url.assign(token->begin() + 65, token->end());
    return address;
}

TestBrowser::TestBrowser(Socket socket)
    : peer(std::make_unique<SocketStream>(std::move(socket)), DeviceIdentity::make()) {}

std::optional<PairingError> TestBrowser::open(const Key32& secret, bool right_proof) {
    Hello hello;
    hello.version = 1;
    hello.name = "  " + std::string(50, 'b') + " ";
    hello.model = "Browser";
    const Key32 pub = x25519_public_key(ephemeral);
    hello.id_key.assign(pub.begin(), pub.end());
    hello.ephemeral_key = hello.id_key;
    hello.mode = HelloMode::Invite;
    hello.role = PeerRole::Watch;
    const WatchLinkId id = watch_link_id(secret);
    hello.invite = Bytes(id.begin(), id.end());
    const Bytes hello_body = write_hello(hello);
    EXPECT_TRUE(peer.send_plain(FrameType::Hello, hello_body));
    auto answer = peer.receive_plain();
    if (!answer) return PairingError::Malformed;
    if (answer->type != FrameType::Hello) return parse_handshake_message(answer->body)->reason;
    Result<Hello> host_hello = parse_hello(answer->body);
    if (!host_hello || host_hello->ephemeral_key.size() != 32) return PairingError::Malformed;
    Bytes transcript_input = hello_body;
    transcript_input.insert(transcript_input.end(), answer->body.begin(), answer->body.end());
    const Digest32 transcript = sha256(transcript_input);
    Key32 host_pub{};
    std::copy_n(host_hello->ephemeral_key.begin(), 32, host_pub.begin());
    const WatchKeys keys = derive_watch_keys(*x25519_shared_secret(ephemeral, host_pub), secret, transcript);
    HandshakeMessage proof;
    proof.kind = HandshakeKind::Proof;
    const Digest32 value = watch_hmac(keys.proof, right_proof ? "device" : "mac", transcript);
    proof.value = Bytes(value.begin(), value.end());
    EXPECT_TRUE(peer.send_plain(FrameType::Handshake, write_handshake_message(proof)));
    auto reply = peer.receive_plain();
    if (!reply) return PairingError::Malformed;
    Result<HandshakeMessage> message = parse_handshake_message(reply->body);
    if (!message) return PairingError::Malformed;
    if (message->kind != HandshakeKind::Proof) return message->reason;
    const Digest32 expected = watch_hmac(keys.proof, "mac", transcript);
    EXPECT_EQ(message->value, Bytes(expected.begin(), expected.end()));
    receive_key.emplace(keys.mac_to_device);
    send_key.emplace(keys.device_to_mac);
    return std::nullopt;
}

std::optional<Frame> TestBrowser::next(std::chrono::steady_clock::time_point until) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !receive_key) return std::nullopt;
    auto frame = peer.receive_plain(left);
    if (!frame || frame->type != FrameType::Sealed) return std::nullopt;
    return open_frame(*receive_key, frame->body);
}

bool TestBrowser::receive_control(const std::string& needle, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::optional<Frame> inner = next(until)) {
        if (inner->type == FrameType::Control && to_string(inner->body).find(needle) != std::string::npos) return true;
    }
    return false;
}

Status TestBrowser::send(FrameType type, const Bytes& body) {
    if (!send_key) return Error("not signed in");
    return peer.stream().send(seal_frame(*send_key, type, body));
}

}  // namespace vorlix::test
