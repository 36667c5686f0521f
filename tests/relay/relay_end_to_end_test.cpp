// A device that paired earlier reaches the host only through the loopback
// test relay and runs a session (ping, a file, a stream); it asks for a watch
// link, and test browsers open it through the relay with the watch handshake
// and watch the stream.
#include <gtest/gtest.h>

#include <atomic>
#include <charconv>
#include <sstream>
#include <thread>

#include "host/host_state.h"
#include "host/listener.h"
#include "host/session.h"
#include "json/base64.h"
#include "relay/relay_reach.h"
#include "storage/log_capture.h"
#include "storage/temp_folder.h"
#include "streamloop/device_video.h"
#include "support/device_peer.h"
#include "support/fake_encoder.h"
#include "support/streaming_platform.h"
#include "support/test_browser.h"
#include "support/test_host.h"
#include "support/test_relay.h"
#include "support/text_count.h"
#include "support/wait.h"
#include "watch_links/watch_handshake.h"
#include "wire/sealed.h"

namespace vorlix {
namespace {

using namespace std::chrono_literals;

// The fake encoder's pictures: `count` Video frames in order, the first a
// key frame, within 10 s.
bool receive_pictures(test::TestBrowser& browser, int count) {
    const auto until = std::chrono::steady_clock::now() + 10s;
    std::optional<std::uint32_t> last;
    while (count > 0) {
        std::optional<Frame> inner = browser.next(until);
        if (!inner) return false;
        if (inner->type != FrameType::Video) continue;
        auto video = testing::parse_video(inner->body);
        if (!video || !testing::read_fake_output(testing::annexb_of(*video))) return false;
        if (last ? video->number <= *last : !video->key) return false;
        last = video->number;
        --count;
    }
    return true;
}

class RelayEndToEnd : public ::testing::Test {
protected:
    std::chrono::milliseconds link_log_every_ = 0ms;  // every link's lines; set before SetUp starts the relay thread
    void SetUp() override {
        testing::StreamingOptions options;
        options.open_encoder = encoders_.opener();
        platform_ = std::make_shared<testing::StreamingPlatform>(options);
        FakePlatform::Answers answers;
        answers.downloads = temp_.path() / "Downloads";
        platform_->set_answers(answers);
        device_ = DeviceIdentity::make("Pad");
        RelaySettings settings = relay_defaults();
        settings.relay_address = relay_.address();
        settings.watch_relay_url = "ws://127.0.0.1/watch";
        RelayTimings timings;
        timings.first_delay = 20ms;
        reach_ = std::make_shared<RelayReach>(settings, timings);
        HostStateConfig config = test_host_config(platform_, temp_.path(), 0x31, {trusted(device_)});
        config.reach = reach_;
        host_ = HostState::create(std::move(config));
        host_->timeouts.writer_wait = 2s;
        host_->limits.link_log_every = link_log_every_;
        host_->relay_allowed = true;
        reach_->update_relay_registration(*host_);
        ASSERT_TRUE(wait_until([&] { return relay_.host_key() == host_->identity.public_key; }));
    }

    void TearDown() override {
        device_peer_.reset();
        if (host_) host_->say_goodbye_and_close();
        wait_until([] { return running_session_threads() == 0; });
        host_.reset();
        reach_.reset();
    }

    std::unique_ptr<DevicePeer> sign_in_through_relay() {
        std::optional<Socket> link = relay_.open_link();
        if (!link) return nullptr;
        auto peer = std::make_unique<DevicePeer>(std::make_unique<SocketStream>(std::move(*link)), device_);
        if (!peer->sign_in()) return nullptr;
        return peer;
    }

    // The next control text that contains `needle`.
    std::optional<std::string> control_with(const std::string& needle) {
        for (int i = 0; i < 64; ++i) {
            auto frame = device_peer_->receive_frame_of(FrameType::Control);
            if (!frame) return std::nullopt;
            if (to_string(frame->body).find(needle) != std::string::npos) return to_string(frame->body);
        }
        return std::nullopt;
    }

