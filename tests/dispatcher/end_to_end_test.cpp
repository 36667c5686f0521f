// Files both ways over a loopback link: a signed-in device peer against a
// listening host with a fake platform and a temporary Downloads folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>

#include <thread>

#include "files/file_send.h"
#include "files/file_transfers.h"
#include "host/host_state.h"
#include "host/listener.h"
#include "host/log.h"
#include "host/session.h"
#include "json/json.h"
#include "storage/log_capture.h"
#include "storage/temp_folder.h"
#include "support/text_count.h"
#include "support/device_peer.h"
#include "support/fake_platform.h"
#include "support/test_host.h"
#include "support/wait.h"

namespace vorlix {
namespace {

using namespace std::chrono_literals;

class FilesEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        platform_ = std::make_shared<FakePlatform>();
        FakePlatform::Answers answers;
        answers.downloads = temp_.path() / "Downloads";
        platform_->set_answers(answers);
        device_ = DeviceIdentity::make("Pad");
        host_ = HostState::create(test_host_config(platform_, temp_.path(), 0x21, {trusted(device_)}));
        host_->timeouts.writer_wait = 2s;
        auto started = start_listener(host_, 0, false);
        ASSERT_TRUE(started);
        listener_ = *started;
        auto stream = SocketStream::connect(IpAddress::v4(127, 0, 0, 1), host_->snapshot_host_status().port);
        ASSERT_TRUE(stream);
        peer_ = std::make_unique<DevicePeer>(std::move(*stream), device_);
        ASSERT_TRUE(peer_->sign_in());
        ASSERT_TRUE(send(R"({"deviceInfo":{"version":"3","features":["files","binaryFiles"]}})"));
        ASSERT_TRUE(until_pong(1).has_value());
    }

    void TearDown() override {
        peer_.reset();
        if (listener_) listener_->stop();
        host_->say_goodbye_and_close();
        auto deadline = std::chrono::steady_clock::now() + 10s;
        while (running_session_threads() != 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(2ms);
        }
        host_.reset();
    }

    bool send(const std::string& json) { return peer_->send_control_text(json).ok(); }

    // The control texts that arrive before the pong of a ping.
    std::optional<std::vector<std::string>> until_pong(std::uint64_t ping) {
        if (!send("{\"ping\":{\"_0\":" + std::to_string(ping) + "}}")) return std::nullopt;
        const std::string pong = "{\"pong\":{\"_0\":" + std::to_string(ping) + "}}";
        std::vector<std::string> texts;
        for (int i = 0; i < 64; ++i) {
            auto frame = peer_->receive_frame_of(FrameType::Control);
            if (!frame) return std::nullopt;
            std::string text = to_string(frame->body);
            if (text == pong) return texts;
            texts.push_back(std::move(text));
        }
        return std::nullopt;
    }

    void send_pieces(std::uint32_t id, const std::string& content) {
        for (std::size_t at = 0; at < content.size(); at += kFilePieceSize) {
            Bytes body;
            append_u32_be(body, id);
            append(body, std::string_view(content).substr(at, kFilePieceSize));
            ASSERT_TRUE(peer_->send_frame(FrameType::FileData, body));
        }
    }

    test::TempFolder temp_;
    std::shared_ptr<FakePlatform> platform_;
    DeviceIdentity device_;
    std::shared_ptr<HostState> host_;
    std::shared_ptr<ListenerThreads> listener_;
    std::unique_ptr<DevicePeer> peer_;
};

std::string pattern(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>((i * 2654435761u) >> 13);
    return text;
}

TEST_F(FilesEndToEnd, FilesFromTheDeviceLandWholeOrNotAtAll) {
    const auto downloads = temp_.path() / "Downloads";
    const std::string content = pattern(5'000'000);
    ASSERT_TRUE(send(R"({"fileStart":{"id":11,"name":"clip.mov","size":5000000,"purpose":"keep"}})"));
    send_pieces(11, content);
    ASSERT_TRUE(send(R"({"fileEnd":{"id":11,"ok":true}})"));
    auto texts = until_pong(2);
    ASSERT_TRUE(texts);
    EXPECT_EQ(*texts, std::vector<std::string>{R"({"notice":{"_0":"Saved to Downloads: clip.mov"}})"});
    EXPECT_TRUE(test::read_file(downloads / "clip.mov") == content);
    EXPECT_EQ(platform_->count("reveal_file"), 1u);

    // The same name again, then one cut short.
    ASSERT_TRUE(send(R"({"fileStart":{"id":12,"name":"clip.mov","size":3,"purpose":"keep"}})"));
    send_pieces(12, "abc");
    ASSERT_TRUE(send(R"({"fileEnd":{"id":12,"ok":true}})"));
    ASSERT_TRUE(send(R"({"fileStart":{"id":13,"name":"..\\..\\evil.exe","size":10,"purpose":"keep"}})"));
    send_pieces(13, "short");
    ASSERT_TRUE(send(R"({"fileEnd":{"id":13,"ok":true}})"));
    texts = until_pong(3);
    ASSERT_TRUE(texts);
    EXPECT_EQ(*texts, (std::vector<std::string>{R"({"notice":{"_0":"Saved to Downloads: clip 2.mov"}})",
                                                 R"({"notice":{"_0":"The file did not arrive whole. Try again."}})"}));
    EXPECT_EQ(test::read_file(downloads / "clip 2.mov"), "abc");
    EXPECT_FALSE(std::filesystem::exists(downloads / "evil.exe"));

    // A session that ends in the middle of a transfer leaves nothing behind.
    ASSERT_TRUE(send(R"({"fileStart":{"id":14,"name":"half.bin","size":10,"purpose":"keep"}})"));
    send_pieces(14, "half");
    ASSERT_TRUE(until_pong(4));
    EXPECT_TRUE(std::filesystem::exists(downloads / "half.bin"));
    peer_->close();
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::filesystem::exists(downloads / "half.bin") && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_FALSE(std::filesystem::exists(downloads / "half.bin"));
}

