// The control dispatcher against a recording fake platform: a host state,
// one link record whose writer queue the test reads, and messages as a
// device sends them.
#include "host/dispatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "host/host_state.h"
#include "host/session.h"
#include "json/base64.h"
#include "stream/stream_output.h"
#include "storage/log_capture.h"
#include "storage/temp_folder.h"
#include "support/fake_platform.h"
#include "support/test_host.h"
#include "support/wait.h"

namespace vorlix {
namespace {

using namespace std::chrono_literals;

struct Link {
    SessionRecord record;
    Receiver<WriterItem> items;

    // The control messages queued so far, as text.
    std::vector<std::string> texts() {
        std::vector<std::string> out;
        while (auto item = items.try_receive()) {
            if (item->kind == WriterItem::Kind::Frame && item->type == FrameType::Control) {
                out.push_back(to_string(item->bytes));
            }
        }
        return out;
    }
    // Waits for the next control message.
    std::optional<std::string> next(std::chrono::milliseconds limit = 5s) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            auto item = items.receive_for(20ms);
            if (item && item->kind == WriterItem::Kind::Frame && item->type == FrameType::Control) {
                return to_string(item->bytes);
            }
        }
        return std::nullopt;
    }
};

class DispatcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform_ = std::make_shared<FakePlatform>();
        FakePlatform::Answers answers;
        answers.downloads = temp_.path() / "Downloads";
        platform_->set_answers(answers);
        HostStateConfig config = test_host_config(platform_, temp_.path(), 9);
        config.unix_now = [this] { return unix_now_.load(); };
        host_ = HostState::create(std::move(config));
    }

    std::unique_ptr<Link> link(std::uint64_t session, std::optional<PeerRole> role = std::nullopt,
                               LinkKind kind = LinkKind::Device) {
        auto out = std::make_unique<Link>();
        auto [writer, items] = LinkWriter::make();
        out->items = std::move(items);
        out->record.session = session;
        out->record.device_key = Bytes(32, static_cast<std::uint8_t>(session));
        out->record.writer = writer;
        out->record.role = role;
        out->record.link_kind = kind;
        out->record.peer_name = "Pad " + std::to_string(session);
        return out;
    }

    // Makes the link the device session in control.
    void put_in_control(Link& device) {
        auto lock = host_->lock_main();
        host_->main().current_session = CurrentSession{device.record.writer, Bytes(32, 1), 255};
        host_->main().in_control = device.record.session;
        host_->main().keyboard_nudge.reset();
    }
    void clear_current_session() {
        auto lock = host_->lock_main();
        host_->main().current_session.reset();
        host_->main().keyboard_nudge.reset();
    }

    void send(Link& link, const std::string& json) {
        EXPECT_EQ(handle_control_body(*host_, link.record, to_bytes(json)), ControlOutcome::Continue) << json;
    }

    test::TempFolder temp_;
    std::shared_ptr<FakePlatform> platform_;
    std::shared_ptr<HostState> host_;
    std::atomic<std::int64_t> unix_now_{1'700'000'000};
};

TEST_F(DispatcherTest, BrowsersMayOnlyConfigureAskForKeyFramesSetSoundAndPing) {
    test::LogCapture log;
    auto browser = link(4, PeerRole::Watch, LinkKind::Browser);
    {
        auto lock = host_->watchers->lock();
        host_->watchers->entries.push_back({browser->record.writer, "Browser", 4, true, true, false});
    }
    send(*browser, R"({"configure":{"_0":{"codec":"h264"},"generation":1}})");
    send(*browser, R"({"clipboard":{"_0":"hi"}})");
    send(*browser, "{\"" + std::string(400, 'x') + "\":{}}");  // the name is the peer's: cut
    send(*browser, R"({"ping":{"_0":42}})");
    send(*browser, R"({"setAudio":{"_0":true}})");
    send(*browser, R"({"requestKeyframe":{}})");
    send(*browser, R"({"requestKeyframe":{}})");  // within the second: ignored
    EXPECT_EQ(platform_->count("request_keyframe"), 1u);
    browser->record.last_keyframe_request = std::chrono::steady_clock::now() - 1001ms;
    send(*browser, R"({"requestKeyframe":{}})");
    EXPECT_EQ(platform_->count("request_keyframe"), 2u);

    EXPECT_NE(log.messages().find("session 4: browser can show h264\n"), std::string::npos);
    EXPECT_NE(log.messages().find("session 4: a browser may not send clipboard\n"), std::string::npos);
    EXPECT_NE(log.messages().find("send " + std::string(297, 'x') + "...\n"), std::string::npos);
    EXPECT_EQ(platform_->count("set_clipboard_text"), 0u);
    EXPECT_EQ(platform_->count("start_stream"), 0u);
    EXPECT_EQ(browser->texts(), (std::vector<std::string>{R"({"pong":{"_0":42}})"}));
    auto lock = host_->watchers->lock();
    EXPECT_TRUE(host_->watchers->entries[0].sound);
}

