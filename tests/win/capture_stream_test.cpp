#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "h264/annexb.h"
#include "stream/stream_output.h"
#include "support/fake_encoder.h"
#include "support/forwarding_audience.h"
#include "wire/frame.h"
#include "win/stream/windows_stream.h"

namespace vorlix {
namespace {

using namespace std::chrono_literals;

// Counts what a stream sends; used from the stream thread and the test.
class CountingAudience final : public StreamAudience {
public:
    bool closed() override { return false; }
    bool must_wait(Instant) override { return false; }
    std::optional<std::uint64_t> best_delivered_rate() override { return std::nullopt; }
    std::optional<std::uint64_t> acked_rate() override { return std::nullopt; }
    std::size_t send_output(ParameterSets& sets, VideoEncoder&, const EncodedOutput& out, std::uint32_t& frames_sent,
                            Instant, bool, Instant) override {
        PackedOutput packed = find_nal_units(sets, out.bytes);
        if (packed.bytes.empty()) return 0;
        frames_sent += 1;
        frames += 1;
        if (packed.key) keys += 1;
        return packed.bytes.size();
    }
    void announce(const StreamGeometry& g, std::uint32_t, std::int64_t) override {
        std::lock_guard lock(mutex);
        announced_width = g.capture_width;
        announcements += 1;
    }
    void picture_stopped(std::uint8_t) override {}
    void notice(std::string_view) override {}
    void send_to_all(const std::string&) override {}

    std::atomic<int> frames{0};
    std::atomic<int> keys{0};
    std::mutex mutex;
    int announcements = 0;
    std::uint32_t announced_width = 0;
};

bool wait_for(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

TEST(WinStream, StreamOfTheScreenRunsOnGdiAndStops) {
    SetEnvironmentVariableW(L"VORLIX_CAPTURE", nullptr);
    testing::FakeEncoderFactory encoders;
    auto audience = std::make_shared<CountingAudience>();
    std::shared_ptr<StreamControl> current;
    {
        WindowsStreams streams(encoders.opener(), nullptr);
        StreamSettings settings;
        settings.fps = 30;
        streams.slot().start_stream(settings, 4, audience);
        ASSERT_TRUE(wait_for([&] { return audience->frames.load() >= 3; }, 10s));
        EXPECT_GE(audience->keys.load(), 1);
        current = streams.slot().current();
        ASSERT_NE(current, nullptr);
        EXPECT_EQ(current->running.load(), 1);
        streams.slot().stop_stream();
        EXPECT_EQ(current->running.load(), 0);
    }
    {
        std::lock_guard lock(current->thread_mutex);
        EXPECT_FALSE(current->thread.has_value()) << "the slot's release joined the stream thread";
    }
    ASSERT_FALSE(encoders.opened.empty());
    EXPECT_FALSE(encoders.opened[0]->hardware);
    std::lock_guard lock(audience->mutex);
    EXPECT_EQ(audience->announcements, 1);
    EXPECT_GT(audience->announced_width, 0u);
}

TEST(WinStream, StreamQueuesVideoFramesOnTheLink) {
    testing::FakeEncoderFactory encoders;
    auto [writer, items] = LinkWriter::make();
    auto output = std::make_shared<StreamOutput>();
    output->kind = StreamOutput::Kind::device_session;
    output->link = writer;
    output->ledger = std::make_shared<FrameLedger>();
    output->watchers = std::make_shared<WebWatcherRegistry>();
    WindowsStreams streams(encoders.opener(), nullptr);
    StreamSettings settings;
    settings.fps = 30;
    // Counts the loop's looks at the send gate that held a frame back.
    struct GateWatch final : testing::ForwardingAudience {
        using ForwardingAudience::ForwardingAudience;
        bool must_wait(Instant now) override {
            const bool held = inner->must_wait(now);
            if (held) holds += 1;
            return held;
        }
        std::atomic<int> holds{0};
    };
    auto gate = std::make_shared<GateWatch>(make_output_audience(output));
    streams.slot().start_stream(settings, 8, gate);
    // Nobody writes the link: three Video frames are queued, then the send
    // gate holds every frame after them.
    ASSERT_TRUE(wait_for([&] { return writer.queued_video_frames() >= 3; }, 10s));
    const int holds = gate->holds.load();
    ASSERT_TRUE(wait_for([&] { return gate->holds.load() >= holds + 5; }, 10s));
    EXPECT_EQ(writer.queued_video_frames(), 3u);
    streams.slot().stop_stream();

    std::vector<WriterItem> queued;
    while (auto item = items.try_receive()) queued.push_back(std::move(*item));
    int video = 0;
    bool stream_info = false;
    for (const auto& item : queued) {
        if (item.type == FrameType::Video) {
            ASSERT_GE(item.bytes.size(), 22u);
            EXPECT_EQ(get_u32_be(item.bytes.data() + 1), static_cast<std::uint32_t>(video));
            if (video == 0) EXPECT_EQ(item.bytes[0] & 1, 1) << "the first frame is a key frame";
            ++video;
        } else if (item.type == FrameType::Control) {
            stream_info = stream_info || to_string(item.bytes).rfind("{\"streamInfo\":", 0) == 0;
        }
    }
    EXPECT_EQ(video, 3);
    EXPECT_TRUE(stream_info);
}

TEST(WinStream, SecondStreamReplacesTheFirst) {
    testing::FakeEncoderFactory encoders;
    auto first = std::make_shared<CountingAudience>();
    auto second = std::make_shared<CountingAudience>();
    WindowsStreams streams(encoders.opener(), nullptr);
    StreamSettings settings;
    streams.slot().start_stream(settings, 1, first);
    auto first_control = streams.slot().current();
    // A start while the first still waits to run would only replace its settings.
    ASSERT_TRUE(wait_for([&] { return first->frames.load() >= 1; }, 10s));
    streams.slot().start_stream(settings, 2, second);
    EXPECT_EQ(first_control->running.load(), 0) << "the first stream is told to stop before the second starts";
    ASSERT_TRUE(wait_for([&] { return second->frames.load() >= 2; }, 10s));
    {
        std::lock_guard lock(first_control->thread_mutex);
        EXPECT_FALSE(first_control->thread.has_value()) << "the second stream joined the first before it sent";
    }
    streams.slot().request_keyframe();
    streams.slot().set_stream_audio(true);
    EXPECT_EQ(streams.slot().current()->sound.load(), 1);
}

}  // namespace
}  // namespace vorlix
