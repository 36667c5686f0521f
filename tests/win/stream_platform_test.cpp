// The platform's stream operations on Windows: a stream started through
// WindowsPlatform runs the screen's capture and this PC's H.264 encoder for
// a session link. Where no H.264 encoder is installed (Wine), the stream
// tells the session that the encoder failed and keeps trying while the link
// stays up; stop_stream and the platform's release end the thread. The same
// holds for a device that configures its picture over a signed-in session.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "../streamloop/session_rig.h"
#include "control/records.h"
#include "h264/encoder.h"
#include "host/log.h"
#include "json/json.h"
#include "recovery/recovery.h"
#include "stream/stream_output.h"
#include "support/fake_encoder.h"
#include "support/loopback_link.h"
#include "win/platform.h"
#include "win/stream/windows_stream.h"
#include "wire/sealed.h"
#include "support/wait.h"

namespace vorlix {
namespace {

using namespace std::chrono_literals;

class LogCapture {
public:
    LogCapture() {
        std::random_device random;
        path_ = std::filesystem::temp_directory_path() / ("vorlix-stream-log-" + std::to_string(random()) + ".log");
        open_log_file(path_);
    }
    ~LogCapture() {
        open_log_file(std::filesystem::path());
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    std::string text() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }
    std::size_t count(const std::string& part) const {
        const std::string all = text();
        std::size_t n = 0;
        for (auto at = all.find(part); at != std::string::npos; at = all.find(part, at + 1)) ++n;
        return n;
    }

private:
    std::filesystem::path path_;
};

// Whether this PC has an H.264 encoder at all (Wine has none).
bool h264_encoder_present() {
    bool present = false;
    run_with_com([&] {
        EncoderSettings settings;
        settings.width = 320;
        settings.height = 240;
        settings.bitrate = 1'000'000;
        settings.allow_hardware = false;
        present = encoder_open(settings).ok();
    });
    return present;
}

Key32 test_key() {
    Key32 key;
    key.fill(9);
    return key;
}

struct SessionLink {
    LoopbackLink link = loopback_link();
    std::optional<LinkWriter> writer;
    std::shared_ptr<StreamOutput> output = std::make_shared<StreamOutput>();
    std::mutex mutex;
    std::vector<std::uint8_t> stops;

    SessionLink() {
        writer = start_link_writer(std::move(link.host_end));
        if (!writer) return;
        writer->send(WriterItem::install_key(test_key(), 0));
        output->kind = StreamOutput::Kind::device_session;
        output->link = *writer;
        output->session_number = 1;
        output->ledger = std::make_shared<FrameLedger>();
        output->watchers = std::make_shared<WebWatcherRegistry>();
        output->picture_stopped = [this](std::uint8_t value) {
            std::lock_guard lock(mutex);
            stops.push_back(value);
        };
    }
    ~SessionLink() {
        if (writer) close_and_wait_for_writer(*writer, 5s);
    }
    std::vector<std::uint8_t> stop_values() {
        std::lock_guard lock(mutex);
        return stops;
    }
};

TEST(WinStreamPlatform, AStreamWithoutAnEncoderSaysSoAndKeepsTryingWhileTheLinkStaysUp) {
    LogCapture log;
    const bool has_encoder = h264_encoder_present();
    SessionLink session;
    ASSERT_TRUE(session.writer);
    auto platform = platform_new(DataFolder{"C:\\x", 0});
    StreamConfig config;
    config.fps = 30;
    platform->start_stream(config, 41, session.output);
    auto control = platform->current_stream();
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->running.load(), 1);
    EXPECT_EQ(control->keyframe_wanted.load(), 1);
    EXPECT_EQ(control->sound.load(), 0);

    FrameReader reader(session.link.device_end);
    SealingKey opening(test_key());
    if (has_encoder) {
        // A PC with an encoder: the picture arrives instead.
        bool video = false;
        for (int i = 0; i < 20 && !video; ++i) {
            auto frame = reader.next(5s);
            ASSERT_TRUE(frame);
            auto inner = open_frame(opening, frame->body);
            ASSERT_TRUE(inner);
            video = inner->type == FrameType::Video;
        }
        EXPECT_TRUE(video);
    } else {
        // The first failure is tried again at once, the second is told.
        ASSERT_TRUE(wait_until([&] { return !session.stop_values().empty(); }))
            << "no picture-stopped report; log:\n" << log.text();
        EXPECT_EQ(session.stop_values().front(), reason_code(PictureStopReason::encoderFailed));
        EXPECT_TRUE(log.count("stream #41: picture stopped (encoderFailed); trying again") == 1) << log.text();
        const std::size_t attempts = log.count("encoder: ");
        EXPECT_TRUE(wait_until([&] { return log.count("encoder: ") > attempts; }))
            << "the stream stopped trying; log:\n" << log.text();
        EXPECT_EQ(session.stop_values().size(), 1u) << "a repeated failure is told once";

        // The link is up: a control message still reaches the device, and
        // nothing but it was written (no picture, no notice).
        EXPECT_TRUE(session.writer->running());
        queue_control_bytes(*session.writer, "{\"pong\":{\"_0\":3}}");
        auto frame = reader.next(5s);
        ASSERT_TRUE(frame);
        auto inner = open_frame(opening, frame->body);
        ASSERT_TRUE(inner);
        EXPECT_EQ(inner->type, FrameType::Control);
        EXPECT_EQ(to_string(inner->body), "{\"pong\":{\"_0\":3}}");
    }

