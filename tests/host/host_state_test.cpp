#include <gtest/gtest.h>

#include <thread>

#include "crypto/crypto.h"
#include "host/session.h"
#include "json/json.h"
#include "recovery/recovery.h"
#include "storage/temp_folder.h"
#include "stream/stream_output.h"
#include "host_fixture.h"

namespace vorlix {
namespace {

using namespace std::chrono_literals;

class HostStateTest : public HostFixture {
protected:
    // Makes the host's current session a link whose queue the test reads.
    Receiver<WriterItem> fake_current_session(std::uint64_t number, std::vector<std::string> capabilities = {}) {
        auto [writer, items] = LinkWriter::make();
        auto lock = host_->lock_main();
        host_->main().current_session = CurrentSession{writer, {}, 255};
        host_->main().in_control = number;
        host_->main().capabilities = std::move(capabilities);
        return std::move(items);
    }

    static std::vector<std::string> sent(Receiver<WriterItem>& items) {
        std::vector<std::string> out;
        while (auto item = items.try_receive()) {
            if (item->kind == WriterItem::Kind::Frame) out.push_back(to_string(item->bytes));
        }
        return out;
    }

    std::vector<std::string> keep_awake_calls() {
        std::vector<std::string> out;
        for (const auto& call : platform_->calls()) {
            if (call.operation == "set_keep_awake") out.push_back(call.detail);
        }
        return out;
    }
};

TEST_F(HostStateTest, KeepAwakeIsToldOnlyWhenItChanges) {
    make_host();
    host_->update_keep_awake();  // the first call always tells
    host_->update_keep_awake();
    EXPECT_EQ(keep_awake_calls(), std::vector<std::string>{"false"});
    EXPECT_TRUE(host_->any_session_active());

    auto items = fake_current_session(3);
    host_->update_keep_awake();
    host_->update_keep_awake();
    EXPECT_EQ(keep_awake_calls(), (std::vector<std::string>{"false", "true"}));
    EXPECT_FALSE(host_->any_session_active());

    // A watcher alone keeps the PC awake too; its leaving lets it sleep.
    {
        auto lock = host_->lock_main();
        host_->main().current_session.reset();
    }
    auto [watcher, watcher_items] = LinkWriter::make();
    add_stream_watcher(*host_->watchers, watcher, 4, "Tablet", false);
    host_->update_keep_awake();
    EXPECT_EQ(keep_awake_calls().size(), 2u);
    EXPECT_FALSE(host_->any_session_active());
    remove_watcher_entry(*host_->watchers, 4);
    host_->update_keep_awake();
    EXPECT_EQ(keep_awake_calls(), (std::vector<std::string>{"false", "true", "false"}));
    EXPECT_TRUE(host_->any_session_active());
}

// A commit refused as a place comes back: never "turned away" with a place free.
TEST_F(HostStateTest, APairingIsNeverSaidTurnedAwayWithAPlaceFree) {
    make_host();
    host_->limits.pairing_handshakes = 1;
    host_->open_pairing();
    const std::string code = HostState::current_pairing_code(host_).value();
    const PairingGuard guard = HostState::pairing_guard(host_);
    for (int i = 0; i < 20; ++i) {
        PairingPlace held = guard.enter(code), late;
        auto lock = host_->lock_main();  // both come to it at once
        std::thread refused([&] { late = guard.enter(code); }), given_back([&] { held.token.reset(); });
        std::this_thread::sleep_for(20ms);
        lock.unlock();
        refused.join();
        given_back.join();
        lock.lock();
        EXPECT_FALSE(host_->main().pairing.busy() && host_->main().pairing.places() == 0) << i;
    }  // the lock is let go before the late place
    // A flood of refused commits tells the window once, when its word turns on.
    int changes = 0;
    host_->set_on_change([&] { ++changes; });
    const PairingPlace held = guard.enter(code);
    for (int i = 0; i < 50; ++i) EXPECT_FALSE(guard.enter(code).token) << i;
    EXPECT_EQ(changes, 1);
    host_->set_on_change(nullptr);
}

TEST_F(HostStateTest, PointerOptionIsPassedOnOnlyWhenItChanges) {
    make_host();
    host_->apply_session_options(SessionOptions{});
    EXPECT_EQ(platform_->count("set_pointer_on_device"), 0u);
    SessionOptions pointer_on_device;
    pointer_on_device.local_cursor = true;
    pointer_on_device.curtain = true;  // an option the host stores without acting on it
    host_->apply_session_options(pointer_on_device);
    host_->apply_session_options(pointer_on_device);
    host_->reset_session_options();
    auto calls = platform_->calls();
    std::vector<std::string> values;
    for (const auto& call : calls) {
        if (call.operation == "set_pointer_on_device") values.push_back(call.detail);
    }
    EXPECT_EQ(values, (std::vector<std::string>{"1", "0"}));
    EXPECT_TRUE(wait_for_log("pointer drawn on the device"));
    EXPECT_TRUE(wait_for_log("pointer drawn into the picture"));
}

TEST_F(HostStateTest, ScreenshotsWatcherStartsOnceAndStopsWhenTheOptionGoesOff) {
    make_host();
    int started = 0;
    std::shared_ptr<std::atomic<std::uint8_t>> running;
    std::function<void(std::filesystem::path)> hand_over;
    host_->hooks.start_screenshots_watcher = [&](std::vector<std::filesystem::path>,
                                                 std::function<void(std::filesystem::path)> send) {
        ++started;
        hand_over = std::move(send);
        running = std::make_shared<std::atomic<std::uint8_t>>(1);
        return running;
    };
    SessionOptions on;
    on.screenshots_to_device = true;
    host_->apply_session_options(on);
    host_->apply_session_options(on);
    EXPECT_EQ(started, 1);
    EXPECT_EQ(platform_->count("screenshots_dir"), 1u);
    EXPECT_EQ(running->load(), 1);
    // A file the watcher hands over without a current session is dropped.
    hand_over(dir_ / "missing.png");
    host_->apply_session_options(SessionOptions{});
    host_->apply_session_options(SessionOptions{});
    EXPECT_EQ(running->load(), 0);
    EXPECT_EQ(running.use_count(), 1);  // the host let go of the flag
}

TEST_F(HostStateTest, BinaryFilesNeedsTheExactCapability) {
    make_host();
    EXPECT_FALSE(host_->device_takes_binary_files());
    auto items = fake_current_session(1, {"binaryfiles", "binaryFiles ", "BinaryFiles"});
    EXPECT_FALSE(host_->device_takes_binary_files());
    {
        auto lock = host_->lock_main();
        host_->main().capabilities.push_back("binaryFiles");
    }
    EXPECT_TRUE(host_->device_takes_binary_files());
    EXPECT_TRUE(host_->is_current_session(1));
    EXPECT_FALSE(host_->is_current_session(2));
}

TEST_F(HostStateTest, WatchingIsToldToTheDeviceAndTheRelayCountsGoToIt) {
    make_host();
    host_->set_watching();  // no session: only logs and keeps awake up to date
    EXPECT_TRUE(wait_for_log("watching: []"));
    auto items = fake_current_session(1);
    auto [a, a_items] = LinkWriter::make();
    auto [b, b_items] = LinkWriter::make();
    add_stream_watcher(*host_->watchers, a, 2, "Zed", true);
    add_stream_watcher(*host_->watchers, b, 3, "Amy", false);
    host_->set_watching();
    host_->update_session_relay_state();
    EXPECT_EQ(sent(items), (std::vector<std::string>{R"({"watchers":{"_0":["Amy","Zed"]}})",
                                                      R"({"webWatchers":{"links":0,"watching":1}})"}));
    EXPECT_TRUE(wait_for_log("watching: [\"Amy\", \"Zed\"]"));
    EXPECT_EQ(host_->snapshot_host_status().watchers, (std::vector<std::string>{"Amy", "Zed"}));
}

TEST_F(HostStateTest, TheStatusNamesTheHostByTwelveDigitsOfItsKeysDigest) {
    make_host();
    const std::string digest = hex_lower(sha256(host_->identity.public_key));
    EXPECT_EQ(host_->snapshot_host_status().host_id, digest.substr(0, 12));
}

TEST_F(HostStateTest, ChangeCallbackRunsAfterTheSetters) {
    make_host();
    int changes = 0;
    host_->set_on_change([&] {
        // The main lock is free while the callback runs.
        (void)host_->snapshot_host_status();
        ++changes;
    });
    host_->open_pairing();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(read_code_file(), *host_->snapshot_host_status().pairing_code);
    host_->close_pairing();
    EXPECT_EQ(changes, 2);
    EXPECT_FALSE(code_file_exists());
}

TEST_F(HostStateTest, SayGoodbyeQueuesByeThenClose) {
    make_host();
    host_->say_goodbye_and_close();  // nothing to do without a session
    auto items = fake_current_session(1);
    host_->say_goodbye_and_close();
    auto first = items.try_receive();
    ASSERT_TRUE(first);
    EXPECT_EQ(to_string(first->bytes), R"({"bye":{}})");
    auto second = items.try_receive();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->kind, WriterItem::Kind::Close);
}

TEST_F(HostStateTest, ClosingForAnUpdateIsRefusedWhileADeviceIsConnected) {
    make_host();
    auto items = fake_current_session(1);
    EXPECT_FALSE(host_->begin_closing_for_update());
    EXPECT_FALSE(host_->closing_for_update.load());
    {
        auto lock = host_->lock_main();
        host_->main().current_session.reset();
    }
    EXPECT_TRUE(host_->begin_closing_for_update());
    EXPECT_TRUE(wait_for_log("closing for an update: new links are turned away"));
}

TEST_F(HostStateTest, ClearingInkSendsOneClearPerAuthorInByteOrder) {
    make_host();
    {
        std::lock_guard<std::mutex> lock(host_->ink_mutex);
        for (const char* author : {"bob", "Amy", "bob"}) {
            InkEvent begin;
            begin.id = static_cast<std::int64_t>(host_->ink.strokes.size()) + 1;
            begin.phase = "begin";
            begin.points = {0.5, 0.5};
            begin.author = author;
            apply_ink_event(host_->ink, begin, 1.0);
        }
        ASSERT_EQ(host_->ink.strokes.size(), 3u);
    }
    auto [watcher, items] = LinkWriter::make();
    add_stream_watcher(*host_->watchers, watcher, 2, "Tablet", false);
    clear_all_ink(*host_);
    EXPECT_EQ(platform_->count("clear_ink_overlay"), 1u);
    std::vector<std::string> messages;
    while (auto item = items.try_receive()) messages.push_back(to_string(item->bytes));
    const std::string clear = R"({"annotate":{"_0":{"author":"%","color":0,"id":0,"kind":"pen","phase":"clear","points":[],"width":0.004}}})";
    auto clear_of = [&](const std::string& author) {
        std::string text = clear;
        return text.replace(text.find('%'), 1, author);
    };
    EXPECT_EQ(messages, (std::vector<std::string>{clear_of("Amy"), clear_of("bob")}));
    std::lock_guard<std::mutex> lock(host_->ink_mutex);
    EXPECT_TRUE(host_->ink.strokes.empty());
}

TEST_F(HostStateTest, PlatformEventsReachOnlyTheCurrentDeviceAndFilesNeedTheFeature) {
    make_host();
    test::write_file(dir_ / "notes.txt", "abc");
    std::filesystem::create_directories(dir_ / "folder");
    ASSERT_TRUE(platform_->has_event_handler());
    platform_->deliver(PlatformEvent{ControlMessage{control::Clipboard{"lost"}}});  // nobody to tell

    auto items = fake_current_session(1, {"binaryFiles"});
    platform_->deliver(PlatformEvent{ControlMessage{control::Clipboard{"copied"}}});
    platform_->deliver(PlatformEvent{ControlMessage{control::ClipboardImage{to_bytes("png")}}});
    platform_->deliver(PlatformEvent{dir_ / "notes.txt"});
    EXPECT_EQ(sent(items), std::vector<std::string>{R"({"clipboard":{"_0":"copied"}})"});

    items = fake_current_session(1, {"files"});
    platform_->deliver(PlatformEvent{ControlMessage{control::ClipboardImage{to_bytes("png")}}});
    platform_->deliver(PlatformEvent{dir_ / "folder"});
    platform_->deliver(PlatformEvent{dir_ / "notes.txt"});
    platform_->deliver(PlatformEvent{ControlMessage{control::FrontApp{"app.id", "App"}}});
    EXPECT_EQ(sent(items), (std::vector<std::string>{R"({"clipboardImage":{"_0":"cG5n"}})",
                                                     R"({"fileOffer":{"id":1,"name":"notes.txt","size":3}})",
                                                     R"({"frontApp":{"bundleID":"app.id","name":"App"}})"}));
    EXPECT_TRUE(wait_for_log("clipboard: a picture to the device (3 bytes)"));
    EXPECT_TRUE(wait_for_log("clipboard: offering notes.txt (3 bytes)"));
    {
        std::lock_guard<std::mutex> lock(host_->transfer_mutex);
        EXPECT_EQ(find_offered_file(host_->transfers, 1), dir_ / "notes.txt");
    }
    // The handler holds the host weakly: once it is gone, events do nothing.
    std::weak_ptr<HostState> weak = host_;
    host_.reset();
    EXPECT_TRUE(weak.expired());
    platform_->deliver(PlatformEvent{ControlMessage{control::Clipboard{"late"}}});
    EXPECT_TRUE(sent(items).empty());
}

TEST_F(HostStateTest, PictureStopsAreToldOnceAndOnlyToTheirOwnSession) {
    make_host();
    auto items = fake_current_session(3, {"pictureStopped"});
    const std::uint8_t encoder = reason_code(PictureStopReason::encoderFailed);
    notify_picture_stopped(host_, 2, encoder);  // an older session's stream
    EXPECT_TRUE(sent(items).empty());
    notify_picture_stopped(host_, 3, encoder);
    notify_picture_stopped(host_, 3, encoder);
    EXPECT_EQ(sent(items), std::vector<std::string>{
                               R"({"pictureStopped":{"message":"The picture stopped: this PC's video encoder failed. VorLix is trying again.","reason":"encoderFailed","retrying":true}})"});
    {
        auto lock = host_->lock_main();
        host_->main().device_name = "Pad";
    }
    EXPECT_EQ(host_->snapshot_host_status().status_line, host_->texts->lookup_text("stream.stopped"));
    notify_picture_stopped(host_, 3, kPictureResumed);
    notify_picture_stopped(host_, 3, kPictureResumed);
    EXPECT_EQ(sent(items), std::vector<std::string>{R"({"pictureResumed":{}})"});
    EXPECT_NE(host_->snapshot_host_status().status_line, host_->texts->lookup_text("stream.stopped"));
    EXPECT_TRUE(wait_for_log("session 3: told the picture stopped (encoderFailed)"));
    EXPECT_TRUE(wait_for_log("session 3: the picture runs again"));

    // A device without the capability gets a notice instead.
    items = fake_current_session(4);
    notify_picture_stopped(host_, 4, reason_code(PictureStopReason::stoppedOnComputer));
    EXPECT_EQ(sent(items), std::vector<std::string>{
                               R"({"notice":{"_0":"The picture stopped: screen sharing was stopped on this PC. Connect again to share it."}})"});
    EXPECT_TRUE(wait_for_log("session 4: told the picture stopped (stoppedOnComputer) as a notice"));
}

TEST_F(HostStateTest, TheStreamSummaryReachesTheWindow) {
    make_host();
    int changes = 0;
    host_->set_on_change([&] { ++changes; });
    auto output = make_stream_output(*host_, std::nullopt, 0);
    ASSERT_TRUE(output->stream_info);
    EXPECT_FALSE(output->picture_stopped);  // the watchers-only picture tells no device
    output->stream_info(1920, 1080, 60);
    EXPECT_EQ(host_->snapshot_host_status().stream_summary, "1920 \xC3\x97 1080 \xC2\xB7 60 fps \xC2\xB7 H.264");
    EXPECT_EQ(changes, 1);
}

TEST_F(HostStateTest, AFileFromTheScreenshotsFolderGoesToTheCurrentDevice) {
    make_host();
    test::write_file(dir_ / "shot.png", "picture");
    start_file_send(host_, dir_ / "shot.png");  // no session: dropped
    auto items = fake_current_session(1, {"binaryFiles"});
    start_file_send(host_, dir_ / "shot.png");
    std::vector<WriterItem> got;
    for (int i = 0; i < 3; ++i) {
        auto item = items.receive_for(5s);
        ASSERT_TRUE(item);
        got.push_back(std::move(*item));
    }
    auto start = parse_json(got[0].bytes, DuplicateKeys::refuse);
    ASSERT_TRUE(start.ok());
    const std::int64_t id = (*start)["fileStart"]["id"].get<std::int64_t>();
    EXPECT_GE(id, 1'000'000);
    EXPECT_LE(id, 8'999'999);
    EXPECT_EQ((*start)["fileStart"]["purpose"], "screenshot");
    EXPECT_EQ((*start)["fileStart"]["name"], "shot.png");
    EXPECT_EQ(got[1].type, FrameType::FileData);
    EXPECT_EQ(to_string(got[2].bytes), "{\"fileEnd\":{\"id\":" + std::to_string(id) + ",\"ok\":true}}");
}

}  // namespace
}  // namespace vorlix
