// Sessions end to end: the device peer over loopback TCP against the host's
// listener, reader loop, writer and sign-in sequence, with a fake platform.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <thread>

#include "host/identity.h"
#include "host/quit.h"
#include "host/session.h"
#include "host/trusted_devices.h"
#include "host_fixture.h"
#include "support/text_count.h"
#include "support/wait.h"
#include "wire/sealed.h"

namespace vorlix {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> names_of(const std::vector<std::string>& texts) {
    std::vector<std::string> names;
    for (const auto& text : texts) names.push_back(control_name(text));
    return names;
}

const char* const kBaseFeatures =
    R"("pointerPosition","files","screenshots","openURL","wake","cursor","watch","annotate","watchLink","received","binaryFiles","wakeOthers","pictureStopped")";

// An Action input message (kind 10): action 3, mute.
const Bytes kInputMute = {10, 3};

class Sessions : public HostFixture {};

TEST_F(Sessions, PairingWithTheCodeFileSendsTheSignInMessagesInOrder) {
    FakePlatform::Answers answers;
    answers.macs = {{"AA:BB:CC:DD:EE:FF"}, {"192.168.1.4"}};
    answers.levels = Levels{.volume = 0.25, .brightness = 0.5, .muted = true};
    answers.front_app = FrontApp{"notepad.exe", "Notepad"};
    answers.local_addresses = {IpAddress::v4(192, 168, 1, 4), IpAddress::v4(100, 100, 1, 2),
                               *IpAddress::parse("fd7a:115c:a1e0::5"), IpAddress::v4(100, 100, 1, 2),
                               IpAddress::v4(100, 128, 0, 1)};
    platform_->set_answers(answers);
    make_host();
    start_listening();
    host_->open_pairing();
    const std::string code = read_code_file();
    ASSERT_EQ(code.size(), 6u);

    DeviceIdentity phone = DeviceIdentity::make("Anna's Phone", "Phone9,1");
    auto peer = connect(phone);
    Status paired = peer->pair(code);
    ASSERT_TRUE(paired) << paired.error().text;

    auto texts = control_texts_until_pong(*peer);
    ASSERT_EQ(names_of(texts),
              (std::vector<std::string>{"wakeInfo", "hostInfo", "permissions", "levels", "frontApp", "reach"}));
    EXPECT_EQ(texts[0], R"({"wakeInfo":{"addresses":["192.168.1.4"],"macAddresses":["AA:BB:CC:DD:EE:FF"]}})");
    EXPECT_EQ(texts[1], std::string(R"({"hostInfo":{"features":[)") + kBaseFeatures +
                            R"(,"menus","levels","keyboardLayout"],"version":"1.2"}})");
    EXPECT_EQ(texts[2], R"({"permissions":{"accessibility":true,"screenRecording":true}})");
    EXPECT_EQ(texts[3], R"({"levels":{"brightness":0.5,"muted":true,"volume":0.25}})");
    EXPECT_EQ(texts[4], R"({"frontApp":{"bundleID":"notepad.exe","name":"Notepad"}})");
    EXPECT_EQ(texts[5], R"({"reach":{"addresses":["100.100.1.2","fd7a:115c:a1e0::5"],"port":)" +
                            std::to_string(port_) + "}}");

    // Pairing is closed, the device is trusted and in control.
    EXPECT_FALSE(code_file_exists());
    EXPECT_FALSE(host_->snapshot_host_status().pairing_code);
    auto devices = load_trusted_devices(dir_);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].key, phone.key_text());
    EXPECT_EQ(devices[0].name, "Anna's Phone");
    EXPECT_EQ(devices[0].added, devices[0].last_seen);
    EXPECT_TRUE(host_->is_current_session(1));
    EXPECT_TRUE(wait_for_log("session 1: paired with Anna's Phone (Phone9,1)"));
    EXPECT_TRUE(wait_for_log("session 1: reach [\"100.100.1.2\", \"fd7a:115c:a1e0::5\"] port " + std::to_string(port_)));
    auto status = host_->snapshot_host_status();
    EXPECT_EQ(status.device_name, "Anna's Phone");
    EXPECT_EQ(status.notice, "Paired with Anna's Phone.");
    EXPECT_EQ(platform_->count("set_session_active"), 1u);
    EXPECT_EQ(platform_->count("set_keep_awake"), 1u);

    // The device says goodbye: the session ends and undoes its state.
    ASSERT_TRUE(peer->send_control_text(R"({"bye":{}})"));
    EXPECT_TRUE(peer->wait_closed());
    EXPECT_TRUE(wait_for_log("session 1: closed (the device said goodbye)"));
    EXPECT_TRUE(wait_for_threads_to_end());
    EXPECT_FALSE(host_->is_current_session(1));
    EXPECT_FALSE(host_->snapshot_host_status().device_name);
    EXPECT_EQ(platform_->calls().back().operation, "set_keep_awake");
    EXPECT_EQ(platform_->calls().back().detail, "false");
}

TEST_F(Sessions, ASignInWithAStoredKeySendsOnlyWhatThePlatformGives) {
    DeviceIdentity phone = DeviceIdentity::make("Phone");
    platform_->set_answers({});  // no MAC address, levels, app or reachable address
    make_host({trusted(phone)});
    start_listening();
    auto peer = connect(phone);
    ASSERT_TRUE(peer->sign_in());
    auto texts = control_texts_until_pong(*peer);
    ASSERT_EQ(names_of(texts), (std::vector<std::string>{"hostInfo", "permissions"}));
    EXPECT_EQ(texts[0], std::string(R"({"hostInfo":{"features":[)") + kBaseFeatures +
                            R"(,"menus","keyboardLayout"],"version":"1.2"}})");
    EXPECT_TRUE(wait_for_log("session 1: signed in: Phone (Phone1,1)"));
    auto devices = load_trusted_devices(dir_);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].added, 1000u);
    EXPECT_GT(devices[0].last_seen, 1000u);
    EXPECT_EQ(host_->snapshot_host_status().notice, "Phone signed in.");

    // A plain frame after sign-in ends the link.
    ASSERT_TRUE(peer->stream().send(encode_plain_frame(FrameType::Control, to_bytes("{}"))));
    EXPECT_TRUE(peer->wait_closed());
    EXPECT_TRUE(wait_for_log("session 1: plain Control after sign-in"));
    EXPECT_TRUE(wait_for_log("session 1: closed\n"));
}