    platform->stop_stream();
    EXPECT_EQ(control->running.load(), 0);
    EXPECT_TRUE(wait_until([&] { return log.count("stream #41 ended") == 1; })) << log.text();
    EXPECT_TRUE(session.writer->running()) << "stopping the stream leaves the link up";
}

TEST(WinStreamPlatform, StreamsShareThePointerSettingAndEndWithThePlatform) {
    LogCapture log;
    SessionLink session;
    ASSERT_TRUE(session.writer);
    auto platform = platform_new(DataFolder{"C:\\x", 0});
    platform->set_pointer_on_device(1);
    StreamConfig config;
    config.audio = true;
    platform->start_stream(config, 51, session.output);
    auto first = platform->current_stream();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->sound.load(), 1);
    EXPECT_EQ(first->pointer_on_device->load(), 1u);
    // A start while the first still waits to run would only replace its settings.
    ASSERT_TRUE(wait_until([&] { return log.count("stream #51: ") > 0; })) << log.text();

    platform->start_stream(StreamConfig{}, 52, session.output);
    auto second = platform->current_stream();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(first->running.load(), 0) << "a new stream stops the one before";
    EXPECT_EQ(second->pointer_on_device, first->pointer_on_device);
    platform->set_pointer_on_device(0);
    EXPECT_EQ(second->pointer_on_device->load(), 0u);
    platform->set_stream_audio(true);
    EXPECT_EQ(second->sound.load(), 1);
    EXPECT_EQ(first->sound.load(), 1);  // unchanged: only the current stream is steered
    platform->request_keyframe();
    EXPECT_EQ(second->keyframe_wanted.load(), 1);

    // Once the second stream runs (it began by waiting for the first),
    // releasing the platform stops it and waits for its thread.
    ASSERT_TRUE(wait_until([&] { return log.count("stream #52: ") > 0; })) << log.text();
    platform.reset();
    EXPECT_EQ(second->running.load(), 0);
    EXPECT_NE(log.text().find("stream #52 ended"), std::string::npos) << log.text();
}

std::optional<Json> message_named(const std::string& text, const std::string& name) {
    auto parsed = parse_json(text, DuplicateKeys::keep_last);
    if (!parsed || !parsed->is_object() || !parsed->contains(name)) return std::nullopt;
    return (*parsed)[name];
}

TEST(WinStreamPlatform, ADeviceSessionsConfigureReachesTheScreenStream) {
    LogCapture log;
    const bool has_encoder = h264_encoder_present();
    std::shared_ptr<Platform> platform = platform_new(DataFolder{"C:\\x", 0});
    testing::SessionRig rig;
    rig.start(platform, R"(["pictureStopped"])");
    if (HasFatalFailure()) return;
    ASSERT_TRUE(rig.send(R"({"configure":{"_0":{"fps":30,"codec":"h264","audio":true},"generation":12}})"));

    std::optional<Json> stopped;
    bool video = false;
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!stopped && !video && std::chrono::steady_clock::now() < end) {
        auto frame = rig.peer().receive_frame(5s);
        ASSERT_TRUE(frame) << frame.error().text << "\nlog:\n" << log.text();
        video = frame->type == FrameType::Video;
        if (frame->type == FrameType::Control) stopped = message_named(to_string(frame->body), "pictureStopped");
    }
    if (has_encoder) {
        EXPECT_TRUE(video) << "a PC with an encoder sends the picture";
    } else {
        ASSERT_TRUE(stopped) << log.text();
        EXPECT_EQ((*stopped)["reason"].get<std::string>(), "encoderFailed");
        EXPECT_TRUE((*stopped)["retrying"].get<bool>());
        const std::size_t attempts = log.count("encoder: ");
        EXPECT_TRUE(wait_until([&] { return log.count("encoder: ") > attempts; })) << log.text();
        // The link still answers, and the stop is not told again.
        auto texts = rig.until_pong(4);
        ASSERT_TRUE(texts);
        for (const auto& text : *texts) EXPECT_FALSE(message_named(text, "pictureStopped")) << text;
    }
    rig.finish();
    EXPECT_TRUE(wait_until([&] { return log.count("stream #12 ended") == 1; })) << log.text();
}

// An audience that keeps the streams alive until its stream has sent a
// frame, then asks the stream to end.
class HoldingAudience final : public StreamAudience {
public:
    explicit HoldingAudience(std::shared_ptr<WindowsStreams> streams) : streams_(std::move(streams)) {}
    bool closed() override { return frames_ > 0; }
    bool must_wait(Instant) override { return false; }
    std::optional<std::uint64_t> best_delivered_rate() override { return std::nullopt; }
    std::optional<std::uint64_t> acked_rate() override { return std::nullopt; }
    std::size_t send_output(ParameterSets&, VideoEncoder&, const EncodedOutput& out, std::uint32_t& frames_sent,
                            Instant, bool, Instant) override {
        frames_sent += 1;
        frames_ += 1;
        return out.bytes.size();
    }
    void announce(const StreamGeometry&, std::uint32_t, std::int64_t) override {}
    void picture_stopped(std::uint8_t) override {}
    void notice(std::string_view) override {}
    void send_to_all(const std::string&) override {}

private:
    std::shared_ptr<WindowsStreams> streams_;
    int frames_ = 0;
};

TEST(WinStreamPlatform, AStreamThreadHoldingTheLastReferenceLetsItselfGo) {
    testing::FakeEncoderFactory encoders;
    auto streams = std::make_shared<WindowsStreams>(encoders.opener(), nullptr);
    std::weak_ptr<WindowsStreams> watch = streams;
    streams->slot().start_stream(StreamSettings{}, 61, std::make_shared<HoldingAudience>(streams));
    streams.reset();
    // The stream ends after its first frame and releases the streams on its
    // own thread, which must not wait for itself.
    EXPECT_TRUE(wait_until([&] { return watch.expired(); }));
}

}  // namespace
}  // namespace vorlix
