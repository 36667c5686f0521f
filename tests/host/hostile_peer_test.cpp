// Peers that try to wear the host down: parallel pairing guesses, links that
// never sign in, devices that stop reading, oversized documents.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "control/messages.h"
#include "handshake/messages.h"
#include "host/link_limits.h"
#include "host/log.h"
#include "host/session.h"
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

// A link that pairs (or tries to) from the fixture's address: its Hello, then
// its commit to a code.
struct Pairing {
    std::unique_ptr<DevicePeer> peer;
    DeviceHandshake device{DeviceIdentity::make()};

    bool hello(std::unique_ptr<DevicePeer> connected) {
        peer = std::move(connected);
        if (!peer || !peer->send_plain(FrameType::Hello, device.hello(HelloMode::Pair))) return false;
        auto answer = peer->receive_plain();
        return answer && device.receive_host_hello(answer->body) && device.host_hello()->pairing_open;
    }
    Result<ReceivedFrame> commit(const std::string& code) {
        EXPECT_TRUE(peer->send_plain(FrameType::Handshake, device.commit(code)));
        return peer->receive_plain();
    }
    bool committed(const std::string& code) {
        auto answer = commit(code);
        return answer && device.receive_host_commit(answer->body);
    }
};

// A Hello costs a stranger nothing, so it holds no pairing place: links that
// go quiet after it do not keep the phone from pairing. A place is taken at
// the commit, once the code is typed, and held until the reveal; meanwhile
// the link is not closed to make room. A commit beyond the places is refused
// and the window says so until a place is free or the code changes.
TEST_F(HostilePeers, PairingPlacesAreTakenAtTheCommitOnly) {
    make_host();
    host_->limits.pairing_handshakes = 2;
    host_->limits.unsigned_links_per_address = 8;
    start_listening();
    host_->open_pairing();
    std::string code = read_code_file();
    std::vector<std::unique_ptr<Pairing>> links;
    const auto hello = [&] {
        links.push_back(std::make_unique<Pairing>());
        return links.back()->hello(connect(links.back()->device.identity()));
    };
    const auto busy = [&] { return host_->snapshot_host_status().pairing_busy; };
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(hello()) << i;
    ASSERT_TRUE(links[4]->committed(code));
    ASSERT_TRUE(links[5]->committed(code));
    ASSERT_TRUE(hello());
    EXPECT_EQ(failure_in(links[6]->commit(code)), PairingError::PairingClosed);
    EXPECT_TRUE(wait_for_log("too many pairings at once: one more refused"));
    EXPECT_TRUE(busy());
    EXPECT_TRUE(links[6]->peer->wait_closed());

    // Strangers from the same address close the idle Hellos, never a commit.
    std::vector<std::unique_ptr<DevicePeer>> strangers;
    for (int i = 0; i < 7; ++i) strangers.push_back(connect(DeviceIdentity::make()));
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(links[i]->peer->wait_closed()) << i;
    EXPECT_TRUE(strangers[0]->wait_closed());

    // The first commit pairs and leaves its place behind while its link stays.
    ASSERT_TRUE(links[4]->peer->send_plain(FrameType::Handshake, links[4]->device.reveal()));
    auto revealed = links[4]->peer->receive_plain();
    ASSERT_TRUE(revealed && links[4]->device.receive_host_reveal(revealed->body));
    ASSERT_TRUE(wait_until([&] { return !host_->snapshot_host_status().pairing_code; }));
    EXPECT_FALSE(busy());
    strangers.clear();
    const auto pairing = [&] { auto lock = host_->lock_main(); return host_->main().pairing; };  // a copy
    const auto shown = [&] { return HostState::current_pairing_code(host_).value_or(""); };
    // The places of a code gone block no later code, and each one revealed or
    // let go counts as a wrong code, leaving the code shown now.
    host_->open_pairing();
    code = shown();
    ASSERT_TRUE(hello() && links[7]->committed(code)) << "the paired code's place blocks nothing";
    ASSERT_TRUE(hello() && links[8]->committed(code));
    ASSERT_TRUE(hello());
    EXPECT_EQ(failure_in(links[9]->commit(code)), PairingError::PairingClosed);
    ASSERT_TRUE(wait_until(busy));
    host_->open_pairing();
    EXPECT_FALSE(busy());
    code = shown();
    ASSERT_TRUE(hello() && links[10]->committed(code));
    links[7]->peer->close();
    ASSERT_TRUE(links[8]->peer->send_plain(FrameType::Handshake, links[8]->device.reveal()));
    EXPECT_EQ(failure_in(links[8]->peer->receive_plain()), PairingError::WrongCode);
    ASSERT_TRUE(wait_until([&] { return pairing().wrong_codes() == 2; }));
    EXPECT_EQ(shown(), code);
    // Hellos staged before a wrong code changed the code: their commits take no place and fail at once.
    ASSERT_TRUE(hello() && hello());
    EXPECT_FALSE(connect(DeviceIdentity::make(), IpAddress::v4(127, 0, 0, 3))->pair("0"));
    ASSERT_TRUE(wait_until([&] { return pairing().wrong_codes() == 3; }));
    for (int i : {11, 12}) EXPECT_EQ(failure_in(links[i]->commit(code)), PairingError::WrongCode) << i;
    EXPECT_FALSE(busy());
    links[10]->peer->close();
    ASSERT_TRUE(wait_until([&] { return pairing().wrong_codes() == 4; }));
    // The phone pairs at once; a commit under its code never revealed counts nothing once pairing closed.
    code = shown();
    ASSERT_TRUE(hello() && links[13]->committed(code));
    ASSERT_TRUE(connect(DeviceIdentity::make("Phone"), IpAddress::v4(127, 0, 0, 2))->pair(code));
    ASSERT_TRUE(wait_until([&] { return !host_->snapshot_host_status().pairing_code; }));
    links[13]->peer->close();
    links[5]->peer->close();
    EXPECT_TRUE(wait_for_threads_to_end());
    EXPECT_EQ(pairing().wrong_codes(), 0u);
}