TEST_F(FilesEndToEnd, WhereEachFileWentIsToldPastTheDevicesOtherLines) {
    test::LogCapture log;
    for (int i = 0; i < 16; ++i) ASSERT_TRUE(send(R"({"deviceInfo":{"version":"3","features":["files"]}})"));
    const auto downloads = temp_.path() / "Downloads";
    const auto name = [](int id) { return id == 7 ? std::string("setup.exe") : "photo" + std::to_string(id) + ".jpg"; };
    // Past the budget of these lines, one count names the folder and the first and last names.
    const int files = static_cast<int>(SessionLogLimits{}.file_lines) + 20;
    for (int id = 1; id <= files; ++id) {
        ASSERT_TRUE(send(R"({"fileStart":{"id":)" + std::to_string(id) + R"(,"name":")" + name(id) +
                         R"(","size":0,"purpose":"keep"}})"));
        ASSERT_TRUE(send(R"({"fileEnd":{"id":)" + std::to_string(id) + R"(,"ok":true}})"));
        if (id % 20 == 0) ASSERT_TRUE(until_pong(static_cast<std::uint64_t>(id)));
    }
    for (int id = 1; id <= 20; ++id) {
        EXPECT_NE(log.messages().find("session 1: saved " + full_path_text(downloads / name(id)) + "\n"),
                  std::string::npos) << id;
    }
    EXPECT_EQ(testing::occurrences(log.messages(), "session 1: saved "), files - 20);
    ASSERT_TRUE(send(R"({"bye":{}})"));
    ASSERT_TRUE(wait_until([&] { return log.messages().find("session 1: closed") != std::string::npos; }));
    const std::string text = log.messages();
    const auto counted = text.find("device Pad: files counted since ");
    EXPECT_NE(text.find("saved (20) in " + full_path_text(downloads) + ", first photo" + std::to_string(files - 19) +
                            ".jpg, last photo" + std::to_string(files) + ".jpg\n",
                        counted),
              std::string::npos)
        << text.substr(counted == std::string::npos ? 0 : counted);
    EXPECT_LT(counted, text.find("session 1: closed"));
}

TEST_F(FilesEndToEnd, AnEndingSessionLeavesTheSameDevicesNewSessionAlone) {
    const auto downloads = temp_.path() / "Downloads";
    // The old session's end is held at its first step until the new session
    // has a file under way (or 2 s passed).
    // The hook owns what it uses: it stays in the platform after this body,
    // and the new session's end at tear-down runs it too.
    const auto held = std::make_shared<std::atomic<bool>>(false);
    FakePlatform::Answers answers = platform_->answers();
    answers.on_call = [held, downloads](const std::string& operation) {
        if (operation != "stop_stream" || held->exchange(true)) return;
        wait_until([&] { return std::filesystem::exists(downloads / "next.bin"); }, 2s);
    };
    platform_->set_answers(answers);
    ASSERT_TRUE(send(R"({"bye":{}})"));
    ASSERT_TRUE(wait_until([&] { return held->load(); }));

    // The same device again, on a new link, sends a file in two halves.
    auto stream = SocketStream::connect(IpAddress::v4(127, 0, 0, 1), host_->snapshot_host_status().port);
    ASSERT_TRUE(stream);
    peer_ = std::make_unique<DevicePeer>(std::move(*stream), device_);
    ASSERT_TRUE(peer_->sign_in());
    ASSERT_TRUE(send(R"({"deviceInfo":{"version":"3","features":["files","binaryFiles"]}})"));
    ASSERT_TRUE(send(R"({"fileStart":{"id":21,"name":"next.bin","size":6,"purpose":"keep"}})"));
    send_pieces(21, "abc");
    ASSERT_TRUE(until_pong(5));
    platform_->clear_calls();
    send_pieces(21, "def");
    ASSERT_TRUE(send(R"({"fileEnd":{"id":21,"ok":true}})"));
    auto texts = until_pong(6);
    ASSERT_TRUE(texts);
    EXPECT_EQ(*texts, std::vector<std::string>{R"({"notice":{"_0":"Saved to Downloads: next.bin"}})"});
    EXPECT_EQ(test::read_file(downloads / "next.bin"), "abcdef");
    // Nothing of the new session was undone.
    for (const char* undone : {"reset_input", "set_session_active", "clear_ink_overlay"}) {
        EXPECT_EQ(platform_->count(undone), 0u) << undone;
    }
}