    // A device signs in through the relay and a watch link is opened for it;
    // the link's secret once the web registration is up.
    std::optional<Key32> sign_in_and_open_watch_link() {
        device_peer_ = sign_in_through_relay();
        if (!device_peer_) return std::nullopt;
        const std::optional<std::string> url = reach_->open_watch_link(*host_);
        if (!url) return std::nullopt;
        const std::optional<test::WatchAddress> address = test::read_watch_address(*url);
        if (!address) return std::nullopt;
        if (!wait_until([&] { return relay_.web_sign_in() && relay_.host_key() != host_->identity.public_key; }))
            return std::nullopt;
        return address->secret;
    }

    std::unique_ptr<test::TestBrowser> browser() {
        std::optional<Socket> link = relay_.open_link();
        return link ? std::make_unique<test::TestBrowser>(std::move(*link)) : nullptr;
    }

    test::TestRelay relay_;
    test::TempFolder temp_;
    testing::FakeEncoderFactory encoders_;
    std::shared_ptr<testing::StreamingPlatform> platform_;
    DeviceIdentity device_;
    std::shared_ptr<RelayReach> reach_;
    std::shared_ptr<HostState> host_;
    std::unique_ptr<DevicePeer> device_peer_;
};

TEST_F(RelayEndToEnd, DeviceSessionAndWatchLinksThroughTheRelay) {
    device_peer_ = sign_in_through_relay();
    ASSERT_TRUE(device_peer_);
    ASSERT_TRUE(device_peer_->send_control_text(R"({"ping":{"_0":7}})"));
    ASSERT_TRUE(control_with(R"({"pong":{"_0":7}})"));
    // A file from the device lands in the downloads.
    ASSERT_TRUE(device_peer_->send_control_text(R"({"fileStart":{"id":5,"name":"note.txt","size":11,"purpose":"keep"}})"));
    Bytes piece;
    append_u32_be(piece, 5);
    append(piece, std::string_view("hello relay"));
    ASSERT_TRUE(device_peer_->send_frame(FrameType::FileData, piece));
    ASSERT_TRUE(device_peer_->send_control_text(R"({"fileEnd":{"id":5,"ok":true}})"));
    ASSERT_TRUE(control_with("Saved to Downloads: note.txt"));
    EXPECT_EQ(test::read_file(temp_.path() / "Downloads" / "note.txt"), "hello relay");

    ASSERT_TRUE(device_peer_->send_control_text(R"({"requestWatchLink":{}})"));
    std::optional<std::string> link = control_with("watchLink");
    ASSERT_TRUE(link);
    const Json message = *parse_json(*link, DuplicateKeys::refuse);
    const std::string url = message["watchLink"]["url"].get<std::string>();
    EXPECT_EQ(message["watchLink"]["minutes"], 30);
    ASSERT_TRUE(url.starts_with(relay_defaults().watch_page_url + "#"));
    std::optional<test::WatchAddress> address = test::read_watch_address(url);
    ASSERT_TRUE(address);
    EXPECT_EQ(address->relay_url, "ws://127.0.0.1/watch");
    const Key32 secret = address->secret;
    ASSERT_TRUE(wait_until([&] { return relay_.host_key() == address->web_key; }));
    EXPECT_TRUE(relay_.web_sign_in());

    // Two wrong proofs leave the link; they do not count as wrong pairing codes.
    host_->open_pairing();
    const auto code = host_->snapshot_host_status().pairing_code;
    for (int i = 0; i < 2; ++i) {
        auto wrong = browser();
        ASSERT_TRUE(wrong);
        EXPECT_EQ(wrong->open(secret, false), PairingError::WrongCode);
    }
    EXPECT_EQ(host_->snapshot_host_status().pairing_code, code);

    auto viewer = browser();
    ASSERT_TRUE(viewer);
    ASSERT_EQ(viewer->open(secret), std::nullopt);
    EXPECT_TRUE(viewer->receive_control("hostInfo"));
    ASSERT_TRUE(control_with("webWatchers"));
    // A viewer's input is dropped; the same input from the device is injected.
    const Bytes move_by{2, 0x41, 0x20, 0, 0, 0, 0, 0, 0};
    ASSERT_TRUE(viewer->send(FrameType::Input, move_by));
    ASSERT_TRUE(viewer->send(FrameType::Control, to_bytes(R"({"ping":{"_0":8}})")));
    EXPECT_TRUE(viewer->receive_control(R"({"pong":{"_0":8}})"));
    ASSERT_TRUE(device_peer_->send_frame(FrameType::Input, move_by));
    ASSERT_TRUE(device_peer_->send_control_text(R"({"ping":{"_0":9}})"));
    ASSERT_TRUE(control_with(R"({"pong":{"_0":9}})"));
    EXPECT_EQ(platform_->inputs().size(), 1u);
    // The browser sees the stream the device configures.
    ASSERT_TRUE(device_peer_->send_control_text(R"({"configure":{"_0":{"fps":30},"generation":4}})"));
    EXPECT_TRUE(receive_pictures(*viewer, 3));
    // The first secret is spent; the link is now named by the next one.
    auto again = browser();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->open(secret), PairingError::LinkExpired);