// A stranger who never saw the code holds every pairing place with Hellos
// and commits. A new code, by a press or by Stop then Pair, frees the places
// for the phone, and each place held under a code gone counts as a wrong
// code when it is revealed: holding them on locks pairing within two presses.
TEST_F(HostilePeers, AStrangerHoldingThePairingPlacesPaysForThemAtEveryNewCode) {
    make_host();
    host_->limits.unsigned_links_per_address = 16;
    start_listening();
    host_->open_pairing();
    const auto shown = [&] { return HostState::current_pairing_code(host_).value_or(""); };
    const auto wrong_codes = [&] { auto lock = host_->lock_main(); return host_->main().pairing.wrong_codes(); };
    std::vector<std::unique_ptr<Pairing>> stranger;
    // The stranger takes the four places; the phone's commit is turned away.
    const auto hold = [&] {
        stranger.clear();
        for (int i = 0; i < 4; ++i) {
            Pairing& link = *stranger.emplace_back(std::make_unique<Pairing>());
            if (!link.hello(connect(link.device.identity())) || !link.committed("000000")) return false;
        }
        Pairing phone;
        return phone.hello(connect(phone.device.identity())) &&
               failure_in(phone.commit(shown())) == PairingError::PairingClosed;
    };
    const auto reveal = [&](Pairing& link) {
        EXPECT_TRUE(link.peer->send_plain(FrameType::Handshake, link.device.reveal()));
        return failure_in(link.peer->receive_plain());
    };
    // A press: the phone pairs at once, past the places of the code gone.
    ASSERT_TRUE(hold());
    host_->open_pairing();
    ASSERT_TRUE(connect(DeviceIdentity::make("Phone"), IpAddress::v4(127, 0, 0, 2))->pair(shown()));
    ASSERT_TRUE(wait_until([&] { return !host_->snapshot_host_status().pairing_code; }));
    for (auto& link : stranger) EXPECT_EQ(reveal(*link), PairingError::PairingClosed);
    EXPECT_EQ(wrong_codes(), 0u) << "nothing is left to guess once a device paired";

    // Stop, then Pair: each held place counts when revealed, the code shown stays.
    host_->open_pairing();
    ASSERT_TRUE(hold());
    Pairing staged;
    ASSERT_TRUE(staged.hello(connect(staged.device.identity())));
    host_->close_pairing();
    host_->open_pairing();
    const std::string code = shown();
    for (auto& link : stranger) EXPECT_EQ(reveal(*link), PairingError::WrongCode);
    EXPECT_EQ(wrong_codes(), 4u);
    EXPECT_EQ(shown(), code);
    // Held on through a press, the places lock pairing, and the window says why.
    ASSERT_TRUE(hold());
    EXPECT_EQ(failure_in(staged.commit(code)), PairingError::PairingClosed) << "the places come before the code";
    host_->open_pairing();
    EXPECT_EQ(reveal(*stranger[0]), PairingError::WrongCode);
    EXPECT_EQ(reveal(*stranger[1]), PairingError::PairingClosed);
    EXPECT_TRUE(wait_for_log("five wrong codes: pairing closed for 60 s"));
    const HostStatus status = host_->snapshot_host_status();
    EXPECT_TRUE(status.locked_seconds);
    EXPECT_EQ(status.notice, host_->texts->translate("event.locked"));
}