TEST_F(Sessions, ASecondDeviceReplacesTheFirst) {
    DeviceIdentity first = DeviceIdentity::make("First");
    DeviceIdentity second = DeviceIdentity::make("Second");
    make_host({trusted(first), trusted(second)});
    start_listening();
    auto one = signed_in_device(first);
    platform_->clear_calls();
    auto two = signed_in_device(second);

    EXPECT_TRUE(sent_away(*one));
    EXPECT_TRUE(wait_for_log("session 1: replaced by session 2"));
    auto operations = platform_->operations();
    auto position = [&](const std::string& name) {
        return std::find(operations.begin(), operations.end(), name) - operations.begin();
    };
    EXPECT_LT(position("stop_stream"), position("reset_input"));
    EXPECT_LT(position("reset_input"), position("set_device_camera"));
    EXPECT_LT(position("set_device_camera"), position("set_session_active"));

    // The first link's end leaves the newer session alone.
    EXPECT_TRUE(wait_for_log("session 1: closed"));
    EXPECT_TRUE(host_->is_current_session(2));
    EXPECT_EQ(host_->snapshot_host_status().device_name, "Second");
    ASSERT_TRUE(two->send_control_text(R"({"ping":{"_0":5}})"));
    auto pong = two->receive_frame_of(FrameType::Control);
    ASSERT_TRUE(pong);
    EXPECT_EQ(to_string(pong->body), R"({"pong":{"_0":5}})");
}

TEST_F(Sessions, ForgettingADeviceSendsEveryLinkOfItAway) {
    DeviceIdentity phone = DeviceIdentity::make("Phone");
    DeviceIdentity tablet = DeviceIdentity::make("Tablet");
    make_host({trusted(phone), trusted(tablet)});
    start_listening();
    auto in_control = signed_in_device(phone);
    std::vector<std::unique_ptr<DevicePeer>> with_role;
    for (PeerRole role : {PeerRole::Send, PeerRole::Watch}) {
        with_role.push_back(connect(phone));
        ASSERT_TRUE(with_role.back()->sign_in(role));
        control_texts_until_pong(*with_role.back(), 2);
    }
    control_texts_until_pong(*in_control, 2);  // the watchers list

    // Another device's key, and a text that is not Base64, leave its links alone.
    host_->forget_trusted_device(tablet.key_text());
    host_->forget_trusted_device(phone.key_text().substr(0, 43));
    EXPECT_TRUE(control_texts_until_pong(*in_control, 3).empty());
    for (auto& link : with_role) EXPECT_TRUE(control_texts_until_pong(*link, 4).empty());

    host_->forget_trusted_device(phone.key_text());
    EXPECT_TRUE(sent_away(*in_control));
    for (auto& link : with_role) EXPECT_TRUE(sent_away(*link));
    EXPECT_TRUE(wait_for_threads_to_end());
    EXPECT_TRUE(load_trusted_devices(dir_).empty());
    EXPECT_FALSE(host_->snapshot_host_status().device_name);
}

