// Peers that try to wear the host down: parallel pairing guesses, links that
// never sign in, devices that stop reading, oversized documents.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

#include <thread>

#include "control/messages.h"
#include "handshake/messages.h"
#include "host/link_limits.h"
#include "host_fixture.h"
#include "json/json.h"
#include "support/wait.h"

namespace vorlix {
namespace {

using namespace std::chrono_literals;

class HostilePeers : public HostFixture {};

// The failure a plain handshake frame carries, if it is one.
std::optional<PairingError> failure_in(const Result<ReceivedFrame>& frame) {
    if (!frame) return std::nullopt;
    auto message = parse_handshake_message(frame->body);
    if (!message || message->kind != HandshakeKind::Failure) return std::nullopt;
    return message->reason;
}

TEST_F(HostilePeers, ALinkParkedBeforeTheLockOutCannotPairWithTheOldCode) {
    make_host();
    start_listening();
    host_->open_pairing();

    // The sixth link says Hello and commits to the code shown at that moment.
    DeviceIdentity attacker = DeviceIdentity::make("Sixth");
    auto parked = connect(attacker);
    DeviceHandshake device(attacker);
    ASSERT_TRUE(parked->send_plain(FrameType::Hello, device.hello(HelloMode::Pair)));
    auto hello = parked->receive_plain();
    ASSERT_TRUE(hello && device.receive_host_hello(hello->body));
    ASSERT_TRUE(device.host_hello()->pairing_open);
    ASSERT_TRUE(parked->send_plain(FrameType::Handshake, device.commit(read_code_file())));
    auto commit = parked->receive_plain();
    ASSERT_TRUE(commit && device.receive_host_commit(commit->body));

    // Five wrong codes on other links lock pairing.
    for (int i = 0; i < 5; ++i) {
        auto peer = connect(DeviceIdentity::make());
        EXPECT_FALSE(peer->pair(read_code_file() == "000000" ? "111111" : "000000"));
        EXPECT_TRUE(peer->wait_closed());
    }
    ASSERT_TRUE(wait_for_log("five wrong codes: pairing closed for 60 s"));

    ASSERT_TRUE(parked->send_plain(FrameType::Handshake, device.reveal()));
    EXPECT_EQ(failure_in(parked->receive_plain()), PairingError::PairingClosed);
    EXPECT_TRUE(parked->wait_closed());
    EXPECT_TRUE(host_->snapshot_host_status().devices.empty());
    EXPECT_FALSE(std::filesystem::exists(dir_ / "devices.json"));
}

TEST_F(HostilePeers, OnlyAFewPairingHandshakesRunAtOnce) {
    make_host();
    host_->limits.pairing_handshakes = 2;
    start_listening();
    host_->open_pairing();
    std::vector<std::unique_ptr<DevicePeer>> peers;
    std::vector<bool> open;
    for (int i = 0; i < 3; ++i) {
        DeviceHandshake device(DeviceIdentity::make());
        peers.push_back(connect(device.identity()));
        ASSERT_TRUE(peers.back()->send_plain(FrameType::Hello, device.hello(HelloMode::Pair)));
        auto hello = peers.back()->receive_plain();
        ASSERT_TRUE(hello && device.receive_host_hello(hello->body));
        open.push_back(device.host_hello()->pairing_open.value_or(false));
    }
    EXPECT_EQ(open, (std::vector<bool>{true, true, false}));
    EXPECT_TRUE(wait_for_log("too many pairings at once: one more refused"));
}

TEST_F(HostilePeers, ATricklingLinkEndsAtItsSignInDeadline) {
    make_host();
    host_->timeouts.before_sign_in = 300ms;
    start_listening();
    auto peer = connect(DeviceIdentity::make());
    // One byte of a Hello's header every 50 ms: each read comes in time, the
    // sign-in never does.
    const Bytes header = encode_plain_frame(FrameType::Hello, Bytes(200, '{'));
    bool closed = false;
    for (std::size_t i = 0; i < header.size() && i < 40 && !closed; ++i) {
        (void)peer->stream().send(ByteView(&header[i], 1));
        closed = peer->wait_closed(50ms);
    }
    EXPECT_TRUE(closed);
    EXPECT_TRUE(wait_for_log("session 1: link ended (no sign-in in time)"));
}

TEST_F(HostilePeers, LinksBeyondTheCapAreClosedAndADeviceSignsInOnceTheyGo) {
    DeviceIdentity phone = DeviceIdentity::make("Phone\n12:00:00.000 forged line");
    make_host({trusted(phone)});
    host_->limits.unsigned_links = 3;
    start_listening();
    std::vector<std::unique_ptr<DevicePeer>> silent;
    for (int i = 0; i < 3; ++i) silent.push_back(connect(DeviceIdentity::make()));
    ASSERT_TRUE(wait_until([&] { return host_->unsigned_links.size() == 3; }));
    auto extra = connect(phone);
    EXPECT_TRUE(extra->wait_closed());
    EXPECT_TRUE(wait_for_log("session 4: 3 links are waiting to sign in; closing this one"));

    for (auto& peer : silent) peer->close();
    ASSERT_TRUE(wait_until([&] { return host_->unsigned_links.size() == 0; }));
    auto device = signed_in_device(phone);
    ASSERT_TRUE(device && device->signed_in());
    // The device's own name cannot forge a log line.
    EXPECT_TRUE(wait_for_log("signed in: Phone\\x0a12:00:00.000 forged line"));
    EXPECT_EQ(host_->unsigned_links.size(), 0u);
}

TEST(UnsignedLinks, CapsInAllAndPerAddress) {
    LinkLimits limits;
    limits.unsigned_links = 3;
    limits.unsigned_links_per_address = 2;
    UnsignedLinks links;
    using A = UnsignedLinks::Admission;
    const std::pair<const char*, A> sequence[] = {
        {"10.0.0.1", A::Admitted}, {"10.0.0.1", A::Admitted}, {"10.0.0.1", A::TooManyFromAddress},
        {"10.0.0.2", A::Admitted}, {"10.0.0.3", A::TooMany},
    };
    std::uint64_t session = 1;
    for (const auto& [source, expected] : sequence) EXPECT_EQ(links.admit(session++, source, limits), expected);
    links.release(1);
    links.release(1);
    EXPECT_EQ(links.admit(session++, "10.0.0.1", limits), A::Admitted);
}

// A relay's links: at its cap, and at the overall cap, its oldest silent
// link that is not pairing makes room; direct links never do.
TEST(UnsignedLinks, ARelaysOldestSilentLinkMakesRoom) {
    LinkLimits limits;
    limits.unsigned_links = 5;
    limits.unsigned_links_per_relay = 3;
    UnsignedLinks links;
    std::vector<std::uint64_t> closed;
    const auto relay = [&](std::uint64_t session, const char* source) {
        auto admission = links.admit_through_relay(session, source, limits, [&closed, session] {
            closed.push_back(session);
        });
        return std::pair(admission.admission, admission.closed.value_or(0));
    };
    using A = UnsignedLinks::Admission;
    EXPECT_EQ(links.admit(1, "10.0.0.1", limits), A::Admitted);
    EXPECT_EQ(relay(2, "r1"), std::pair(A::Admitted, std::uint64_t{0}));
    links.set_pairing(2);
    EXPECT_EQ(relay(3, "r1"), std::pair(A::Admitted, std::uint64_t{0}));
    EXPECT_EQ(relay(4, "r1"), std::pair(A::Admitted, std::uint64_t{0}));
    EXPECT_EQ(relay(5, "r1"), std::pair(A::Admitted, std::uint64_t{3}));  // the relay's cap; 2 is pairing
    EXPECT_EQ(relay(6, "r2"), std::pair(A::Admitted, std::uint64_t{0}));
    EXPECT_EQ(relay(7, "r2"), std::pair(A::Admitted, std::uint64_t{6}));  // the overall cap
    EXPECT_EQ(links.admit(8, "10.0.0.2", limits), A::TooMany);
    EXPECT_EQ(links.size(), 5u);
    EXPECT_EQ(closed, (std::vector<std::uint64_t>{3, 6}));
    EXPECT_FALSE(links.release(3));
    EXPECT_TRUE(links.release(7));
    EXPECT_TRUE(links.release(4));
    EXPECT_EQ(relay(9, "r2"), std::pair(A::Admitted, std::uint64_t{0}));
    EXPECT_EQ(links.admit(10, "10.0.0.3", limits), A::Admitted);
    // Full, and the third relay has no link to give up.
    EXPECT_EQ(relay(11, "r3"), std::pair(A::TooMany, std::uint64_t{0}));
    EXPECT_EQ(closed.size(), 2u);
}

TEST_F(HostilePeers, ADeviceThatNeverReadsIsDisconnectedAtTheQueueBound) {
    DeviceIdentity phone = DeviceIdentity::make();
    make_host({trusted(phone)});
    constexpr std::uint64_t bound = 16 << 20;
    host_->limits.queued_bytes = bound;
    start_listening();
    // A small receive buffer, so that the device's side holds only a few
    // kilobytes of what the host writes.
    auto socket = Socket::connect(IpAddress::v4(127, 0, 0, 1), port_);
    ASSERT_TRUE(socket);
    const int small = 4096;
    ASSERT_EQ(setsockopt(socket->handle(), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&small), sizeof small), 0);
    DevicePeer peer(std::make_unique<SocketStream>(std::move(*socket)), phone);
    ASSERT_TRUE(peer.sign_in());
    // The pong follows the sign-in messages: the host has made this link its
    // device's by then, and nothing else is on its way.
    control_texts_until_pong(peer, 1);
    LinkWriter link;
    {
        auto lock = host_->lock_main();
        ASSERT_TRUE(host_->main().current_session);
        link = host_->main().current_session->writer.without_sender();
    }
    ASSERT_TRUE(wait_until([&] { return link.queued_bytes() == 0; }));