// A commit whose reveal never comes, by its time or because its link ends,
// tested a code: it counts as a wrong one, so that strangers who never saw
// the code cannot hold the pairing places over and over without locking
// pairing, and the window says why.
TEST_F(HostilePeers, ACommitNeverRevealedCountsAsAWrongCode) {
    make_host();
    host_->timeouts.pairing_reveal = 300ms;
    start_listening();
    host_->open_pairing();
    const auto shown = [&] { return HostState::current_pairing_code(host_).value_or(""); };
    for (int i = 0; i < 5; ++i) {
        const std::string code = shown();
        Pairing link;
        ASSERT_TRUE(link.hello(connect(link.device.identity())));
        ASSERT_TRUE(link.committed("123456"));
        if (i % 2) link.peer->close();  // else its time runs out
        EXPECT_TRUE(link.peer->wait_closed());
        EXPECT_TRUE(wait_until([&] { return shown() != code; })) << i;
        if (i == 3) {
            auto lock = host_->lock_main();
            EXPECT_EQ(host_->main().pairing.wrong_codes(), 4u);
            EXPECT_EQ(host_->main().notice, host_->texts->translate("event.wrong_code"));
        }
    }
    EXPECT_TRUE(wait_for_log("five wrong codes: pairing closed for 60 s"));
    const HostStatus status = host_->snapshot_host_status();
    EXPECT_FALSE(status.pairing_code);
    EXPECT_TRUE(status.locked_seconds);
    EXPECT_EQ(status.notice, host_->texts->translate("event.locked"));
}