// Records how the watch links were ended.
class WatchLinkEnds : public ReachServices {
public:
    void end_watch_links(HostState&, const std::string& reason) override {
        std::unique_lock<std::mutex> lock(mutex_);
        reasons_.push_back(reason);
        auto run = std::exchange(during, nullptr);
        lock.unlock();
        if (run) run();
    }
    std::function<void()> during;  // runs in the next end, as the grace waiter checks
    std::vector<std::string> reasons() {
        std::lock_guard<std::mutex> lock(mutex_);
        return reasons_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> reasons_;
};

TEST_F(Sessions, ADeviceForgottenWhileItSignsInIsRefusedAndStaysForgotten) {
    auto ends = std::make_shared<WatchLinkEnds>();
    reach_ = ends;
    DeviceIdentity phone = DeviceIdentity::make("Phone");
    make_host();
    // Armed, the hooks forget the device once its link is admitted, before its keys go out (1)
    // or just after (2). They stay in the host after this body: they own what they use.
    auto forget_at = std::make_shared<std::atomic<int>>(0);
    const auto forget = [forget_at, weak = std::weak_ptr<HostState>(host_), key = phone.key_text()](int at) {
        return [=](std::uint64_t) {
            if (auto host = weak.lock(); host && *forget_at == at && forget_at->exchange(0)) host->forget_trusted_device(key);
        };
    };
    host_->hooks.on_device_link_admitted = forget(1);
    host_->hooks.on_device_link_ready = forget(2);
    host_->set_web_grace(2s);
    start_listening();
    // Forgotten between its Hello and its signature, in control or to send:
    // refused as a device never paired.
    auto trust = [&] {
        auto lock = host_->lock_main();
        host_->main().trusted_devices.push_back(trusted(phone));
    };
    const std::optional<PeerRole> roles[] = {std::nullopt, PeerRole::Send, PeerRole::Watch, PeerRole::Preview};
    for (std::optional<PeerRole> role : roles) {
        trust();
        auto peer = connect(phone);
        ASSERT_TRUE(peer->send_sign_in_hello(role));
        host_->forget_trusted_device(phone.key_text());
        EXPECT_FALSE(peer->finish_sign_in());
        EXPECT_EQ(peer->failure(), PairingError::NotPaired);
        EXPECT_TRUE(peer->wait_closed());
        EXPECT_TRUE(wait_for_threads_to_end());
        EXPECT_TRUE(load_trusted_devices(dir_).empty());
    }
    // Forgotten once admitted, before its keys went out or just after: its signature is
    // answered, then it is sent away (bye, then close) and signs nothing in, nor gets a preview.
    for (int i = 0; i < 8; ++i) {
        const std::optional<PeerRole> role = roles[i % 4];
        trust();
        *forget_at = 1 + i / 4;
        auto peer = connect(phone);
        ASSERT_TRUE(peer->sign_in(role));
        EXPECT_TRUE(sent_away(*peer));
        EXPECT_TRUE(wait_for_threads_to_end());
        EXPECT_TRUE(load_trusted_devices(dir_).empty());
    }
    for (const char* line : {"signed in to send", "signed in to watch", "signed in: ", "watching: [\"Phone\"]", "preview for"}) {
        EXPECT_EQ(log_text().find(line), std::string::npos) << line;
    }
    EXPECT_EQ(host_->device_sign_ins.load(), 0u);

    // Forgotten once signed in but while its sign-in waits for its turn,
    // within the grace of an earlier session's end: sent away, not put in
    // control, and not a sign-in that keeps the watch links.
    trust();
    auto earlier = signed_in_device(phone);
    ASSERT_TRUE(earlier->send_control_text(R"({"bye":{}})"));
    ASSERT_TRUE(wait_for_log("session 13: closed (the device said goodbye)"));
    auto turn = host_->lock_control_turn();
    auto peer = connect(phone);
    ASSERT_TRUE(peer->sign_in());
    // The link sees itself gone and ends before the forget goes on: its bye was queued all the same.
    host_->hooks.on_device_forgotten = [&] { (void)wait_for_threads_to_end(1s); };
    host_->forget_trusted_device(phone.key_text());
    host_->hooks.on_device_forgotten = nullptr;
    turn.unlock();
    EXPECT_TRUE(sent_away(*peer));
    EXPECT_TRUE(wait_for_log("session 14: Phone was forgotten while it signed in"));
    EXPECT_TRUE(ends->reasons().empty()) << "the grace is over already";
    EXPECT_TRUE(wait_for_threads_to_end());
    EXPECT_FALSE(host_->is_current_session(14));
    EXPECT_TRUE(load_trusted_devices(dir_).empty());
    EXPECT_TRUE(host_->snapshot_host_status().devices.empty());
    EXPECT_TRUE(wait_until([&] { return !ends->reasons().empty(); }));
    EXPECT_EQ(ends->reasons(), std::vector<std::string>{"the session ended"});
}

TEST_F(Sessions, DeviceLinksAreLetGoWhenTheyClose) {
    DeviceIdentity phone = DeviceIdentity::make("Phone");
    make_host({trusted(phone)});
    start_listening();
    std::vector<std::unique_ptr<DevicePeer>> links;
    for (PeerRole role : {PeerRole::Send, PeerRole::Watch, PeerRole::Preview}) {
        links.push_back(connect(phone));
        ASSERT_TRUE(links.back()->sign_in(role));
    }
    links.push_back(signed_in_device(phone));
    for (auto& link : links) link->close();
    EXPECT_TRUE(wait_for_threads_to_end());
    EXPECT_EQ(host_->device_link_count(), 0u);
}

TEST_F(Sessions, AKeysSignedInLinksOfEachRoleAreCappedAndTheNewestWins) {
    DeviceIdentity phone = DeviceIdentity::make("Phone"), tablet = DeviceIdentity::make("Tablet"),
                   laptop = DeviceIdentity::make("Laptop");
    make_host({trusted(phone), trusted(tablet), trusted(laptop)});
    // Until the silent links below, every link sent away takes its bye and is closed at once.
    host_->timeouts.replaced_link_wait = 30s;
    start_listening();
    auto gets_bye = [](DevicePeer& peer) {  // reads past what it was sent until its bye; then it closes
        for (int i = 0; i < 64; ++i) {
            auto frame = peer.receive_frame_of(FrameType::Control);
            if (!frame || to_string(frame->body) == R"({"bye":{}})") return frame && peer.wait_closed();
        }
        return false;
    };
    std::deque<std::unique_ptr<DevicePeer>> kept;
    std::uint64_t session = 0, in_control = 0;
    // Links that take control sign in while the turn is held: the replaced ones leave without it.
    const std::optional<PeerRole> roles[] = {PeerRole::Send, PeerRole::Watch, std::nullopt};
    for (std::optional<PeerRole> role : roles) {
        auto turn = role ? std::unique_lock<std::shared_timed_mutex>() : host_->lock_control_turn();
        std::deque<std::unique_ptr<DevicePeer>> links;
        for (int i = 0; i < 8; ++i) {
            links.push_back(connect(phone));
            ASSERT_TRUE(links.back()->sign_in(role));
            ++session;
            if (links.size() > host_->limits.signed_in_per_key_and_role) {
                EXPECT_TRUE(gets_bye(*links.front())) << session;
                links.pop_front();
            }
            EXPECT_EQ(host_->device_link_count(), kept.size() + links.size()) << session;
        }
        if (role) {
            for (auto& link : links) control_texts_until_pong(*link), kept.push_back(std::move(link));
        } else {
            // A link to send that the device opens meanwhile takes control from none.
            in_control = session++;
            kept.push_back(connect(phone));
            ASSERT_TRUE(kept.back()->sign_in(PeerRole::Send));
            EXPECT_TRUE(gets_bye(*kept.front()));
            kept.pop_front();
            turn.unlock();
            EXPECT_TRUE(wait_until([&] { return host_->is_current_session(in_control); }));
            EXPECT_TRUE(sent_away(*links.front())) << "the older link never takes control";
            kept.push_back(std::move(links.back()));
        }
    }
    EXPECT_TRUE(wait_until([&] { return running_session_threads() == session_threads_before_ + 5; }));

    // Each link to watch is sent the whole drawing, here as large as it may be. One that does
    // not read it cannot take its bye: it is closed all the same, in time for the newer link.
    InkStroke stroke;
    stroke.points.assign(kMaxInkNumbers / kMaxInkStrokes / 2 * 2, 0.123456789012345);
    std::unique_lock ink(host_->ink_mutex);
    host_->ink.strokes.assign(kMaxInkStrokes, stroke);
    ink.unlock();
    host_->timeouts.replaced_link_wait = 300ms;
    const auto queued = [&](std::uint64_t link) {
        auto lock = host_->lock_main();
        for (const DeviceLink& l : host_->main().device_links) if (l.session == link) return l.writer.queued_bytes();
        return std::uint64_t{0};
    };
    std::vector<std::unique_ptr<DevicePeer>> silent;
    for (std::uint64_t i = 1; i <= 3; ++i) {
        // Where the socket cannot take the whole drawing, the oldest's writer waits for its peer.
        if (i == 3) (void)wait_until([&] { return queued(session + 1) > (1u << 20); }, 3s);
        silent.push_back(connect(phone));
        ASSERT_TRUE(silent.back()->sign_in(PeerRole::Watch));
        EXPECT_EQ(host_->device_link_count(), 5u) << i;
    }
    session += 3;

    // At the overall cap the key holding the most links gives its oldest; of keys holding as
    // many, not the key in control; and never the link in control, but to a newer one of its key.
    std::vector<std::unique_ptr<DevicePeer>> links;
    links.push_back(std::move(kept.back()));  // the link in control
    kept.clear(), silent.clear();
    ASSERT_TRUE(wait_until([&] { return host_->device_link_count() == 1; }));
    host_->limits.signed_in_links = 4;
    const struct {
        const DeviceIdentity* device;
        std::optional<PeerRole> role;
        int pushed_out;  // the link given up, by its place in `links`
    } rows[] = {
        {&phone, PeerRole::Send, -1}, {&tablet, PeerRole::Send, -1}, {&tablet, PeerRole::Watch, -1},
        {&laptop, PeerRole::Send, 2},  // the phone and the tablet hold two each
        {&phone, PeerRole::Watch, 1},  // the phone holds three, the link in control the oldest
        {&phone, std::nullopt, 0},     // a newer control link of its key
    };
    for (const auto& row : rows) {
        links.push_back(connect(*row.device));
        ASSERT_TRUE(links.back()->sign_in(row.role));
        if (row.pushed_out >= 0) {
            EXPECT_TRUE(gets_bye(*links[row.pushed_out])) << row.device->name;
        }
        EXPECT_LE(host_->device_link_count(), 4u);
        if (row.role) {
            EXPECT_TRUE(host_->is_current_session(in_control)) << row.device->name;
        }
    }
    session += std::size(rows);
    EXPECT_TRUE(wait_until([&] { return host_->is_current_session(session); }));
}

// A device that opens links of one role as fast as it can, in parallel and
// without reading the host's answers, keeping each socket open: a link
// replaced while it waits for the one before it stops waiting, so the key
// holds threads near its places and the links in flight, not its rate times
// the wait.
TEST_F(Sessions, ParallelSignInsOfOneKeyHoldThreadsNearItsPlaces) {
#ifdef _WIN32
    constexpr int kLinks = 10;
#else
    constexpr int kLinks = 40;
#endif
    constexpr int kClients = 16;
    DeviceIdentity phone = DeviceIdentity::make("Phone");
    make_host({trusted(phone)});
    host_->timeouts.replaced_link_wait = 5s;  // longer than the flood: a link held for it would show
    start_listening();
    std::atomic<bool> flooding{true};
    std::int64_t most_threads = 0;
    std::size_t most_listed = 0;
    std::thread watch([&] {
        while (flooding) {
            most_threads = std::max(most_threads, running_session_threads() - session_threads_before_);
            most_listed = std::max(most_listed, host_->device_link_count());
            std::this_thread::sleep_for(1ms);
        }
    });
    std::vector<std::vector<std::unique_ptr<DevicePeer>>> held(kClients);  // open until the end
    std::vector<std::thread> clients;
    for (auto& links : held) {
        clients.emplace_back([&] {
            for (int i = 0; i < kLinks; ++i) {
                auto link = connect(phone);
                if (!link) return;
                if (link->send_sign_in_hello(PeerRole::Send)) {
                    (void)link->send_plain(FrameType::Handshake, link->handshake().signature());
                }
                links.push_back(std::move(link));
            }
        });
    }
    for (auto& client : clients) client.join();
    const std::size_t places = host_->limits.signed_in_per_key_and_role;
    EXPECT_TRUE(wait_until([&] { return host_->device_link_count() == places; }, 10s));
    flooding = false;
    watch.join();
    // Beyond its places: the links between their admission and their end, about one per client.
    EXPECT_LE(most_listed, 4 * places + kClients) << most_threads << " threads";
    EXPECT_LE(most_threads, static_cast<std::int64_t>(host_->limits.unsigned_links_per_address + 4 * places + 2 * kClients))
        << most_listed << " listed";
}

TEST_F(Sessions, WhatAReplacedSessionSentLandsBeforeTheNewSessionsReset) {
    DeviceIdentity phone = DeviceIdentity::make("Phone");
    make_host({trusted(phone)});
    start_listening();
    // A key press and a camera picture, each held on its way to the platform
    // until the same device's new link resets what it reached (or 1 s passed).
    struct Case {
        FrameType type;
        Bytes body;
        std::string operation;
        std::string reset;
    } cases[] = {
        {FrameType::Input, Bytes{5, 0, 0x38, 1, 0, 0, 0, 0}, "send_input", "reset_input"},  // Shift down
        {FrameType::Camera, Bytes{0, 4, 0, 3, 0, 0, 0, 0, 0, 0, 0, 9, 0xFF}, "push_camera_picture", "set_device_camera"},
    };
    auto old_link = signed_in_device(phone);
    for (const auto& c : cases) {
        auto held = std::make_shared<std::atomic<bool>>(false);
        FakePlatform::Answers answers = platform_->answers();
        answers.on_call = [held, platform = platform_.get(), c](const std::string& operation) {
            if (operation == c.operation && !held->exchange(true)) platform->wait_for(c.reset, 1, 1s);
        };
        platform_->set_answers(answers);
        platform_->clear_calls();
        ASSERT_TRUE(old_link->send_frame(c.type, c.body));
        ASSERT_TRUE(wait_until([&] { return held->load(); }));
        auto new_link = signed_in_device(phone);
        ASSERT_TRUE(platform_->wait_for(c.reset));
        const auto operations = platform_->operations();
        EXPECT_LT(std::find(operations.begin(), operations.end(), c.operation),
                  std::find(operations.begin(), operations.end(), c.reset))
            << c.operation;
        old_link = std::move(new_link);
    }
}

TEST_F(Sessions, WatchLinksEndAGraceAfterTheSessionUnlessTheDeviceComesBack) {
    auto ends = std::make_shared<WatchLinkEnds>();
    reach_ = ends;
    DeviceIdentity phone = DeviceIdentity::make("Phone");
    make_host({trusted(phone)});
    host_->set_web_grace(300ms);
    start_listening();

    // Back within the grace: the links stay.
    auto first = signed_in_device(phone);
    ASSERT_TRUE(first->send_control_text(R"({"bye":{}})"));
    EXPECT_TRUE(wait_for_log("session 1: closed (the device said goodbye)"));
    auto second = signed_in_device(phone);
    std::this_thread::sleep_for(600ms);
    EXPECT_TRUE(ends->reasons().empty());

    // Gone for good, no browser watching: they end after the grace; an end landing as the waiter checks is waited out.
    std::atomic<bool> landed{false};
    ends->during = [&] { wait_until([&] { return landed.load(); }); };
    ASSERT_TRUE(second->send_control_text(R"({"bye":{}})"));
    ASSERT_TRUE(wait_until([&] { return ends->reasons().size() == 1; }));
    ASSERT_TRUE(signed_in_device(phone)->send_control_text(R"({"bye":{}})"));
    EXPECT_TRUE(wait_for_threads_to_end());  // its end is done
    landed = true;
    EXPECT_TRUE(wait_until([&] { return ends->reasons() == std::vector<std::string>(2, "the session ended"); }));

    // The host state's end wakes a waiter from a long grace.
    host_->set_web_grace(60s);
    ASSERT_TRUE(signed_in_device(phone)->send_control_text(R"({"bye":{}})"));
    ASSERT_TRUE(wait_until([] { return running_grace_waits() == 1; }));
    EXPECT_TRUE(wait_for_threads_to_end());
    listener_->stop();
    host_.reset();
    EXPECT_TRUE(wait_until([] { return running_grace_waits() == 0; }));
}

TEST_F(Sessions, SessionEndsInARowShareOneGraceWaitThatEndsTheLinksAGraceAfterTheLast) {
    auto ends = std::make_shared<WatchLinkEnds>();
    reach_ = ends;
    DeviceIdentity phone = DeviceIdentity::make("Phone");
    make_host({trusted(phone)});
    host_->set_web_grace(1s);  // longer than one sign-in and bye
    start_listening();

    std::int64_t most_waits = 0;
    for (int i = 0; i < 200; ++i) {
        auto link = signed_in_device(phone);
        ASSERT_TRUE(link && link->send_control_text(R"({"bye":{}})"));
        // The end holds the turn from here until its grace wait is set, so
        // the next sign-in comes after it.
        ASSERT_TRUE(wait_until([&] { return !host_->current_session_sender(); }));
        most_waits = std::max(most_waits, running_grace_waits());
    }
    EXPECT_LE(most_waits, 1);
    EXPECT_TRUE(ends->reasons().empty());
    EXPECT_TRUE(wait_until([&] { return !ends->reasons().empty(); }));
    EXPECT_EQ(ends->reasons(), std::vector<std::string>{"the session ended"});
    EXPECT_TRUE(wait_until([] { return running_grace_waits() == 0; }));
}

// Holds every watch link.
class HeldWatchLinks : public ReachServices {
public:
    bool holds_watch_link(std::uint64_t) override { return true; }
};

TEST_F(Sessions, ABrowsersSignInAsksThePlatformOutsideTheViewersLock) {
    reach_ = std::make_shared<HeldWatchLinks>();
    make_host();
    // While the platform is asked for the levels, another thread takes the
    // viewers' lock (or 1 s passes).
    std::thread other;
    std::atomic<bool> taken{false};
    bool viewers_free = false;
    FakePlatform::Answers answers = platform_->answers();
    answers.on_call = [&](const std::string& operation) {
        if (operation != "read_levels" || other.joinable()) return;
        other = std::thread([&] {
            host_->lock_web_viewers();
            taken = true;
        });
        viewers_free = wait_until([&] { return taken.load(); }, 1s);
    };
    platform_->set_answers(answers);
    auto [writer, items] = LinkWriter::make();
    SessionRecord record;
    record.link_kind = LinkKind::Browser;
    record.watch_link_id = 7;
    record.session = 3;
    record.peer_name = "Web browser";
    record.writer = writer;
    EXPECT_EQ(run_sign_in(*host_, record, HandshakeDone{}), SignInEnd::GoesOn);
    answers.on_call = nullptr;  // it holds this body's locals
    platform_->set_answers(answers);
    if (other.joinable()) other.join();
    EXPECT_TRUE(viewers_free);
    auto first = items.try_receive();
    ASSERT_TRUE(first);
    EXPECT_EQ(control_name(to_string(first->bytes)), "hostInfo");
    auto lock = host_->lock_web_viewers();
    ASSERT_EQ(host_->web_viewers().size(), 1u);
    EXPECT_EQ(host_->web_viewers()[0].session, 3u);
}

TEST_F(Sessions, AMalformedControlMessageIsDroppedAndTheSessionStaysUp) {
    DeviceIdentity phone = DeviceIdentity::make();
    make_host({trusted(phone)});
    start_listening();
    auto peer = signed_in_device(phone);
    ASSERT_TRUE(peer->send_control_text("{not json"));
    ASSERT_TRUE(peer->send_control_text(R"({"ping":{"_0":7.0}})"));
    ASSERT_TRUE(peer->send_control_text(R"({"ping":{"_0":7}})"));
    auto reply = peer->receive_frame_of(FrameType::Control);
    ASSERT_TRUE(reply);
    EXPECT_EQ(to_string(reply->body), R"({"pong":{"_0":7}})");
    // A file piece too short to read is logged and dropped.
    ASSERT_TRUE(peer->send_frame(FrameType::FileData, Bytes{0, 0, 1}));
    EXPECT_TRUE(wait_for_log("session 1: a file piece too short to read"));
    EXPECT_TRUE(control_texts_until_pong(*peer).empty());
}

TEST_F(Sessions, ADeviceSendingItsDetailsInALoopKeepsTheLogsEarlierLinesAndIsCounted) {
    DeviceIdentity phone = DeviceIdentity::make("Phone");
    make_host({trusted(phone)});
    host_->session_log.every = 1h;  // past the first lines: one more whole, the rest counted
    start_listening();
    auto peer = signed_in_device(phone);
    // Even with its texts cut, 8,000 lines would empty the log.
    const std::string info = R"({"deviceInfo":{"version":")" + std::string(400, 'v') + R"(","features":["f",")" +
                             std::string(400, 'e') + R"("]}})";
    const int sent = 8000;
    for (int i = 0; i < sent; ++i) ASSERT_TRUE(peer->send_control_text(info));
    ASSERT_TRUE(peer->send_control_text(R"({"bye":{}})"));
    ASSERT_TRUE(wait_for_log("session 1: closed (the device said goodbye)", 60s));
    const std::string log = log_text();
    EXPECT_NE(log.find("session 1: signed in: Phone (Phone1,1)\n"), std::string::npos);
    const int whole = testing::occurrences(log, "session 1: device app ");
    EXPECT_TRUE(whole >= 16 && whole <= 17) << whole;
    EXPECT_EQ(testing::told(log, "deviceInfo", "session 1: device app ", "device Phone: lines counted since "), sent);
    EXPECT_LT(log.find("device Phone: lines counted since "), log.find("session 1: closed")) << "counts come first";
}