    ASSERT_TRUE(device_peer_->send_control_text(R"({"stopWebWatchers":{}})"));
    EXPECT_TRUE(viewer->receive_control("bye"));
    EXPECT_TRUE(viewer->peer.wait_closed());
    EXPECT_TRUE(wait_until([&] { return !reach_->web_registration_running(); }));
    EXPECT_EQ(reach_->count_watch_links(), 0u);
}

TEST_F(RelayEndToEnd, ThreeWrongProofsRemoveALinkAndForgettingEndsTheRegistration) {
    std::optional<Key32> opened = sign_in_and_open_watch_link();
    ASSERT_TRUE(opened);
    const Key32 secret = *opened;
    for (int i = 0; i < 3; ++i) {
        auto wrong = browser();
        ASSERT_TRUE(wrong);
        EXPECT_EQ(wrong->open(secret, false), PairingError::WrongCode);
    }
    auto late = browser();
    ASSERT_TRUE(late);
    EXPECT_EQ(late->open(secret), PairingError::LinkExpired);
    EXPECT_EQ(reach_->count_watch_links(), 0u);

    // Forgetting the last device ends the session registration.
    test::LogCapture log;
    host_->forget_trusted_device(device_.key_text());
    EXPECT_FALSE(reach_->registered_for_sessions());
    EXPECT_NE(log.messages().find("relay: no longer registered for sessions"), std::string::npos);
}

TEST_F(RelayEndToEnd, ABrowserWhoseLinksEndedAfterItsProofIsSentAway) {
    std::optional<Key32> opened = sign_in_and_open_watch_link();
    ASSERT_TRUE(opened);
    const Key32 secret = *opened;
    // The links end between the redeemed proof and the browser's joining.
    host_->hooks.before_browser_joins = [&] { reach_->end_watch_links(*host_, "stopped by the device in control"); };
    auto viewer = browser();
    ASSERT_TRUE(viewer);
    ASSERT_EQ(viewer->open(secret), std::nullopt);
    EXPECT_TRUE(viewer->receive_control("bye"));
    EXPECT_TRUE(viewer->peer.wait_closed());
    auto lock = host_->lock_web_viewers();
    EXPECT_TRUE(host_->web_viewers().empty());
}

// The session numbers of the log lines "session N: " + `what`..., in order.
std::vector<std::uint64_t> sessions_logged(const std::string& messages, const std::string& what) {
    std::vector<std::uint64_t> sessions;
    std::istringstream lines(messages);
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with("session ")) continue;
        std::uint64_t session = 0;
        const auto [end, error] = std::from_chars(line.data() + 8, line.data() + line.size(), session);
        if (error == std::errc() && std::string_view(end, line.data() + line.size()).starts_with(": " + what)) {
            sessions.push_back(session);
        }
    }
    return sessions;
}