// Every sign-in fits in its time from the link's start however the peer
// spreads its bytes: 20 s (here 500 ms), a pairing the time to type the code
// (here 1.5 s), its reveal a short while after its commit but never past that.
TEST_F(HostilePeers, LinksEndAtTheirSignInDeadlines) {
    make_host();
    host_->timeouts.sign_in = 500ms;
    host_->timeouts.pairing = 1500ms;
    host_->timeouts.pairing_reveal = 1000ms;
    start_listening();
    host_->open_pairing();
    enum Peer { Trickles, LateHello, LateCommit };
    for (Peer kind : {Trickles, LateHello, LateCommit}) {
        SCOPED_TRACE(static_cast<int>(kind));
        const auto start = std::chrono::steady_clock::now();
        Pairing link;
        link.peer = connect(link.device.identity());
        const auto ends_by = [&](std::chrono::milliseconds deadline) {
            EXPECT_TRUE(link.peer->wait_closed(3s));
            const auto ended = std::chrono::steady_clock::now() - start;
            EXPECT_GE(ended, deadline - 100ms);
            EXPECT_LT(ended, deadline + 300ms);
        };
        if (kind == Trickles) {
            // One byte of a Hello's header every 50 ms: each read comes in
            // time, the sign-in never does.
            const Bytes header = encode_plain_frame(FrameType::Hello, Bytes(200, '{'));
            for (std::size_t i = 0; i < 6; ++i) {
                (void)link.peer->stream().send(ByteView(&header[i], 1));
                std::this_thread::sleep_for(50ms);
            }
            ends_by(500ms);
            continue;
        }
        if (kind == LateHello) std::this_thread::sleep_for(400ms);
        ASSERT_TRUE(link.hello(std::move(link.peer)));
        if (kind == LateCommit) {
            std::this_thread::sleep_for(1000ms);
            ASSERT_TRUE(link.committed("123456"));
        }
        ends_by(1500ms);
    }
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
    // One address holds 16 of them: its 17th makes room with its oldest.
    {
        std::vector<std::unique_ptr<DevicePeer>> one_address;
        for (int i = 0; i < 17; ++i) one_address.push_back(connect(DeviceIdentity::make()));
        EXPECT_TRUE(one_address[0]->wait_closed());
        EXPECT_TRUE(wait_until([&] { return host_->unsigned_links.size() == 16; }));
    }
    ASSERT_TRUE(wait_until([&] { return host_->unsigned_links.size() == 0; }));
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
        EXPECT_EQ(testing::occurrences(log_text(), "the oldest of the links from 127.0.0.1 waiting"), 1 + round);
        strangers.clear();
        ASSERT_TRUE(wait_until([&] { return host_->unsigned_links.size() == 0; }));
    }
    // The device's own name cannot forge a log line.
    EXPECT_TRUE(wait_for_log("signed in: Phone\\x0a12:00:00.000 forged line"));
}

// Who makes room for a new link: at its source's cap the source's oldest link
// without a mark; at the overall cap the oldest of the source with the most
// such links. Marks: a pairing place, and the newest Hello of a trusted key.
// A link that cannot be closed yet makes no room.
TEST(UnsignedLinks, OlderLinksWithoutAMarkMakeRoom) {
    LinkLimits limits;
    limits.unsigned_links = 5;
    UnsignedLinks links;
    std::vector<std::uint64_t> closed;
    enum Op { Admit, AdmitUnclosable, Pairing, Signing, Release };
    struct Step {
        Op op;
        std::uint64_t session;
        const char* source = "";  // the key, for Signing
        std::size_t cap = 3;
        bool admitted = true;
        std::uint64_t closed = 0;
    };
    const Step steps[] = {
        {Admit, 1, "a"}, {Admit, 2, "a"}, {Admit, 3, "a"},
        {Admit, 4, "a", 3, true, 1},  // a's cap: a's oldest
        {Pairing, 2},
        {Admit, 5, "a", 3, true, 3},  // 2 holds a pairing place
        {Admit, 6, "b"}, {Admit, 7, "b"},
        {Signing, 6, "key"}, {Signing, 7, "key"},  // the newest Hello of a key holds its mark
        {Admit, 8, "c", 3, true, 4},   // full: a has the most links without a mark
        {Admit, 9, "d", 1, true, 5},   // full, and a tie: the oldest
        {Pairing, 9},
        {Admit, 10, "d", 1, false},    // d's one link holds a place
        {Admit, 11, "e", 1, true, 6},  // 6 lost the key's mark to 7
        {Signing, 11, "other key"},    // takes no mark of another key
        {Admit, 12, "f", 3, true, 8},
        {Release, 7}, {Release, 9}, {Release, 11}, {Release, 12},
        {Admit, 13, "a"}, {Admit, 14, "f"}, {Admit, 15, "f"}, {Admit, 16, "g"},
        {Admit, 17, "h", 3, true, 14},  // f has more links that may make room than a, whose 2 holds a place
        {AdmitUnclosable, 18, "i", 1, true, 13},
        {Admit, 19, "i", 1, false},  // 18 cannot be closed yet
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.session);
        switch (step.op) {
            case Admit:
            case AdmitUnclosable: {
                UnsignedLinks::Admission admission =
                    links.admit(step.session, step.source, step.cap, limits, "line " + std::to_string(step.session));
                if (step.op == Admit) {
                    links.set_closer(step.session, [&closed, session = step.session] { closed.push_back(session); });
                }
                EXPECT_EQ(admission.admitted, step.admitted);
                EXPECT_EQ(admission.closed.value_or(0), step.closed);
                if (step.closed) {
                    EXPECT_EQ(admission.closed_connection, "line " + std::to_string(step.closed));
                }
                break;
            }
            case Pairing: links.mark_pairing(step.session); break;
            case Signing: links.mark_signing(step.session, step.source); break;
            case Release: EXPECT_EQ(links.release(step.session), "line " + std::to_string(step.session)); break;
        }
    }
    EXPECT_EQ(closed, (std::vector<std::uint64_t>{1, 3, 4, 5, 6, 8, 14, 13}));
    EXPECT_FALSE(links.release(1));
    EXPECT_EQ(links.size(), 5u);

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
    // Neither the main lock nor the turn holds the stranger's end up.
    {
        auto lock = host_->lock_main();
        stranger->close();
        EXPECT_TRUE(wait_until([&] { return host_->unsigned_links.size() == 0; }, 1s));
    }
    EXPECT_TRUE(wait_until([&] { return running_session_threads() == session_threads_before_ + 1; }, 1s));
    *answer = true;
}