TEST_F(DispatcherTest, InControlMayActAndWatchRolesAreTold) {
    auto device = link(1);
    auto other = link(2);     // a device that is not in control
    auto sender = link(3, PeerRole::Send);
    auto watcher = link(5, PeerRole::Watch);
    put_in_control(*device);

    for (Link* l : {device.get(), other.get(), sender.get(), watcher.get()}) {
        send(*l, R"({"clipboard":{"_0":"x"}})");              // may act
        send(*l, R"({"performMenu":{"id":7}})");              // in control
        send(*l, R"({"requestKeyframe":{}})");                // in control or watch
        send(*l, R"({"requestKeyframe":{}})");                // the watcher's within the second: ignored
        send(*l, R"({"setAudio":{"_0":false}})");             // in control
    }
    EXPECT_EQ(platform_->count("set_clipboard_text"), 2u);  // device and sender
    EXPECT_EQ(platform_->count("perform_menu"), 1u);
    EXPECT_EQ(platform_->count("request_keyframe"), 3u);    // the device twice, the watcher once
    EXPECT_EQ(platform_->count("set_stream_audio"), 1u);

    // Messages that do not read, and unknown or host-to-device types.
    test::LogCapture log;
    send(*device, R"({"performMenu":{"id":1.5}})");
    send(*device, R"({"performMenu":null})");
    send(*device, R"({"Ping":{}})");
    send(*device, R"({"streamInfo":{}})");  // a host-to-device message that does not read
    send(*device, R"({"pong":{"_0":3}})");
    // The device's texts are cut, its features as one.
    std::string features = R"("f")", shown = R"(["f")";
    for (int i = 0; i < 60; ++i) features += R"(,"feature")", shown += R"(, "feature")";
    send(*other, R"({"deviceInfo":{"version":")" + std::string(400, '2') + R"(","features":[)" + features + "]}}");
    EXPECT_EQ(platform_->count("perform_menu"), 1u);
    EXPECT_EQ(log.messages(), "session 1: Ping is not handled on Windows\nsession 1: unexpected pong\n"
                              "session 2: device app " + std::string(297, '2') + "..., features " + shown.substr(0, 297) +
                                  "...\n");
    EXPECT_EQ(handle_control_body(*host_, device->record, to_bytes(R"({"bye":{}})")), ControlOutcome::Goodbye);
}

TEST_F(DispatcherTest, LevelsAreHeldToTheRangeAndLoggedAsReceived) {
    test::LogCapture log;
    auto device = link(1);
    put_in_control(*device);
    send(*device, R"({"setLevel":{"kind":"volume","value":1.7}})");
    send(*device, R"({"setLevel":{"kind":"brightness","value":-0.2}})");
    send(*device, R"({"setLevel":{"kind":"volume","value":0.5}})");
    send(*device, R"({"setLevel":{"kind":"volume","value":1e400}})");  // not a readable float
    send(*device, R"({"setLevel":{"kind":")" + std::string(400, 'k') + R"(","value":0.5}})");
    auto calls = platform_->calls();
    std::vector<std::string> levels;
    for (const auto& call : calls) {
        if (call.operation == "set_level") levels.push_back(call.detail);
    }
    ASSERT_EQ(levels.size(), 4u);
    EXPECT_NE(levels[0].find("volume"), std::string::npos);
    EXPECT_EQ(log.messages(), "session 1: volume to 1.70\nsession 1: brightness to -0.20\nsession 1: volume to 0.50\n"
                              "session 1: " + std::string(297, 'k') + "... to 0.50\n");
    auto detail_has = [&](std::size_t i, const std::string& text) { return levels[i].find(text) != std::string::npos; };
    EXPECT_TRUE(detail_has(0, "1")) << levels[0];
    EXPECT_TRUE(detail_has(1, "0")) << levels[1];
}

