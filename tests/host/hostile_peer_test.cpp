// Peers that try to wear the host down: parallel pairing guesses, links that
// never sign in, devices that stop reading, oversized documents.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

#include <atomic>
#include <memory>
#include <sstream>
#include <thread>

#include "control/messages.h"
#include "handshake/messages.h"
#include "host/link_limits.h"
#include "host_fixture.h"
#include "json/json.h"
#include "support/text_count.h"
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

// A Hello costs a stranger nothing, so it holds no pairing place: four links
// that go quiet after it do not keep the phone from pairing. A place is taken
// at the commit, once the code is typed, and given back when the reveal does
// not follow in time; a commit beyond the places is refused and the window
// says so.
TEST_F(HostilePeers, PairingPlacesAreTakenAtTheCommitOnly) {
    make_host();
    host_->limits.pairing_handshakes = 2;
    host_->timeouts.pairing_reveal = 300ms;
    start_listening();
    host_->open_pairing();
    const std::string code = read_code_file();
    struct Pairing {
        std::unique_ptr<DevicePeer> peer;
        DeviceHandshake device{DeviceIdentity::make()};
    };
    std::vector<std::unique_ptr<Pairing>> links;
    const auto hello = [&] {
        links.push_back(std::make_unique<Pairing>());
        Pairing& link = *links.back();
        link.peer = connect(link.device.identity());
        if (!link.peer || !link.peer->send_plain(FrameType::Hello, link.device.hello(HelloMode::Pair))) return false;
        auto answer = link.peer->receive_plain();
        return answer && link.device.receive_host_hello(answer->body) && link.device.host_hello()->pairing_open;
    };
    const auto commit = [&](Pairing& link) {
        EXPECT_TRUE(link.peer->send_plain(FrameType::Handshake, link.device.commit(code)));
        return link.peer->receive_plain();
    };
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(hello()) << i;
    for (int i = 4; i < 6; ++i) {
        auto answer = commit(*links[i]);
        ASSERT_TRUE(answer && links[i]->device.receive_host_commit(answer->body)) << i;
    }
    ASSERT_TRUE(hello());
    EXPECT_EQ(failure_in(commit(*links.back())), PairingError::PairingClosed);
    EXPECT_TRUE(wait_for_log("too many pairings at once: one more refused"));
    EXPECT_TRUE(host_->snapshot_host_status().pairing_busy);

    // The two commits that never reveal end at the reveal's limit, the idle
    // Hellos wait on, and the phone pairs with the code on the screen.
    EXPECT_TRUE(links[4]->peer->wait_closed());
    EXPECT_TRUE(links[5]->peer->wait_closed());
    EXPECT_FALSE(links[0]->peer->wait_closed(1ms));
    DeviceIdentity phone = DeviceIdentity::make("Phone");
    auto device = connect(phone);
    Status paired = device->pair(code);
    ASSERT_TRUE(paired) << paired.error().text;
    // A pairing closes pairing, and the window's word on the refused one goes.
    ASSERT_TRUE(wait_until([&] { return !host_->snapshot_host_status().pairing_code; }));
    const HostStatus status = host_->snapshot_host_status();
    ASSERT_EQ(status.devices.size(), 1u);
    EXPECT_EQ(status.devices[0].key, phone.key_text());
    EXPECT_FALSE(status.pairing_busy);
}