// A link that lost its place to a newer one in its second handshake step is
// closing. At its signature it is told nothing and nothing is signed in; at
// its commit its pairing place goes back and no wrong code is counted, the
// host and not the peer having ended it.
TEST_F(HostilePeers, ALinkClosedToMakeRoomCompletesNoSignIn) {
    DeviceIdentity phone = DeviceIdentity::make("Phone");
    make_host({trusted(phone)});
    host_->limits.unsigned_links = 2;
    host_->limits.pairing_handshakes = 1;
    // A newer link comes as a link's second step is answered. The hook stays
    // in the host after this body: it owns what it uses.
    struct Newer {
        std::mutex mutex;
        std::map<std::uint64_t, int> steps;
        bool armed = true;  // cleared by the newer link it lets in
        std::function<void()> before;  // run first, without the lock
        std::vector<std::unique_ptr<SocketStream>> links;
    };
    auto newer = std::make_shared<Newer>();
    host_->hooks.on_handshake_step = [newer, weak = std::weak_ptr<HostState>(host_)](std::uint64_t session) {
        auto host = weak.lock();
        std::unique_lock lock(newer->mutex);
        if (++newer->steps[session] != 2 || !std::exchange(newer->armed, false)) return;
        lock.unlock();
        if (newer->before) newer->before();
        lock.lock();
        auto stream = SocketStream::connect(IpAddress::v4(127, 0, 0, 1), host->snapshot_host_status().port,
                                            IpAddress::v4(127, 0, 0, 2));
        if (stream) newer->links.push_back(std::move(*stream));
        wait_until([&] { return !host->unsigned_links.holds(session); });
    };
    const auto settle = [&](bool arm) {
        std::lock_guard lock(newer->mutex);
        newer->links.clear();
        newer->before = nullptr;
        newer->armed = arm;
    };
    start_listening();
    auto device = connect(phone);
    ASSERT_TRUE(device->send_sign_in_hello());
    // A copy of its Hello takes the key's mark: the device's link may make room.
    auto copy = connect(DeviceIdentity::make());
    ASSERT_TRUE(copy->act_as_stranger(DevicePeer::Stranger::CopiedHello, phone));
    EXPECT_FALSE(device->finish_sign_in());
    EXPECT_TRUE(device->wait_closed());
    EXPECT_TRUE(wait_for_log("session 1: closed to make room for session 3"));
    copy->close();
    settle(true);
    EXPECT_TRUE(wait_for_threads_to_end());
    EXPECT_EQ(host_->device_sign_ins.load(), 0u);
    EXPECT_EQ(log_text().find("signed in"), std::string::npos) << log_text();

    host_->open_pairing();
    host_->timeouts.handshake_failure_pause = 2s;
    const std::string code = read_code_file();
    Pairing closed, refused;
    ASSERT_TRUE(closed.hello(connect(closed.device.identity())));
    ASSERT_TRUE(refused.hello(connect(refused.device.identity(), IpAddress::v4(127, 0, 0, 3))));
    // As its commit is answered, another is turned away and pauses (held) while the newer link comes.
    newer->before = [&] { EXPECT_EQ(failure_in(refused.commit(code)), PairingError::PairingClosed); };
    EXPECT_FALSE(closed.committed(code));
    EXPECT_TRUE(closed.peer->wait_closed());
    settle(false);
    EXPECT_TRUE(wait_for_threads_to_end());
    EXPECT_EQ(read_code_file(), code);
    EXPECT_TRUE(wait_for_log("too many pairings at once: one more refused"));
    EXPECT_FALSE(host_->snapshot_host_status().pairing_busy) << "the place is free again";
    {
        auto lock = host_->lock_main();
        EXPECT_EQ(host_->main().pairing.wrong_codes(), 0u);
    }
    Pairing next;
    ASSERT_TRUE(next.hello(connect(next.device.identity())));
    EXPECT_TRUE(next.committed(code)) << "the closed link's pairing place came back";
}