TEST_F(DispatcherTest, ClipboardPicturesUpToTheLimitAndLinksThatOpened) {
    test::LogCapture log;
    auto device = link(1);
    put_in_control(*device);
    // Handed over as read messages: parsing 40 MB of JSON adds nothing here.
    handle_control_message(*host_, device->record, control::ClipboardImage{Bytes(29'999'999)});
    handle_control_message(*host_, device->record, control::ClipboardImage{Bytes(30'000'000)});
    EXPECT_EQ(platform_->count("set_clipboard_picture"), 1u);
    EXPECT_EQ(log.messages(), "session 1: a picture for the clipboard (29999999 bytes)\n");

    send(*device, R"({"openURL":{"_0":"file:///c:/windows"}})");
    send(*device, R"({"openURL":{"_0":"https://example.com"}})");
    auto answers = platform_->answers();
    answers.open_url = false;
    platform_->set_answers(answers);
    send(*device, R"({"openURL":{"_0":"https://example.org"}})");
    EXPECT_EQ(platform_->count("open_url"), 2u);
    EXPECT_NE(log.messages().find("session 1: not opening a link of that kind\n"
                                  "session 1: opened a link\n"
                                  "session 1: opened a link (Windows refused)\n"),
              std::string::npos);
    // Only the link that opened is reported to the device.
    EXPECT_EQ(device->texts(), (std::vector<std::string>{R"({"notice":{"_0":"Opened on Desk PC"}})"}));
}

TEST_F(DispatcherTest, WakeRequestsAreGuardedAndAnswered) {
    test::LogCapture log;
    auto device = link(1);
    put_in_control(*device);
    send(*device, R"({"wakeOther":{"macAddresses":["zz",5],"addresses":["10.0.0.9"]}})");
    EXPECT_EQ(device->next(), R"({"wakeOtherDone":{"ok":false}})");
    EXPECT_EQ(platform_->count("send_wake_packets"), 0u);

    // The guard runs from the request honoured: the ones it ignores do not start it over.
    const auto guard_back = [&](auto by) {  // under the lock
        host_->lock_main(), host_->main().last_wakes.at(device->record.device_key) -= by;
    };
    guard_back(3s);
    send(*device, R"({"wakeOther":{"macAddresses":["00:11:22:33:44:55"],"addresses":[]}})");
    EXPECT_NE(log.messages().find("session 1: wakeOther again within 5 s: ignored\n"), std::string::npos);

    // The guard is the key's: another link of the same device is held to it.
    auto same_key = link(3, PeerRole::Send);
    same_key->record.device_key = device->record.device_key;
    send(*same_key, R"({"wakeOther":{"macAddresses":["00:11:22:33:44:55"],"addresses":[]}})");
    EXPECT_NE(log.messages().find("session 3: wakeOther again within 5 s: ignored\n"), std::string::npos);
    guard_back(2s);
    send(*device, R"({"wakeOther":{"macAddresses":["00:11:22:33:44:55","00-11-22-33-44-55"],"addresses":["192.168.1.2","8.8.8.8"]}})");
    EXPECT_EQ(device->next(), R"({"wakeOtherDone":{"ok":true}})");
    EXPECT_EQ(platform_->count("send_wake_packets"), 1u);
    EXPECT_NE(log.messages().find("session 1: wake another computer: 0 network card(s), 1 address(es) (1 and 1 given)\n"),
              std::string::npos);
    EXPECT_NE(log.messages().find("session 1: wake another computer: 1 network card(s), 1 address(es) (2 and 2 given)\n"),
              std::string::npos);

    // A device not in control may not wake anything.
    auto other = link(2);
    send(*other, R"({"wakeOther":{"macAddresses":["00:11:22:33:44:55"]}})");
    EXPECT_FALSE(other->next(100ms));
}

TEST_F(DispatcherTest, TheKeyboardWatchRunsOncePerSessionAndAgainForTheNext) {
    test::LogCapture log;
    auto answers = platform_->answers();
    answers.layout = us_keyboard_layout();
    platform_->set_answers(answers);

    auto first = link(1);
    put_in_control(*first);
    send(*first, R"({"deviceInfo":{"version":"2.0","features":["binaryFiles"]}})");
    {
        auto lock = host_->lock_main();
        EXPECT_EQ(host_->main().capabilities, std::vector<std::string>{"binaryFiles"});
        EXPECT_FALSE(host_->main().keyboard_nudge);
    }
    send(*first, R"({"deviceInfo":{"version":"2.0","features":["keyboardLayout"]}})");
    EXPECT_EQ(first->next(), R"({"keyboardLayout":{"keys":{"0":["a","A"]},"language":"en-US","name":"US"}})");
    send(*first, R"({"deviceInfo":{"version":"2.0","features":["keyboardLayout"]}})");
    send(*first, R"({"nextInputSource":{}})");
    EXPECT_EQ(platform_->count("next_input_language"), 1u);
    EXPECT_FALSE(first->next(300ms));  // same layout: nothing new, and only one watch
    EXPECT_EQ(log.messages().find("keyboard US (en-US), 1 keys"), log.messages().rfind("keyboard US (en-US), 1 keys"));

    // The session is replaced: the old watch ends and the new session gets its own.
    auto second = link(2);
    put_in_control(*second);
    send(*second, R"({"deviceInfo":{"version":"2.0","features":["keyboardLayout"]}})");
    EXPECT_EQ(second->next(), R"({"keyboardLayout":{"keys":{"0":["a","A"]},"language":"en-US","name":"US"}})");
    EXPECT_NE(log.messages().find("session 2: device app 2.0, features [\"keyboardLayout\"]"), std::string::npos);
    clear_current_session();
}

TEST_F(DispatcherTest, TheOverlayAndWatchersGetTheStrokeAsTheDrawingKeepsIt) {
    auto device = link(1);
    auto watcher = link(5, PeerRole::Watch);
    add_stream_watcher(*host_->watchers, watcher->record.writer, 5, "Tablet", false);
    put_in_control(*device);
    send(*device, R"({"annotate":{"_0":{"phase":"begin","id":3,"points":[0.5,-2,7,0.25,0.125]}}})");
    std::string many = "0.5";
    for (std::size_t i = 1; i < kMaxInkStrokeNumbers; ++i) many += ",0.5";
    send(*device, R"({"annotate":{"_0":{"phase":"move","id":3,"points":[)" + many + "]}}}");
    std::vector<std::string> inked;
    for (const auto& call : platform_->calls()) {
        if (call.operation == "send_ink_event") inked.push_back(call.detail);
    }
    std::string kept = "Pad 1:";
    for (std::size_t i = 4; i < kMaxInkStrokeNumbers; ++i) kept += " 0.5";
    ASSERT_EQ(inked.size(), 2u);
    EXPECT_EQ(inked[0], "Pad 1: 0.5 0 1 0.25");
    EXPECT_TRUE(inked[1] == kept) << "a move of " << inked[1].size() << " characters";
    const auto texts = watcher->texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], R"({"annotate":{"_0":{"author":"Pad 1","color":16726832,"id":3,"kind":"pen","phase":"begin","points":[0.5,0.0,1.0,0.25],"width":0.004}}})");
    EXPECT_EQ(std::count(texts[1].begin(), texts[1].end(), ','), static_cast<std::ptrdiff_t>(kMaxInkStrokeNumbers - 4 + 5));
}

TEST_F(DispatcherTest, OfferedFilesAndScreenshotsGoToTheSessionInControl) {
    auto device = link(1);
    put_in_control(*device);
    test::write_file(temp_ / "notes.txt", "twelve bytes");
    {
        std::lock_guard<std::mutex> lock(host_->transfer_mutex);
        ASSERT_TRUE(register_file_offer(host_->transfers, temp_ / "notes.txt"));
    }
    auto other = link(2);
    send(*other, R"({"fileRequest":{"id":1}})");
    send(*device, R"({"fileRequest":{"id":9}})");
    EXPECT_FALSE(device->next(100ms));
    send(*device, R"({"fileRequest":{"id":1}})");
    EXPECT_EQ(device->next(), R"({"fileStart":{"id":1,"name":"notes.txt","purpose":"keep","size":12}})");
    EXPECT_EQ(device->next(), R"({"fileChunk":{"data":"dHdlbHZlIGJ5dGVz","id":1}})");
    EXPECT_EQ(device->next(), R"({"fileEnd":{"id":1,"ok":true}})");

    // No picture: a notice. A picture: a file named after the moment it was
    // taken, which a screenshot still being sent can make later than the request.
    send(*device, R"({"requestScreenshot":{}})");
    EXPECT_EQ(device->next(), R"({"notice":{"_0":"Could not take the screenshot."}})");
    auto answers = platform_->answers();
    answers.screenshot = to_bytes("PNG!");
    answers.while_taking_screenshot = [this] { unix_now_ += 65; };
    platform_->set_answers(answers);
    send(*device, R"({"requestScreenshot":{}})");
    EXPECT_EQ(device->next(),
              R"({"fileStart":{"id":3,"name":"PC 2023-11-14T221425.png","purpose":"screenshot","size":4}})");
    EXPECT_EQ(device->next(), R"({"fileChunk":{"data":"UE5HIQ==","id":3}})");
    EXPECT_EQ(device->next(), R"({"fileEnd":{"id":3,"ok":true}})");
    // Two more in the same second: the names repeat with " (2)" and " (3)".
    answers.while_taking_screenshot = nullptr;
    platform_->set_answers(answers);
    for (const char* name : {"PC 2023-11-14T221425 (2).png", "PC 2023-11-14T221425 (3).png"}) {
        // The sender before has queued its end, but may not have given its turn back yet.
        ASSERT_TRUE(wait_until([&] { return device->record.screenshot_senders->senders.load() == 0; }));
        send(*device, R"({"requestScreenshot":{}})");
        const std::string start = device->next().value_or("");
        EXPECT_NE(start.find(std::string(R"("name":")") + name + "\""), std::string::npos) << start;
        device->next();
        device->next();
    }
    send(*other, R"({"requestScreenshot":{}})");
    EXPECT_FALSE(other->next(100ms));
}

TEST_F(DispatcherTest, IncomingFilesByRoleAndTheirOutcomes) {
    test::LogCapture log;
    auto device = link(1);
    put_in_control(*device);
    auto sender = link(3, PeerRole::Send);
    auto other = link(2);
    const auto downloads = temp_.path() / "Downloads";

    send(*other, R"({"fileStart":{"id":1,"name":"x.txt","size":1,"purpose":"keep"}})");
    EXPECT_FALSE(std::filesystem::exists(downloads / "x.txt"));

    // A send link's own table, while another device is in control.
    send(*sender, R"({"fileStart":{"id":1,"name":"..\\..\\evil.exe","size":3,"purpose":"keep"}})");
    handle_file_piece(*host_, sender->record, 1, to_bytes("abc"));
    send(*sender, R"({"fileEnd":{"id":1,"ok":true}})");
    EXPECT_EQ(test::read_file(downloads / "evil.exe"), "abc");
    EXPECT_EQ(sender->texts(), (std::vector<std::string>{R"({"notice":{"_0":"Saved to Downloads: evil.exe"}})"}));
    EXPECT_EQ(platform_->count("reveal_file"), 1u);

    // The host's table for the session in control; a cut-short file and a refused one.
    send(*device, R"({"fileStart":{"id":5,"name":"CON","size":4,"purpose":"keep"}})");
    send(*device, R"({"fileChunk":{"id":5,"data":"YWI="}})");
    send(*device, R"({"fileEnd":{"id":5,"ok":true}})");
    EXPECT_FALSE(std::filesystem::exists(downloads / "_CON"));
    send(*device, R"({"fileStart":{"id":6,"name":"big","size":2147483649,"purpose":"keep"}})");
    send(*device, R"({"fileEnd":{"id":6,"ok":true}})");
    EXPECT_EQ(device->texts(), (std::vector<std::string>{R"({"notice":{"_0":"The file did not arrive whole. Try again."}})",
                                                          R"({"notice":{"_0":"The file did not arrive whole. Try again."}})"}));
    EXPECT_NE(log.messages().find("session 3: saved "), std::string::npos);

    // The send links of one key go on with one numbering of names, and share one count of open files.
    auto second = link(4, PeerRole::Send);
    second->record.device_key = sender->record.device_key;
    const auto start = [](std::size_t id, const std::string& name = "") {
        return R"({"fileStart":{"id":)" + std::to_string(id) + R"(,"name":")" +
               (name.empty() ? "f" + std::to_string(id) : name) + R"(","size":0,"purpose":"keep"}})";
    };
    for (Link* from : {sender.get(), sender.get(), second.get()}) {
        if (from == second.get()) std::filesystem::remove(downloads / "photo.jpg");  // a freed name is not taken again
        send(*from, start(9, "photo.jpg"));
        send(*from, R"({"fileEnd":{"id":9,"ok":true}})");
    }
    EXPECT_TRUE(std::filesystem::exists(downloads / "photo 3.jpg"));
    for (std::size_t id = 10; id < 10 + kMaxOpenIncomingFiles; ++id) send(*sender, start(id));
    send(*second, start(1));
    send(*second, start(3));  // a refused file leaves the key's count as it was
    EXPECT_FALSE(std::filesystem::exists(downloads / "f1"));
    EXPECT_FALSE(std::filesystem::exists(downloads / "f3"));
    drop_link_files(*sender->record.incoming_files);
    send(*second, start(2));
    EXPECT_TRUE(std::filesystem::exists(downloads / "f2"));
}

