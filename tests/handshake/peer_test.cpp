// The device peer against a HandshakeState driven by a minimal host loop,
// over an in-memory pipe and over loopback TCP.
#include <thread>

#include <gtest/gtest.h>

#include "handshake/handshake.h"
#include "support/device_peer.h"
#include "wire/frame.h"
#include "wire/sealed.h"

namespace vorlix {
namespace {

struct HostRun {
    std::optional<HandshakeDone> done;
    std::optional<PairingError> failed;
    std::string error;
};

// The host's half: plain frames into the handshake until it finishes, then
// one sealed frame from the device answered with "echo:" and its body.
void run_host(ByteStream& stream, HandshakeState& state, HostRun& run) {
    Bytes pending;
    std::optional<SealingKey> send_key;
    std::optional<SealingKey> receive_key;
    for (int rounds = 0; rounds < 100; ++rounds) {
        auto more = stream.receive(65536, std::chrono::seconds(5));
        if (!more || more->empty()) {
            run.error = more ? "closed" : more.error().text;
            return;
        }
        append(pending, *more);
        for (;;) {
            CutResult cut = cut_frame(pending);
            if (std::holds_alternative<NeedMoreBytes>(cut)) break;
            if (std::holds_alternative<FrameError>(cut)) {
                run.error = std::get<FrameError>(cut).text();
                return;
            }
            auto& frame = std::get<CutFrame>(cut);
            Frame received = std::move(frame.frame);
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(frame.consumed));
            if (!run.done) {
                HandshakeOutcome outcome = state.step(received.type, received.body);
                for (const Frame& out : outcome_frames(outcome)) {
                    if (!stream.send(encode_plain_frame(out.type, out.body))) return;
                }
                if (auto* failed = std::get_if<HandshakeFailed>(&outcome)) {
                    run.failed = failed->error;
                    stream.close();
                    return;
                }
                if (auto* done = std::get_if<HandshakeDone>(&outcome)) {
                    run.done = *done;
                    send_key.emplace(done->host_to_device_key);
                    receive_key.emplace(done->device_to_host_key);
                }
                continue;
            }
            if (received.type != FrameType::Sealed) {
                run.error = "plain frame after sign-in";
                return;
            }
            auto opened = open_frame(*receive_key, received.body);
            if (!opened) {
                run.error = "a sealed frame did not open";
                return;
            }
            Bytes reply = to_bytes("echo:");
            append(reply, opened->body);
            (void)stream.send(seal_frame(*send_key, opened->type, reply));
            return;
        }
    }
}

HandshakeState make_host(const std::vector<Bytes>& trusted, std::optional<std::string> code) {
    return HandshakeState(
        "Desk", "PC", new_identity_key(),
        [trusted](ByteView key) {
            for (const Bytes& t : trusted) {
                if (std::equal(t.begin(), t.end(), key.begin(), key.end())) return true;
            }
            return false;
        },
        [code] { return code; });
}

void expect_same_keys(const HostRun& run, const DevicePeer& device) {
    ASSERT_TRUE(run.done) << run.error;
    EXPECT_EQ(run.done->device_to_host_key, device.handshake().keys().device_to_host);
    EXPECT_EQ(run.done->host_to_device_key, device.handshake().keys().host_to_device);
    EXPECT_NE(run.done->device_to_host_key, run.done->host_to_device_key);
}

void exchange_sealed(DevicePeer& device) {
    ASSERT_TRUE(device.send_control_text("{\"ping\":{\"_0\":7}}"));
    auto reply = device.receive_frame();
    ASSERT_TRUE(reply.ok()) << reply.error().text;
    EXPECT_EQ(reply->type, FrameType::Control);
    EXPECT_EQ(to_string(reply->body), "echo:{\"ping\":{\"_0\":7}}");
}

TEST(DevicePeer, PairsOverAPipe) {
    auto [device_end, host_end] = MemoryPipe::make_pair();
    HandshakeState state = make_host({}, "042424");
    HostRun run;
    std::thread host([&, stream = host_end.get()] { run_host(*stream, state, run); });
    DevicePeer device(std::move(device_end), DeviceIdentity::make("Phone", "P1"));
    Status paired = device.pair("042424");
    EXPECT_TRUE(paired) << (paired ? "" : paired.error().text);
    if (paired) exchange_sealed(device);
    host.join();
    expect_same_keys(run, device);
    EXPECT_TRUE(run.done->paired);
    EXPECT_EQ(run.done->device_name, "Phone");
    EXPECT_EQ(run.done->device_model, "P1");
    EXPECT_EQ(device.host_hello()->pairing_open, true);
}

TEST(DevicePeer, WrongCodeIsReported) {
    auto [device_end, host_end] = MemoryPipe::make_pair();
    HandshakeState state = make_host({}, "042424");
    HostRun run;
    std::thread host([&, stream = host_end.get()] { run_host(*stream, state, run); });
    DevicePeer device(std::move(device_end), DeviceIdentity::make());
    EXPECT_FALSE(device.pair("111111"));
    host.join();
    EXPECT_EQ(run.failed, PairingError::WrongCode);
    EXPECT_EQ(device.failure(), PairingError::WrongCode);
    EXPECT_FALSE(device.signed_in());
    EXPECT_TRUE(device.wait_closed(std::chrono::seconds(1)));
}

TEST(DevicePeer, SignsInOverLoopbackTcp) {
    auto listener = Listener::bind(IpAddress::v4(127, 0, 0, 1), 0);
    ASSERT_TRUE(listener.ok()) << listener.error().text;
    auto port = listener->local_port();
    ASSERT_TRUE(port.ok());

    DeviceIdentity identity = DeviceIdentity::make("Tablet", "T2");
    Bytes key(identity.keys.public_key.begin(), identity.keys.public_key.end());
    HandshakeState state = make_host({key}, std::nullopt);
    HostRun run;
    std::thread host([&] {
        auto accepted = listener->accept();
        if (!accepted) return;
        SocketStream stream(std::move(accepted).value());
        run_host(stream, state, run);
    });
    auto stream = SocketStream::connect(IpAddress::v4(127, 0, 0, 1), *port);
    ASSERT_TRUE(stream.ok()) << stream.error().text;
    DevicePeer device(std::move(stream).value(), identity);
    Status signed_in = device.sign_in(PeerRole::Watch);
    EXPECT_TRUE(signed_in) << (signed_in ? "" : signed_in.error().text);
    if (signed_in) exchange_sealed(device);
    host.join();
    expect_same_keys(run, device);
    EXPECT_FALSE(run.done->paired);
    EXPECT_EQ(state.peer_role(), PeerRole::Watch);
    EXPECT_EQ(device.host_hello()->known, true);
}

TEST(DevicePeer, UnknownDeviceCannotSignIn) {
    auto [device_end, host_end] = MemoryPipe::make_pair();
    HandshakeState state = make_host({}, std::nullopt);
    HostRun run;
    std::thread host([&, stream = host_end.get()] { run_host(*stream, state, run); });
    DevicePeer device(std::move(device_end), DeviceIdentity::make());
    EXPECT_FALSE(device.sign_in());
    host.join();
    EXPECT_EQ(device.host_hello()->known, false);
    EXPECT_EQ(run.failed, PairingError::Malformed);
    EXPECT_EQ(device.failure(), PairingError::Malformed);
}

}  // namespace
}  // namespace vorlix