// All links through a relay come from its address. Silent ones are capped by
// the overall cap here (20, below the relay's 24, one place held by a direct
// link); the relay, holding the most of them, gives way with its oldest
// silent link, never the direct one, so a trusted device still signs in, and
// the rest end at their sign-in deadline.
TEST_F(RelayEndToEnd, SilentLinksThroughTheRelayDoNotShutATrustedDeviceOut) {
    test::LogCapture log;
    host_->limits.unsigned_links = 20;
    host_->timeouts.sign_in = 5s;
    auto listener = start_listener(host_, 0, false);
    ASSERT_TRUE(listener);
    auto direct = SocketStream::connect(IpAddress::v4(127, 0, 0, 1), host_->snapshot_host_status().port);
    ASSERT_TRUE(direct);
    ASSERT_TRUE(wait_until([&] { return host_->unsigned_links.size() == 1; }));
    // One at a time, so that the session numbers follow the links' order.
    for (int i = 1; i <= 30; ++i) {
        ASSERT_TRUE(relay_.announce("silent-" + std::to_string(i)));
        ASSERT_TRUE(wait_until([&] {
            return host_->unsigned_links.size() == std::min<std::size_t>(i + 1, 20) &&
                   testing::occurrences(log.messages(), "closed to make room") == std::max(0, i - 19);
        })) << i;
    }

    device_peer_ = sign_in_through_relay();
    ASSERT_TRUE(device_peer_) << log.messages();
    EXPECT_TRUE(wait_until([&] { return host_->unsigned_links.size() == 19; }, 1s));
    ASSERT_TRUE(device_peer_->send_control_text(R"({"ping":{"_0":3}})"));
    ASSERT_TRUE(control_with(R"({"pong":{"_0":3}})"));

    (*direct)->close();
    // A link gives up its place before its end is written.
    ASSERT_TRUE(wait_until([&] {
        return host_->unsigned_links.size() == 0 &&
               testing::occurrences(log.messages(), "link ended (no sign-in in time)") >= 18;
    }, 10s));
    const std::string messages = log.messages();
    // The oldest twelve of the relay's links, in their order.
    const std::vector<std::uint64_t> relayed = sessions_logged(messages, "connection through the relay (");
    ASSERT_EQ(relayed.size(), 31u);
    EXPECT_EQ(sessions_logged(messages, "closed to make room"), std::vector(relayed.begin(), relayed.begin() + 12));
    EXPECT_EQ(testing::occurrences(messages, "link ended (no sign-in in time)"), 18) << messages;
    EXPECT_EQ(testing::occurrences(messages, "waiting to sign in; closing this one"), 0);
}