TEST_F(Sessions, ADeviceReconnectingInALoopIsCountedAsOneAndLeavesOthersLinesInTheLog) {
    DeviceIdentity phone = DeviceIdentity::make("Phone"), tablet = DeviceIdentity::make("Tablet");
    make_host({trusted(phone), trusted(tablet)});
    host_->session_log = SessionLogLimits{};  // the program's own
    host_->limits.link_log_every = LinkLimits{}.link_log_every;
    start_listening();
    auto other = signed_in_device(tablet);
    const std::string info = R"({"deviceInfo":{"version":")" + std::string(400, 'v') + R"(","features":[]}})";
    const int links = 200, infos = 16;
    for (int i = 0; i < links; ++i) {
        auto link = connect(phone);
        ASSERT_TRUE(link->sign_in(PeerRole::Send));
        for (int j = 0; j < infos; ++j) ASSERT_TRUE(link->send_control_text(info));
        ASSERT_TRUE(link->send_control_text(R"({"bye":{}})"));
        ASSERT_TRUE(link->wait_closed());
    }
    ASSERT_TRUE(wait_until([&] { return running_session_threads() == session_threads_before_ + 1; }));
    std::string log = log_text();
    const int whole_infos = testing::occurrences(log, ": device app "), sign_ins = testing::occurrences(log, ") signed in to send");
    // A few a while past the budgets, however slowly the loop runs.
    EXPECT_TRUE(whole_infos >= infos && whole_infos <= infos + 16) << whole_infos;
    EXPECT_TRUE(sign_ins >= 4 && sign_ins <= 40) << sign_ins;
    EXPECT_NE(log.find("signed in: Tablet (Phone1,1)\n"), std::string::npos);
    // Every line is told once the counts are written, with the host's end at the latest.
    other.reset();
    listener_->stop();
    listener_.reset();
    ASSERT_TRUE(wait_for_threads_to_end());
    host_.reset();  // the last reference may be a grace waiter's, which then writes the counts
    const std::string counted = "device Phone: lines counted since ";
    const auto told = [&](const char* kind, const char* whole) { return testing::told(log, kind, whole, counted); };
    EXPECT_TRUE(wait_until([&] { log = log_text(); return told("signed in", ") signed in to send") == std::uint64_t{links}; }));
    EXPECT_EQ(told("deviceInfo", ": device app "), std::uint64_t{links * infos});
    EXPECT_EQ(told("signed in", ") signed in to send"), std::uint64_t{links});
}