TEST_F(DispatcherTest, AnnotationsReachTheScreenTheStrokesAndEveryWatcher) {
    auto device = link(1);
    put_in_control(*device);
    auto watcher = link(5, PeerRole::Watch);
    {
        auto lock = host_->watchers->lock();
        host_->watchers->entries.push_back({watcher->record.writer, "TV", 5, false, false, false});
    }
    send(*device, R"({"annotate":{"_0":{"id":3,"phase":"begin","points":[0.1,0.2],"author":"spoofed"}}})");
    send(*device, R"({"annotate":{"_0":{"id":3,"phase":"wiggle"}}})");  // does not read
    auto other = link(2);
    send(*other, R"({"annotate":{"_0":{"id":4,"phase":"begin"}}})");
    EXPECT_EQ(platform_->count("send_ink_event"), 1u);
    {
        std::lock_guard<std::mutex> lock(host_->ink_mutex);
        ASSERT_EQ(host_->ink.strokes.size(), 1u);
        EXPECT_EQ(host_->ink.strokes[0].author, "Pad 1");
    }
    EXPECT_EQ(watcher->texts(),
              (std::vector<std::string>{R"({"annotate":{"_0":{"author":"Pad 1","color":16726832,"id":3,"kind":"pen","phase":"begin","points":[0.1,0.2],"width":0.004}}})"}));
    // A watcher that joins later is sent the drawing.
    std::lock_guard<std::mutex> lock(host_->ink_mutex);
    EXPECT_EQ(strokes_to_annotate_items(host_->ink).size(), 1u);
}