TEST_F(FilesEndToEnd, AnOfferedFileReachesTheDeviceAsBinaryPieces) {
    const std::string content = pattern(1'000'000);
    test::write_file(temp_ / "report.pdf", content);
    // The copy on the PC reaches the host as a platform event and becomes an offer.
    platform_->deliver(PlatformEvent{temp_ / "report.pdf"});
    auto before = until_pong(2);
    ASSERT_TRUE(before);
    ASSERT_EQ(before->size(), 1u);
    auto parsed = parse_json(before->front(), DuplicateKeys::refuse);
    ASSERT_TRUE(parsed.ok());
    const std::int64_t id = (*parsed)["fileOffer"]["id"].get<std::int64_t>();
    EXPECT_EQ((*parsed)["fileOffer"]["size"], 1'000'000);

    ASSERT_TRUE(send("{\"fileRequest\":{\"id\":" + std::to_string(id) + "}}"));
    std::string received;
    std::vector<std::string> controls;
    for (int i = 0; i < 64; ++i) {
        auto frame = peer_->receive_frame();
        ASSERT_TRUE(frame);
        if (frame->type == FrameType::FileData) {
            auto piece = read_file_piece(frame->body);
            ASSERT_TRUE(piece);
            EXPECT_EQ(piece->id, static_cast<std::uint32_t>(id));
            received += to_string(piece->bytes);
            continue;
        }
        if (frame->type != FrameType::Control) continue;
        controls.push_back(to_string(frame->body));
        if (controls.back().starts_with("{\"fileEnd\"")) break;
    }
    ASSERT_EQ(controls.size(), 2u);
    EXPECT_EQ(controls[0], "{\"fileStart\":{\"id\":" + std::to_string(id) +
                               ",\"name\":\"report.pdf\",\"purpose\":\"keep\",\"size\":1000000}}");
    EXPECT_EQ(controls[1], "{\"fileEnd\":{\"id\":" + std::to_string(id) + ",\"ok\":true}}");
    EXPECT_TRUE(received == content);
}

// The keyboard watch follows real sign-ins: each device session in control
// gets its own, and the next sign-in of the same device starts a new one.
TEST_F(FilesEndToEnd, EachSignedInSessionGetsItsOwnKeyboardWatch) {
    FakePlatform::Answers answers = platform_->answers();
    answers.layout = us_keyboard_layout();
    platform_->set_answers(answers);
    const std::string layout = R"({"keyboardLayout":{"keys":{"0":["a","A"]},"language":"en-US","name":"US"}})";
    auto layouts_until_pong = [&](std::uint64_t ping) {
        auto texts = until_pong(ping);
        EXPECT_TRUE(texts);
        return texts ? std::count(texts->begin(), texts->end(), layout) : 0;
    };

    ASSERT_TRUE(send(R"({"deviceInfo":{"version":"3","features":["keyboardLayout"]}})"));
    auto first = peer_->receive_frame_of(FrameType::Control);
    ASSERT_TRUE(first);
    EXPECT_EQ(to_string(first->body), layout);
    // The same layout is not sent twice, and a second deviceInfo starts no second watch.
    ASSERT_TRUE(send(R"({"deviceInfo":{"version":"3","features":["keyboardLayout"]}})"));
    EXPECT_EQ(layouts_until_pong(2), 0);

    // Signing in again on a new link replaces the session and its watch.
    auto stream = SocketStream::connect(IpAddress::v4(127, 0, 0, 1), host_->snapshot_host_status().port);
    ASSERT_TRUE(stream);
    auto again = std::make_unique<DevicePeer>(std::move(*stream), device_);
    ASSERT_TRUE(again->sign_in());
    peer_.swap(again);
    EXPECT_EQ(layouts_until_pong(3), 0);  // the sign-in messages
    ASSERT_TRUE(send(R"({"deviceInfo":{"version":"3","features":["keyboardLayout"]}})"));
    auto second = peer_->receive_frame_of(FrameType::Control);
    ASSERT_TRUE(second);
    EXPECT_EQ(to_string(second->body), layout);
    EXPECT_TRUE(again->wait_closed());
}

}  // namespace
}  // namespace vorlix