    // The PC's clipboard changes and the device reads nothing. The first text
    // is larger than both sockets hold (Linux lets a send buffer grow to
    // 4 MiB), so it is never written in full and all behind it stays counted.
    const std::size_t wrapping = encode_control_message(control::Clipboard{""}).size();
    const auto copy = [&](std::uint64_t body) {
        forward_platform_event(host_, PlatformEvent(ControlMessage(control::Clipboard{std::string(body - wrapping, 'c')})));
    };
    copy(12 << 20);
    copy(bound - (12 << 20));
    EXPECT_EQ(link.queued_bytes(), bound);
    EXPECT_FALSE(link.stalled()) << "exactly the bound waits: the link goes on";
    copy(wrapping + 1);
    EXPECT_TRUE(link.stalled()) << "one short message past the bound";
    EXPECT_TRUE(wait_for_log("session 1: the peer does not read: more than 16777216 bytes wait to be sent; closing"));
    EXPECT_TRUE(wait_for_log("session 1: closed"));
}

TEST_F(HostilePeers, AControlDocumentPastTheValueBoundIsRefused) {
    DeviceIdentity phone = DeviceIdentity::make();
    make_host({trusted(phone)});
    start_listening();
    auto peer = signed_in_device(phone);
    ASSERT_TRUE(peer);
    std::string wide = R"({"ping":{"_0":5,"pad":[)";
    for (std::size_t i = 0; i < kMaxJsonValues; ++i) wide += "0,";
    wide += "0]}}";
    ASSERT_TRUE(peer->send_control_text(wide));
    EXPECT_TRUE(wait_for_log("a control message of more than 65536 values refused"));
    // The link goes on: the next ping is answered, the refused one never was.
    ASSERT_TRUE(peer->send_control_text(R"({"ping":{"_0":6}})"));
    auto pong = peer->receive_frame_of(FrameType::Control);
    ASSERT_TRUE(pong);
    EXPECT_EQ(to_string(pong->body), R"({"pong":{"_0":6}})");
}

}  // namespace
}  // namespace vorlix