// Grants every watch link it is asked for.
struct GrantingReach : ReachServices {
    int opened = 0;
    std::optional<std::string> open_watch_link(HostState&) override {
        return "https://watch.test/#" + std::to_string(++opened);
    }
};

TEST_F(DispatcherTest, WatchLinksNeedRelayUseAndCameraAnswers) {
    auto reach = std::make_shared<GrantingReach>();
    HostStateConfig config = test_host_config(platform_, temp_.path(), 9);
    config.reach = reach;
    host_ = HostState::create(std::move(config));
    auto device = link(1);
    put_in_control(*device);
    send(*device, R"({"requestWatchLink":{}})");
    EXPECT_EQ(device->texts(), (std::vector<std::string>{
                                   R"({"notice":{"_0":"Watch links need the relay, which is turned off on this PC."}})"}));
    EXPECT_EQ(reach->opened, 0);
    host_->relay_allowed = true;
    send(*device, R"({"requestWatchLink":{}})");
    EXPECT_EQ(device->texts().at(0), R"({"watchLink":{"minutes":30,"url":"https://watch.test/#1"}})");
    send(*device, R"({"camera":{"_0":true}})");
    EXPECT_EQ(device->texts(), (std::vector<std::string>{R"({"cameraState":{"on":false}})"}));
    auto other = link(2);
    send(*other, R"({"camera":{"_0":true}})");
    EXPECT_EQ(platform_->count("set_device_camera"), 1u);
}

}  // namespace
}  // namespace vorlix