TEST_F(Sessions, InputAndCameraReachThePlatformOnlyFromTheSessionInControl) {
    DeviceIdentity phone = DeviceIdentity::make("Phone");
    DeviceIdentity tablet = DeviceIdentity::make("Tablet");
    make_host({trusted(phone), trusted(tablet)});
    start_listening();
    auto peer = signed_in_device(phone);
    ASSERT_TRUE(peer->send_frame(FrameType::Input, kInputMute));
    ASSERT_TRUE(peer->send_frame(FrameType::Input, Bytes{10, 13}));  // no such action: dropped
    Bytes camera = {0, 4, 0, 3, 0, 0, 0, 0, 0, 0, 0, 9, 0xFF, 0xD8};
    ASSERT_TRUE(peer->send_frame(FrameType::Camera, camera));
    ASSERT_TRUE(peer->send_frame(FrameType::Camera, Bytes(11, 0)));  // too short
    control_texts_until_pong(*peer);

    // A watcher's input and camera pictures are dropped.
    auto watcher = connect(tablet);
    ASSERT_TRUE(watcher->sign_in(PeerRole::Watch));
    ASSERT_TRUE(watcher->send_frame(FrameType::Input, kInputMute));
    control_texts_until_pong(*watcher);

    ASSERT_EQ(platform_->inputs().size(), 1u);
    EXPECT_TRUE(std::holds_alternative<input::Action>(platform_->inputs()[0].variant()));
    auto pictures = platform_->camera_pictures();
    ASSERT_EQ(pictures.size(), 1u);
    EXPECT_EQ(pictures[0].width, 4);
    EXPECT_EQ(pictures[0].height, 3);
    EXPECT_EQ(pictures[0].value, 9u);
    EXPECT_EQ(pictures[0].bytes, (Bytes{0xFF, 0xD8}));
    EXPECT_TRUE(wait_for_log("session 2: Tablet (Phone1,1) signed in to watch"));
    EXPECT_TRUE(wait_for_log("watching: [\"Tablet\"]"));
}