// A flood of links that never sign in, of many kinds, is written as counts
// that cannot empty the log: each count line waits twice as long as the one
// before and names sixteen kinds at most, the rest as "other"; the last is
// written after its wait. A wrong code typed meanwhile is written whole, with
// its source. What the host did is counted: a loaded machine may fail a client.
TEST_F(HostilePeers, AFloodOfLinksThatNeverSignInIsLoggedAsCounts) {
    const DeviceIdentity phone = DeviceIdentity::make(), tablet = DeviceIdentity::make();
    make_host({trusted(phone), trusted(tablet)});
    constexpr auto kEvery = 20ms;  // the longest wait is 1.2 s
    host_->limits.link_log_every = kEvery;
    host_->limits.unsigned_links_per_address = 1;
    // A failing link pauses, and the next from its source closes it meanwhile.
    host_->timeouts.handshake_failure_pause = 200ms;
    start_listening();
    host_->open_pairing();
    log_line("before the flood");
    const auto lines = [&] { return testing::occurrences(log_text(), "\n"); };
    const int before = lines();
    const std::uint64_t first = host_->connection_counter.load();
    // What each kind of link sends; an empty one waits for a newer link to close it.
    std::vector<Bytes> kinds{{}, {0, 0, 0, 2, 0x7f, 0}, {0, 0, 0x4f, 0xff}, encode_plain_frame(FrameType::Hello, to_bytes("{"))};
    std::string other_version = to_string(DeviceHandshake(DeviceIdentity::make()).hello(HelloMode::Pair));
    other_version.replace(other_version.find("\"version\":1"), 11, "\"version\":7");
    kinds.push_back(encode_plain_frame(FrameType::Hello, to_bytes(other_version)));
    for (FrameType type : {FrameType::Sealed, FrameType::Control, FrameType::Video, FrameType::Audio, FrameType::Video2,
                           FrameType::MicAudio, FrameType::Camera, FrameType::FileData, FrameType::Input}) {
        kinds.push_back(encode_plain_frame(type, to_bytes("x")));
    }
    // Failing Hellos first, each closed by the next during its pause: the host tells each.
    std::uint64_t malformed = 0;
    for (int i = 0; i < 200; ++i) {
        auto stream = SocketStream::connect(IpAddress::v4(127, 0, 0, 1), port_, IpAddress::v4(127, 0, 0, 9));
        if (!stream || !(*stream)->send(kinds[3])) continue;
        malformed += failure_in(DevicePeer(std::move(*stream), tablet).receive_plain()) == PairingError::Malformed;
    }
    EXPECT_GT(malformed, 0u);
    EXPECT_TRUE(wait_until([&] { return testing::told(log_text(), "handshake failed: Malformed") >= malformed; }));
    std::atomic<bool> flooding{true};
    std::vector<std::thread> clients;
    for (int c = 0; c < 4; ++c) {
        clients.emplace_back([&, c] {
            const IpAddress from = IpAddress::v4(127, 0, 0, static_cast<std::uint8_t>(11 + c));
            std::unique_ptr<DevicePeer> held;
            for (std::size_t i = 0; flooding; ++i) {
                auto stream = SocketStream::connect(IpAddress::v4(127, 0, 0, 1), port_, from);
                if (!stream) continue;
                const std::size_t kind = i % (kinds.size() + 1);
                auto peer = std::make_unique<DevicePeer>(std::move(*stream), tablet);
                if (kind == kinds.size()) {  // a copied Hello, then a bad signature
                    if (peer->act_as_stranger(DevicePeer::Stranger::CopiedHello, tablet)) (void)peer->send_plain(FrameType::Handshake, to_bytes(R"({"kind":"signature","value":"AA=="})"));
                } else if (kinds[kind].empty()) {
                    held = std::move(peer);
                    continue;
                } else (void)peer->stream().send(kinds[kind]);
                (void)peer->wait_closed(2s);
            }
        });
    }
    // Links from an address whose one place a trusted key's link holds are refused.
    auto holder = connect(DeviceIdentity::make(), IpAddress::v4(127, 0, 0, 50));
    ASSERT_TRUE(holder->act_as_stranger(DevicePeer::Stranger::CopiedHello, phone));
    clients.emplace_back([&] {
        while (flooding) {
            auto refused = SocketStream::connect(IpAddress::v4(127, 0, 0, 1), port_, IpAddress::v4(127, 0, 0, 50));
            if (refused) (void)DevicePeer(std::move(*refused), phone).wait_closed(2s);
            std::this_thread::sleep_for(1ms);
        }
    });
    std::this_thread::sleep_for(4s);
    auto typist = connect(DeviceIdentity::make(), IpAddress::v4(127, 0, 0, 77));
    EXPECT_FALSE(typist->pair(read_code_file() == "000000" ? "111111" : "000000"));
    std::this_thread::sleep_for(4s);
    flooding = false;
    for (auto& client : clients) client.join();
    holder.reset();
    ASSERT_TRUE(wait_for_threads_to_end());
    const std::uint64_t links = host_->connection_counter.load() - first;
    EXPECT_TRUE(wait_until([&] {
        const std::string log = log_text();
        return testing::told(log, "connection", "connection from") +
                   testing::told(log, "refused (1 links from its source are waiting to sign in)", " refused: ") ==
               links;
    }, 10s)) << links << " links";

    const std::string log = log_text();
    ASSERT_NE(log.find("before the flood"), std::string::npos);
    const auto line_start = log.rfind("session ", log.find("connection from 127.0.0.77:"));
    ASSERT_NE(line_start, std::string::npos);
    EXPECT_NE(log.find(log.substr(line_start, log.find(':', line_start) + 1 - line_start) + " handshake failed: WrongCode"),
              std::string::npos);
    // The count lines: how many, the longest wait between them, and the kinds each names.
    std::uint64_t count_lines = 0, with_other = 0, whole = 0;
    int longest = 0, last = -1;
    std::istringstream text(log.substr(log.find("before the flood")));
    for (std::string line; std::getline(text, line);) {
        whole += line.find("connection from 127.0.0.") != std::string::npos;
        const auto counts = line.find("links that did not sign in since ");
        if (counts == std::string::npos) continue;
        const int at = ((std::stoi(line.substr(0, 2)) * 60 + std::stoi(line.substr(3, 2))) * 60 +
                        std::stoi(line.substr(6, 2))) * 1000 + std::stoi(line.substr(9, 3));
        if (count_lines++) longest = std::max(longest, (at - last + 86400000) % 86400000);
        last = at;
        const int named = testing::occurrences(line.substr(line.find(": ", counts + 33)), "), ") + 1;
        const bool other = line.find(", other (") != std::string::npos;
        with_other += other;
        EXPECT_TRUE(other ? named == 17 : named <= 16) << line;
    }
    EXPECT_GT(with_other, 0u);
    // Each wait doubles up to 60: after a whole line, six waits to reach the longest.
    EXPECT_LE(count_lines, 8 * (whole + 1) + 8s / (60 * kEvery));
    EXPECT_GE(longest, 30 * kEvery.count());
    EXPECT_LE(static_cast<std::uint64_t>(lines() - before), 2 * whole + count_lines + 8);
    EXPECT_LT(lines() - before, links / 8);
}