namespace vorlix {
namespace {

TEST_F(DispatcherTest, ConfigureStartsTheDeviceStreamAndWatchersOnlyGetAMirror) {
    test::LogCapture log;
    auto device = link(1);
    auto watcher = link(2, PeerRole::Watch);
    add_stream_watcher(*host_->watchers, watcher->record.writer, 2, "Viewer", false);

    // A watcher asks first: no device session, so a mirror without sound runs for it.
    send(*watcher, R"({"configure":{"_0":{"pointsWide":800,"pointsHigh":600,"fps":30,"audio":true,"takeOver":true,"displayID":3,"second":true},"generation":4}})");
    auto streams = platform_->started_streams();
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].stream_number, 0u);
    EXPECT_EQ(streams[0].config.source, "mirror");
    EXPECT_FALSE(streams[0].config.audio);
    EXPECT_FALSE(streams[0].config.take_over);
    EXPECT_FALSE(streams[0].config.display_id);
    EXPECT_FALSE(streams[0].config.second);
    EXPECT_EQ(streams[0].config.fps, 30);
    ASSERT_TRUE(streams[0].output);
    EXPECT_EQ(streams[0].output->kind, StreamOutput::Kind::watchers_only);
    EXPECT_FALSE(streams[0].output->link.valid());
    // Asking again while that picture runs starts nothing more.
    send(*watcher, R"({"configure":{"_0":{"fps":20},"generation":5}})");
    EXPECT_EQ(platform_->started_streams().size(), 1u);