TEST_F(Sessions, FramesLargerThanOneReadArriveWholeBetweenSmallOnes) {
    DeviceIdentity phone = DeviceIdentity::make();
    make_host({trusted(phone)});
    start_listening();
    auto peer = signed_in_device(phone);
    // Pictures of 3 MiB and 9 MiB make the pending bytes grow, move to the
    // front and shrink again; small frames sit on both sides of them.
    const std::size_t sizes[] = {3u << 20, 17, 9u << 20, 1, 300'001};
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        Bytes camera(12 + sizes[i]);
        camera[1] = 4;
        camera[3] = 3;
        camera[11] = static_cast<std::uint8_t>(i);
        for (std::size_t at = 12; at < camera.size(); ++at) camera[at] = static_cast<std::uint8_t>(at * 31 + i);
        ASSERT_TRUE(peer->send_frame(FrameType::Camera, camera));
        ASSERT_TRUE(peer->send_frame(FrameType::Input, kInputMute));
    }
    control_texts_until_pong(*peer);
    auto pictures = platform_->camera_pictures();
    ASSERT_EQ(pictures.size(), std::size(sizes));
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        ASSERT_EQ(pictures[i].bytes.size(), sizes[i]);
        EXPECT_EQ(pictures[i].value, i);
        for (std::size_t at = 0; at < sizes[i]; at += 4093)
            ASSERT_EQ(pictures[i].bytes[at], static_cast<std::uint8_t>((at + 12) * 31 + i)) << i << " " << at;
    }
    EXPECT_EQ(platform_->inputs().size(), std::size(sizes));
}