// The link log on a clock of the test's own, a row a scenario: a link an interval is soon counted and a lone
// one after a quiet 60 intervals is whole; a flood's waits grow 1, 2, 4, ... 32, then 60 at most; a second
// flood's start from 1 again; a key's marked link each interval is whole once a wait. Every link is told.
TEST_F(HostilePeers, TheLinkLogsWaitsGrowToAMinuteAndStartOverAfterAQuietOne) {
    constexpr std::chrono::milliseconds kEvery = 1h;  // the log's thread sleeps through the test
    struct Row { int first, then, per_interval, whole, count_lines; bool marked = false; } rows[] = {
        {120, 1, 1, 3, 6}, {400, 0, 4, 1, 12}, {300, 10, 4, 2, 14}, {240, 0, 4, 9, 9, true}};
    for (const Row& row : rows) {
        std::atomic now = std::chrono::steady_clock::now();
        std::string log;
        std::mutex writing;  // as it starts, the log's thread may write a line the clock has made due
        const int links = (row.first + row.then) * row.per_interval;
        {
            LinkLog counts([&](std::string_view line) { std::lock_guard lock(writing); (log += line) += '\n'; },
                           "links that did not sign in since ", [&] { return now.load(); });
            for (int i = 0; i < links; now = now.load() + (++i == row.first * row.per_interval
                                                               ? LinkLog::kLongestWait * kEvery : kEvery / row.per_interval)) {
                if (row.marked && i % row.per_interval == 0) counts.note_marked({{"marked", "marked"}}, kEvery, "key");
                else counts.note({{"failed", "failed"}}, kEvery);
            }
        }
        const int count_lines = testing::occurrences(log, " since "), whole = testing::occurrences(log, "\n") - count_lines;
        EXPECT_EQ(std::pair(whole, count_lines), std::pair(row.whole, row.count_lines)) << &row - rows;
        EXPECT_EQ(testing::told(log, "failed") + testing::told(log, "marked"), static_cast<std::uint64_t>(links));
    }
}