// Strangers fill the places of links not yet signed in: 64 direct links from
// four addresses (silent, or after a Hello that earns no place), or the
// relay's 24 through the relay itself after an unknown key's Hello. The
// trusted device signs in through the relay all the same.
TEST_F(RelayEndToEnd, StrangersWaitingToSignInDoNotKeepATrustedDeviceOut) {
    using Stranger = DevicePeer::Stranger;
    auto listener = start_listener(host_, 0, false);
    ASSERT_TRUE(listener);
    const std::uint16_t port = host_->snapshot_host_status().port;
    const struct {
        Stranger kind;
        bool through_relay;
        std::uint8_t count;
    } cases[] = {{Stranger::Silent, false, 64},
                 {Stranger::UnknownHello, false, 64},
                 {Stranger::CopiedHello, false, 64},
                 {Stranger::UnknownHello, true, 24}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.kind) + 10 * c.through_relay);
        std::vector<std::unique_ptr<DevicePeer>> strangers;
        for (std::uint8_t i = 0; i < c.count; ++i) {
            std::unique_ptr<ByteStream> stream;
            if (c.through_relay) {
                std::optional<Socket> link = relay_.open_link();
                ASSERT_TRUE(link);
                stream = std::make_unique<SocketStream>(std::move(*link));
            } else {
                auto direct = SocketStream::connect(IpAddress::v4(127, 0, 0, 1), port, IpAddress::v4(127, 0, 0, 1 + i % 4));
                ASSERT_TRUE(direct);
                stream = std::move(*direct);
            }
            strangers.push_back(std::make_unique<DevicePeer>(std::move(stream), DeviceIdentity::make()));
            ASSERT_TRUE(strangers.back()->act_as_stranger(c.kind, device_)) << int(i);
        }
        ASSERT_TRUE(wait_until([&] { return host_->unsigned_links.size() == c.count; }));
        device_peer_ = sign_in_through_relay();
        ASSERT_TRUE(device_peer_);
        ASSERT_TRUE(device_peer_->send_control_text(R"({"ping":{"_0":5}})"));
        ASSERT_TRUE(control_with(R"({"pong":{"_0":5}})"));
        EXPECT_TRUE(strangers[0]->wait_closed());
        for (auto& stranger : strangers) stranger->close();
        ASSERT_TRUE(wait_until([&] { return host_->unsigned_links.size() == 0; }));
    }
}

// A device on a slow network: its answer to the host's Hello (its second
// send) leaves `lag` late.
class LaggingStream : public ByteStream {
public:
    LaggingStream(Socket socket, std::chrono::milliseconds lag) : inner_(std::move(socket)), lag_(lag) {}
    Status send(ByteView bytes) override {
        if (++sends_ == 2) std::this_thread::sleep_for(lag_);
        return inner_.send(bytes);
    }
    Result<Bytes> receive(std::size_t max, std::chrono::milliseconds timeout) override {
        return inner_.receive(max, timeout);
    }
    void close() override { inner_.close(); }

private:
    SocketStream inner_;
    std::chrono::milliseconds lag_;
    int sends_ = 0;
};

// Another client of the same relay opens silent links as fast as it may (50
// a second for 10 s), so dozens of newer links pass the relay's cap while a
// trusted device takes 1.5 s over its sign-in; a link in its handshake is
// not closed for them.
TEST_F(RelayEndToEnd, AFloodThroughTheRelayDoesNotCloseALinkInItsHandshake) {
    test::LogCapture log;
    host_->timeouts.sign_in = 2500ms;
    std::atomic<bool> stop{false}, flooded{false};
    std::thread flood([&] {
        for (int i = 0; i < 500 && !stop; ++i) {
            (void)relay_.announce("flood-" + std::to_string(i));
            std::this_thread::sleep_for(20ms);
        }
        flooded = true;
    });
    struct Join {
        std::thread& thread;
        std::atomic<bool>& stop;
        ~Join() {
            stop = true;
            thread.join();
        }
    } join{flood, stop};
    ASSERT_TRUE(wait_until([&] { return log.messages().find("closed to make room") != std::string::npos; }));

    std::optional<Socket> link = relay_.open_link();
    ASSERT_TRUE(link);
    device_peer_ = std::make_unique<DevicePeer>(std::make_unique<LaggingStream>(std::move(*link), 1500ms), device_);
    ASSERT_TRUE(device_peer_->sign_in()) << log.messages();
    ASSERT_TRUE(device_peer_->send_control_text(R"({"ping":{"_0":4}})"));
    ASSERT_TRUE(control_with(R"({"pong":{"_0":4}})"));

    ASSERT_TRUE(wait_until([&] { return flooded.load(); }, 15s));
    EXPECT_GT(testing::occurrences(log.messages(), "closed to make room"), 400);
    EXPECT_TRUE(wait_until([&] { return host_->unsigned_links.size() == 0; }, 5s));
}