TEST_F(Sessions, FramingErrorsEndTheLinkWithTheirLogLines) {
    DeviceIdentity phone = DeviceIdentity::make();
    make_host({trusted(phone)});
    start_listening();
    struct Case {
        Bytes bytes;
        std::string line;
    } cases[] = {
        {{0, 0, 0, 0}, "bad framing (frame too large)"},
        {{0x04, 0, 0, 1}, "a frame of 67108865 bytes before sign-in is larger than any message; closing"},
        {{0, 0, 0x40, 1}, "a frame of 16385 bytes before sign-in is larger than any message; closing"},
        {{0, 0, 0, 1, 0x04}, "bad framing (unknown frame type 4)"},
        {encode_plain_frame(FrameType::Control, to_bytes("{}")), "Control before sign-in"},
        {encode_plain_frame(FrameType::Sealed, Bytes(20, 0)), "Sealed before sign-in"},
    };
    std::uint64_t session = 1;
    for (const auto& c : cases) {
        auto peer = connect(phone);
        ASSERT_TRUE(peer->stream().send(c.bytes));
        EXPECT_TRUE(peer->wait_closed()) << c.line;
        EXPECT_TRUE(wait_for_log("session " + std::to_string(session) + ": " + c.line));
        ++session;
    }
    // A link to watch takes no frame larger than its messages need.
    auto watcher = connect(phone);
    ASSERT_TRUE(watcher->sign_in(PeerRole::Watch) && watcher->stream().send(Bytes{0, 1, 0, 0x41}));
    EXPECT_TRUE(watcher->wait_closed());
    EXPECT_TRUE(wait_for_log("session " + std::to_string(session++) +
                             ": a frame of 65601 bytes is larger than any message of a link to watch; closing"));
    // After sign-in, a sealed frame that does not open.
    auto peer = signed_in_device(phone);
    ASSERT_TRUE(peer->stream().send(encode_plain_frame(FrameType::Sealed, Bytes(40, 7))));
    EXPECT_TRUE(peer->wait_closed());
    EXPECT_TRUE(wait_for_log("session " + std::to_string(session) + ": a sealed frame did not open"));
    // Nothing of an unsigned link was ever logged as closed.
    EXPECT_EQ(log_text().find("session 1: closed"), std::string::npos);
}

TEST_F(Sessions, FiveWrongCodesLockPairingAndASignInResetsTheCount) {
    DeviceIdentity phone = DeviceIdentity::make("Phone");
    make_host();
    start_listening();
    host_->open_pairing();
    auto wrong_code = [&](const std::string& code) { return code == "000000" ? std::string("111111") : std::string("000000"); };

    // Four wrong codes: each draws a fresh code.
    for (int i = 0; i < 4; ++i) {
        std::string code = read_code_file();
        ASSERT_EQ(code.size(), 6u);
        auto peer = connect(phone);
        EXPECT_FALSE(peer->pair(wrong_code(code)));
        EXPECT_EQ(peer->failure(), PairingError::WrongCode);
        EXPECT_TRUE(peer->wait_closed());
        EXPECT_TRUE(wait_for_threads_to_end());
        EXPECT_TRUE(code_file_exists());
    }
    EXPECT_EQ(host_->snapshot_host_status().notice, "A device entered the wrong code. Here is a new one.");
    // A right code signs in and resets the count.
    {
        auto peer = connect(phone);
        ASSERT_TRUE(peer->pair(read_code_file()));
        control_texts_until_pong(*peer);
        ASSERT_TRUE(peer->send_control_text(R"({"bye":{}})"));
        EXPECT_TRUE(peer->wait_closed());
        EXPECT_TRUE(wait_for_threads_to_end());
    }
    // Five more wrong codes are needed to lock.
    DeviceIdentity other = DeviceIdentity::make("Other");
    for (int i = 0; i < 5; ++i) {
        host_->open_pairing();
        auto peer = connect(other);
        EXPECT_FALSE(peer->pair(wrong_code(read_code_file())));
        EXPECT_TRUE(peer->wait_closed());
        EXPECT_TRUE(wait_for_threads_to_end());
        if (i < 4) {
            EXPECT_EQ(log_text().find("five wrong codes"), std::string::npos) << i;
        }
    }
    EXPECT_TRUE(wait_for_log("five wrong codes: pairing closed for 60 s"));
    EXPECT_TRUE(wait_for_log("handshake failed: WrongCode"));
    EXPECT_FALSE(code_file_exists());
    auto status = host_->snapshot_host_status();
    EXPECT_FALSE(status.pairing_code);
    EXPECT_TRUE(status.locked_seconds);
    EXPECT_EQ(status.notice, "Five wrong codes in a row: pairing is closed for a minute.");
    host_->open_pairing();  // refused while locked
    EXPECT_FALSE(host_->snapshot_host_status().pairing_code);
    now_ += 61s;
    host_->open_pairing();
    EXPECT_TRUE(host_->snapshot_host_status().pairing_code);
}

TEST_F(Sessions, ReceiveTimeOutsEndSilentLinks) {
    DeviceIdentity phone = DeviceIdentity::make();
    make_host({trusted(phone)});
    host_->timeouts.sign_in = 150ms;
    host_->timeouts.device_in_control = 300ms;
    start_listening();
    auto silent = connect(phone);
    EXPECT_TRUE(silent->wait_closed());
    EXPECT_TRUE(wait_for_log("session 1: link ended ("));

    auto peer = connect(phone);
    ASSERT_TRUE(peer->sign_in());
    EXPECT_TRUE(peer->wait_closed());
    EXPECT_TRUE(wait_for_log("session 2: link ended ("));
    EXPECT_TRUE(wait_for_log("session 2: closed\n"));
}

TEST_F(Sessions, APreviewPeerGetsOnePictureAndIsSentAway) {
    DeviceIdentity phone = DeviceIdentity::make("Viewer");
    FakePlatform::Answers answers;
    answers.preview = to_bytes("jpeg");
    platform_->set_answers(answers);
    make_host({trusted(phone)});
    start_listening();
    auto peer = connect(phone);
    ASSERT_TRUE(peer->sign_in(PeerRole::Preview));
    auto preview = peer->receive_frame_of(FrameType::Control);
    ASSERT_TRUE(preview);
    EXPECT_EQ(to_string(preview->body), R"({"preview":{"_0":"anBlZw=="}})");
    EXPECT_TRUE(sent_away(*peer));
    EXPECT_TRUE(wait_for_log("session 1: preview for Viewer: 4 bytes in "));
    EXPECT_TRUE(wait_for_log("session 1: closed (the device said goodbye)"));
    EXPECT_FALSE(host_->snapshot_host_status().device_name);
    EXPECT_EQ(host_->watchers->size(), 0u);
}