// Links closed to make room end at once, without the pause after a failed
// handshake: however fast failing Hellos come, the links held stay within
// the cap, and the threads beyond theirs a few times the cap.
TEST_F(HostilePeers, AFloodOfFailingHellosStaysWithinTheThreadBound) {
#ifdef _WIN32
    constexpr int kLinks = 150;
#else
    constexpr int kLinks = 600;
#endif
    make_host();
    host_->timeouts.handshake_failure_pause = 1s;  // a pause of each link let go would hold thousands
    start_listening();
    std::atomic<bool> flooding{true};
    std::int64_t most_held = 0, most_beyond = 0;  // threads beyond two per link held
    std::thread watch([&] {
        while (flooding) {
            const auto held = static_cast<std::int64_t>(host_->unsigned_links.size());
            const std::int64_t threads = running_session_threads() - session_threads_before_ +
                                         running_writer_threads() - writer_threads_before_;
            most_held = std::max(most_held, held);
            most_beyond = std::max(most_beyond, threads - 2 * held);
            std::this_thread::sleep_for(1ms);
        }
    });
    std::vector<std::thread> clients;
    for (int c = 0; c < 8; ++c) {
        clients.emplace_back([&, c] {
            for (int i = 0; i < kLinks; ++i) {
                const auto from = IpAddress::v4(127, 0, 1, static_cast<std::uint8_t>(1 + (c * kLinks + i) % 128));
                auto stream = SocketStream::connect(IpAddress::v4(127, 0, 0, 1), port_, from);
                if (stream) (void)(*stream)->send(encode_plain_frame(FrameType::Hello, to_bytes("{")));
            }
        });
    }
    for (auto& client : clients) client.join();
    EXPECT_TRUE(wait_for_threads_to_end(60s));  // a loaded machine takes a while to end the backlog
    flooding = false;
    watch.join();
    EXPECT_LE(most_held, static_cast<std::int64_t>(host_->limits.unsigned_links));
    EXPECT_LE(most_beyond, static_cast<std::int64_t>(4 * host_->limits.unsigned_links));
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