// Pairing through the relay waits for a person: it keeps the whole time of
// a link before sign-in, past the relay's short deadline.
TEST_F(RelayEndToEnd, APairingThroughTheRelayKeepsItsTime) {
    host_->timeouts.sign_in = 300ms;
    host_->open_pairing();
    const std::string code = *host_->snapshot_host_status().pairing_code;
    std::optional<Socket> link = relay_.open_link();
    ASSERT_TRUE(link);
    const DeviceIdentity tablet = DeviceIdentity::make("Tablet");
    DevicePeer peer(std::make_unique<SocketStream>(std::move(*link)), tablet);
    DeviceHandshake device(tablet);
    ASSERT_TRUE(peer.send_plain(FrameType::Hello, device.hello(HelloMode::Pair)));
    auto hello = peer.receive_plain();
    ASSERT_TRUE(hello && device.receive_host_hello(hello->body));
    ASSERT_TRUE(device.host_hello()->pairing_open);
    // The person types the code after the relay's deadline has passed.
    EXPECT_FALSE(peer.wait_closed(900ms));
    ASSERT_TRUE(peer.send_plain(FrameType::Handshake, device.commit(code)));
    auto commit = peer.receive_plain();
    ASSERT_TRUE(commit && device.receive_host_commit(commit->body));
    ASSERT_TRUE(peer.send_plain(FrameType::Handshake, device.reveal()));
    auto reveal = peer.receive_plain();
    ASSERT_TRUE(reveal && device.receive_host_reveal(reveal->body));
    EXPECT_TRUE(wait_until([&] { return host_->snapshot_host_status().devices.size() == 2; }));
}

struct RelayLinkLogOfAnHour : RelayEndToEnd { RelayLinkLogOfAnHour() { link_log_every_ = 1h; } };
struct RelayLinkLogOfATenth : RelayEndToEnd { RelayLinkLogOfATenth() { link_log_every_ = 100ms; } };

// The links dropped past the bound are counted: the first is written, the rest as the relay services go.
TEST_F(RelayLinkLogOfAnHour, AFloodOfAnnouncedLinksIsBounded) {
    test::LogCapture log;
    relay_.set_join_answer("");  // joins that hang until the relay goes
    for (int i = 0; i < kMaxRelayLinks + 6; ++i) ASSERT_TRUE(relay_.announce("flood-" + std::to_string(i)));
    relay_.drop_host();  // once the relay is lost, the host has read every line before
    ASSERT_TRUE(wait_until([&] { return log.messages().find(" lost\n") != std::string::npos; }));
    EXPECT_EQ(reach_->relay_links(), kMaxRelayLinks);
    // Joins that hang do not keep the host state alive.
    std::weak_ptr<HostState> weak = host_;
    host_.reset();
    EXPECT_TRUE(weak.expired());
    reach_.reset();
    EXPECT_EQ(testing::told(log.messages(), "dropping a link"), 6u);
    EXPECT_EQ(testing::occurrences(log.messages(), "dropping a link"), 2) << log.messages();
}

// The joins a relay refuses (the client left before the host joined) are counted, not a line each.
TEST_F(RelayLinkLogOfATenth, JoinsTheRelayRefusesAreCounted) {
    test::LogCapture log;
    relay_.set_join_answer("{\"ok\":false}\n");
    constexpr std::uint64_t kJoins = 5000;
    for (std::uint64_t i = 0; i < kJoins; ++i) ASSERT_TRUE(relay_.announce("gone-" + std::to_string(i)));
    const auto told = [&] {
        return testing::told(log.messages(), "could not take the device's link (the relay did not join the link)",
                             "could not take the device's link at 127.0.0.1:");
    };
    // Each announcement is told, as a refused join or a dropped link.
    EXPECT_TRUE(wait_until([&] { return told() + testing::told(log.messages(), "dropping a link") == kJoins; }, 60s));
    EXPECT_EQ(told(), static_cast<std::uint64_t>(relay_.refused_joins()));
    EXPECT_LE(testing::occurrences(log.messages(), "\n"), 40) << log.messages();
}

}  // namespace
}  // namespace vorlix