TEST_F(Sessions, ALinkIsTurnedAwayWhileClosingForAnUpdate) {
    make_host();
    start_listening();
    ASSERT_TRUE(host_->begin_closing_for_update());
    auto peer = connect(DeviceIdentity::make());
    EXPECT_TRUE(peer->wait_closed());
    EXPECT_TRUE(wait_for_log("session 1: turned away, VorLix is restarting for an update"));
    host_->end_closing_for_update();
    EXPECT_TRUE(wait_for_log("no longer closing for an update: links are taken again"));
}

TEST_F(Sessions, ATakenPortGivesASystemChosenOneThatIsAnnouncedAndServed) {
    DeviceIdentity pad = DeviceIdentity::make("Pad");
    make_host({trusted(pad)});
    auto taken = Listener::bind(IpAddress::v4(0, 0, 0, 0), 0);
    ASSERT_TRUE(taken);
    const std::uint16_t wanted = *taken->local_port();
    auto started = start_listener(host_, wanted, true);
    ASSERT_TRUE(started) << started.error().text;
    listener_ = *started;
    port_ = host_->snapshot_host_status().port;
    EXPECT_NE(port_, 0);
    EXPECT_NE(port_, wanted);
    EXPECT_EQ(host_->snapshot_host_status().status_flag, 1);
    EXPECT_TRUE(wait_for_log("listening on port " + std::to_string(port_)));
    ASSERT_TRUE(platform_->wait_for("advertise"));
    auto calls = platform_->calls();
    auto advertised = std::find_if(calls.begin(), calls.end(), [](const auto& c) { return c.operation == "advertise"; });
    ASSERT_NE(advertised, calls.end());
    // The id is the first 6 bytes of the SHA-256 of the identity public key.
    const std::string id = sha256_hex(host_->identity.public_key).substr(0, 12);
    EXPECT_EQ(advertised->detail, "Test PC " + std::to_string(port_) + " id=" + id + " model=Test Model");
    EXPECT_EQ(log_text().find("not announced"), std::string::npos);

    // A device reaches the host on the port it was told.
    auto device = signed_in_device(pad);
    ASSERT_TRUE(device);
    ASSERT_TRUE(device->send_control_text(R"({"ping":{"_0":5}})"));
    EXPECT_TRUE(control_texts_until_pong(*device, 5).empty());
}

// A fake platform that notes the thread it is destroyed on.
class NotedPlatform : public FakePlatform {
public:
    explicit NotedPlatform(std::shared_ptr<std::atomic<std::thread::id>> on) : destroyed_on_(std::move(on)) {}
    ~NotedPlatform() override { destroyed_on_->store(std::this_thread::get_id()); }

private:
    std::shared_ptr<std::atomic<std::thread::id>> destroyed_on_;
};

TEST_F(Sessions, QuittingSendsEveryLinkAwayAndEndsTheHostAndThePlatformOnItsThread) {
    auto destroyed_on = std::make_shared<std::atomic<std::thread::id>>();
    platform_ = std::make_shared<NotedPlatform>(destroyed_on);
    FakePlatform::Answers answers;
    answers.screenshot = answers.preview = to_bytes("picture");
    // A screenshot and a preview are still being taken as the quit begins.
    auto taking = std::make_shared<std::atomic<int>>(0);
    answers.on_call = [taking](const std::string& operation) {
        if (operation != "take_screenshot" && operation != "take_preview") return;
        taking->fetch_add(1);
        std::this_thread::sleep_for(700ms);
    };
    platform_->set_answers(answers);
    DeviceIdentity phone = DeviceIdentity::make("Phone");
    make_host({trusted(phone)});
    host_->limits.link_log_every = LinkLimits{}.link_log_every;
    start_listening();
    std::vector<std::unique_ptr<DevicePeer>> links;
    links.push_back(signed_in_device(phone));
    for (PeerRole role : {PeerRole::Send, PeerRole::Watch, PeerRole::Preview}) {
        links.push_back(connect(phone));
        ASSERT_TRUE(links.back()->sign_in(role));
    }
    ASSERT_TRUE(links.front()->send_control_text(R"({"requestScreenshot":{}})"));
    auto signing = connect(phone);
    ASSERT_TRUE(signing->send_sign_in_hello());
    ASSERT_TRUE(wait_until([&] { return taking->load() == 2; }));

    std::weak_ptr<HostState> weak_host = host_;
    std::shared_ptr<Platform> platform = std::move(platform_);
    EXPECT_TRUE(quit_host(host_, platform, [] {}));
    EXPECT_EQ(destroyed_on->load(), std::this_thread::get_id());
    EXPECT_TRUE(weak_host.expired());
    EXPECT_NE(log_text().find("session 5: connection from 127.0.0.1:"), std::string::npos) << log_text();
    for (auto& link : links) {
        bool bye = false;
        for (int i = 0; i < 16 && !bye; ++i) {
            auto frame = link->receive_frame_of(FrameType::Control);
            if (!frame) break;
            bye = to_string(frame->body) == R"({"bye":{}})";
        }
        EXPECT_TRUE(bye && link->wait_closed());
    }
    EXPECT_TRUE(signing->wait_closed());
}

TEST(ReachAddresses, KeepsTheTwoRangesInPlatformOrderEachOnce) {
    std::vector<IpAddress> addresses = {
        *IpAddress::parse("fd7a:115c:a1e0:ab12::1"), IpAddress::v4(100, 64, 0, 1),  IpAddress::v4(100, 63, 255, 255),
        IpAddress::v4(100, 127, 255, 255),           IpAddress::v4(100, 128, 0, 0), *IpAddress::parse("fd7a:115c:a1e1::1"),
        IpAddress::v4(100, 64, 0, 1),                IpAddress::v4(10, 0, 0, 1)};
    EXPECT_EQ(reach_addresses(addresses),
              (std::vector<std::string>{"100.64.0.1", "100.127.255.255", "fd7a:115c:a1e0:ab12::1"}));
    EXPECT_TRUE(reach_addresses({}).empty());
}

}  // namespace
}  // namespace vorlix