    // The device in control streams to its own link, with the host's ledger.
    put_in_control(*device);
    send(*device, R"({"configure":{"_0":{"pointsWide":1280,"pointsHigh":800,"fps":60,"codec":"h264","source":"fitted","audio":true,"maxBitrate":8000000},"generation":7}})");
    send(*device, R"({"configure":{"_0":{"fps":30},"generation":8}})");
    streams = platform_->started_streams();
    ASSERT_EQ(streams.size(), 3u);
    EXPECT_EQ(streams[1].stream_number, 7u);
    EXPECT_TRUE(streams[1].config.audio);
    EXPECT_EQ(streams[1].output->kind, StreamOutput::Kind::device_session);
    EXPECT_EQ(streams[1].output->session_number, 1u);
    EXPECT_EQ(streams[1].output->ledger, host_->ledger);
    EXPECT_EQ(streams[1].output->watchers, host_->watchers);
    EXPECT_TRUE(streams[1].output->picture_stopped);
    {
        auto lock = host_->lock_main();
        EXPECT_FALSE(host_->main().watchers_only_stream);
    }
    // While a device session runs, a watcher's configure only stores its wish.
    send(*watcher, R"({"configure":{"_0":{"fps":15},"generation":9}})");
    EXPECT_EQ(platform_->started_streams().size(), 3u);
    // Not in control: ignored.
    auto other = link(3);
    send(*other, R"({"configure":{"_0":{"fps":15},"generation":10}})");
    EXPECT_EQ(platform_->started_streams().size(), 3u);
    // The generation is signed and numbers the stream as it is.
    send(*device, R"({"configure":{"_0":{"fps":30},"generation":-2}})");
    ASSERT_EQ(platform_->started_streams().size(), 4u);
    EXPECT_EQ(platform_->started_streams().back().stream_number, -2);

    EXPECT_EQ(log.messages(),
              "session 2: watcher asks for 800x600 pt, 30 fps\n"
              "picture for watchers only: 30 fps\n"
              "session 2: watcher asks for 0x0 pt, 20 fps\n"
              "session 1: configure #7: 1280x800 pt, 60 fps, h264 fitted, audio true, max Some(8000000)\n"
              "session 1: configure #8: 0x0 pt, 30 fps, hevc fitted, audio false, max None\n"
              "session 2: watcher asks for 0x0 pt, 15 fps\n"
              "session 1: configure #-2: 0x0 pt, 30 fps, hevc fitted, audio false, max None\n");
    send(*device, R"({"configure":{"_0":{"codec":")" + std::string(400, 'c') + R"("},"generation":3}})");
    EXPECT_NE(log.messages().find(std::string(297, 'c') + "... fitted, audio"), std::string::npos);
    send(*device, R"({"configure":{"_0":{"source":")" + std::string(400, 's') + R"("},"generation":4}})");
    EXPECT_NE(log.messages().find(" " + std::string(297, 's') + "..., audio"), std::string::npos);
}

TEST_F(DispatcherTest, ReceivedAcknowledgesInTheLedgerOnlyForTheSessionInControl) {
    auto device = link(1);
    auto other = link(2);
    put_in_control(*device);
    send(*other, R"({"received":{"captureMicros":0}})");
    EXPECT_FALSE(host_->ledger->acknowledgements_seen());
    send(*device, R"({"received":{"captureMicros":0}})");
    EXPECT_TRUE(host_->ledger->acknowledgements_seen());
}

}  // namespace
}  // namespace vorlix