TEST_F(HostilePeers, ATricklingLinkEndsAtItsSignInDeadline) {
    make_host();
    host_->timeouts.sign_in = 300ms;
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

// 64 links from four addresses fill the places of links not yet signed in,
// saying nothing or a Hello that earns no place: the trusted device still
// signs in, from an address of its own, and the oldest link of the busiest
// address makes room for it.
TEST_F(HostilePeers, StrangersAtTheCapMakeRoomForATrustedDevice) {
    DeviceIdentity phone = DeviceIdentity::make("Phone\n12:00:00.000 forged line");
    make_host({trusted(phone)});
    start_listening();
    using Stranger = DevicePeer::Stranger;
    int round = 0;
    for (Stranger kind : {Stranger::Silent, Stranger::UnknownHello, Stranger::CopiedHello}) {
        SCOPED_TRACE(static_cast<int>(kind));
        ++round;
        std::vector<std::unique_ptr<DevicePeer>> strangers;
        for (std::uint8_t i = 0; i < 64; ++i) {
            strangers.push_back(connect(DeviceIdentity::make(), IpAddress::v4(127, 0, 0, 1 + i % 4)));
            ASSERT_TRUE(strangers.back() && strangers.back()->act_as_stranger(kind, phone)) << int(i);
        }
        ASSERT_TRUE(wait_until([&] { return host_->unsigned_links.size() == 64; }));
        auto device = connect(phone, IpAddress::v4(127, 0, 0, 5));
        ASSERT_TRUE(device);
        Status signed_in = device->sign_in();
        ASSERT_TRUE(signed_in) << signed_in.error().text << log_text();
        EXPECT_TRUE(strangers[0]->wait_closed());
        EXPECT_EQ(testing::occurrences(log_text(), "the oldest of the links from 127.0.0.1 waiting"), round);
        strangers.clear();
        ASSERT_TRUE(wait_until([&] { return host_->unsigned_links.size() == 0; }));
    }
    // The device's own name cannot forge a log line.
    EXPECT_TRUE(wait_for_log("signed in: Phone\\x0a12:00:00.000 forged line"));
}

// Who makes room for a new link: at its source's cap the source's oldest link
// without a mark; at the overall cap the oldest of the source with the most
// such links. Marks: a pairing place, and the newest Hello of a trusted key.
TEST(UnsignedLinks, OlderLinksWithoutAMarkMakeRoom) {
    LinkLimits limits;
    limits.unsigned_links = 5;
    UnsignedLinks links;
    std::vector<std::uint64_t> closed;
    const auto admit = [&](std::uint64_t session, const char* source, std::size_t cap) {
        UnsignedLinks::Admission admission = links.admit(session, source, cap, limits);
        links.set_closer(session, [&closed, session] { closed.push_back(session); });
        return std::pair(admission.admitted, admission.closed.value_or(0));
    };
    using R = std::pair<bool, std::uint64_t>;
    EXPECT_EQ(admit(1, "a", 3), R(true, 0));
    EXPECT_EQ(admit(2, "a", 3), R(true, 0));
    EXPECT_EQ(admit(3, "a", 3), R(true, 0));
    EXPECT_EQ(admit(4, "a", 3), R(true, 1));  // a's cap: a's oldest
    links.mark_pairing(2);
    EXPECT_EQ(admit(5, "a", 3), R(true, 3));  // 2 holds a pairing place
    EXPECT_EQ(admit(6, "b", 3), R(true, 0));
    EXPECT_EQ(admit(7, "b", 3), R(true, 0));
    links.mark_signing(6, "key");
    links.mark_signing(7, "key");             // the newest Hello of a key holds its mark
    EXPECT_EQ(admit(8, "c", 3), R(true, 4));  // full: a has the most links without a mark
    EXPECT_EQ(admit(9, "d", 1), R(true, 5));  // full, and a tie: the oldest
    links.mark_pairing(9);
    EXPECT_EQ(admit(10, "d", 1), R(false, 0));  // d's one link holds a place
    EXPECT_EQ(admit(11, "e", 1), R(true, 6));   // 6 lost the key's mark to 7
    EXPECT_EQ(closed, (std::vector<std::uint64_t>{1, 3, 4, 5, 6}));
    EXPECT_FALSE(links.release(1));
    EXPECT_TRUE(links.release(11));
    EXPECT_EQ(links.size(), 4u);

    const std::pair<const char*, const char*> sources[] = {
        {"10.0.0.1:5", "10.0.0.1"},
        {"[2001:db8:1:2:3:4:5:6]:47910", "2001:db8:1:2::/64"},
        {"[2001:db8:1:2::9]:1", "2001:db8:1:2::/64"},
        {"[2001:db8:1:3::9]:1", "2001:db8:1:3::/64"},
        {"[::ffff:10.0.0.1]:5", "10.0.0.1"},
        {"", ""},
    };
    for (const auto& [peer, source] : sources) EXPECT_EQ(link_source(peer), source) << peer;
}

// A sign-in holds the turn of control while the platform answers slowly; a
// link that never signed in does not wait for it to give its place back.
TEST_F(HostilePeers, ALinkEndingDuringASlowSignInFreesItsPlaceAtOnce) {
    DeviceIdentity phone = DeviceIdentity::make();
    // The hook stays in the platform after this body: it owns what it uses.
    const auto asked = std::make_shared<std::atomic<bool>>(false);
    const auto answer = std::make_shared<std::atomic<bool>>(false);
    FakePlatform::Answers answers;
    answers.on_call = [asked, answer](const std::string& operation) {
        if (operation != "read_levels") return;
        *asked = true;
        wait_until([&] { return answer->load(); }, 5s);
    };
    platform_->set_answers(answers);
    make_host({trusted(phone)});
    start_listening();
    auto stranger = connect(DeviceIdentity::make());
    ASSERT_TRUE(wait_until([&] { return host_->unsigned_links.size() == 1; }));
    auto device = connect(phone);
    ASSERT_TRUE(device->sign_in());
    ASSERT_TRUE(wait_until([&] { return asked->load(); }));
    stranger->close();
    EXPECT_TRUE(wait_until([&] { return host_->unsigned_links.size() == 0; }, 1s));
    *answer = true;
}

// Links refused while the one place is held by a link waiting for its
// trusted key's signature are counted, not written one by one, so that a
// flood cannot push the log past its size limit and empty it.
TEST_F(HostilePeers, RefusedLinksAreLoggedAsACount) {
    DeviceIdentity phone = DeviceIdentity::make();
    make_host({trusted(phone)});
    host_->limits.unsigned_links = 1;
    host_->limits.refusal_log_every = 250ms;
    host_->timeouts.sign_in = 60s;
    start_listening();
    auto holder = connect(DeviceIdentity::make());
    ASSERT_TRUE(holder->act_as_stranger(DevicePeer::Stranger::CopiedHello, phone));
    const auto lines = [&] { return testing::occurrences(log_text(), "\n"); };
    const int before = lines();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 2000; ++i) {
        auto refused = connect(DeviceIdentity::make());
        ASSERT_TRUE(refused && refused->wait_closed()) << i;
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LE(lines() - before, 2 + elapsed / host_->limits.refusal_log_every) << log_text();
    EXPECT_EQ(testing::occurrences(log_text(), "connection from"), 1);

    // The last count is told with the next link admitted.
    holder->close();
    ASSERT_TRUE(wait_until([&] { return host_->unsigned_links.size() == 0; }));
    std::this_thread::sleep_for(host_->limits.refusal_log_every);
    auto next = connect(phone);
    ASSERT_TRUE(next->sign_in());
    std::istringstream log(log_text());
    int refused = 0;
    for (std::string line; std::getline(log, line);) {
        const auto at = line.find(" links refused: 1 links are waiting to sign in");
        if (at != std::string::npos) refused += std::stoi(line.substr(13, at - 13));
    }
    EXPECT_EQ(refused, 2000);
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
