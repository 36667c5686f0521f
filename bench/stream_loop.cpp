// The stream loop's own cost per frame at 1920x1080: capture and encoder are
// stand-ins that cost nothing, time is virtual, and the BGRA to NV12
// conversion the loop runs for every frame is measured alone and taken out.
#include <benchmark/benchmark.h>

#include <chrono>

#include "convert/nv12.h"
#include "stream/stream_loop.h"

namespace vorlix {
namespace {

constexpr std::size_t kWidth = 1920;
constexpr std::size_t kHeight = 1080;

class BenchClock final : public LoopClock {
public:
    Instant now() override { return now_; }
    void sleep_for(Duration d) override { now_ += d; }
    void advance(Duration d) { now_ += d; }

private:
    Instant now_ = Instant{} + std::chrono::hours(1);
};

// A screen in constant motion; each grab takes one 60 fps frame of virtual time.
class MovingScreen final : public CaptureBackend {
public:
    explicit MovingScreen(BenchClock& clock) : clock_(clock), pixels_(kWidth * kHeight * 4, 90) {}
    PictureSize size() const override { return {kWidth, kHeight}; }
    GrabResult grab(std::uint32_t) override {
        clock_.advance(std::chrono::microseconds(16'700));
        pixels_[(n_++ % (kWidth * kHeight)) * 4] ^= 0xFF;
        return true;
    }
    ByteView pixels() const override { return pixels_; }
    std::string_view name() const override { return kDesktopDuplicationName; }
    void set_draw_cursor(bool) override {}
    std::uint64_t pointer_shape_serial() const override { return 0; }
    std::optional<CursorImage> pointer_shape() const override { return std::nullopt; }
    double changed_fraction() const override { return 0.5; }

private:
    BenchClock& clock_;
    Bytes pixels_;
    std::size_t n_ = 0;
};

class BenchSystem final : public CaptureSystem {
public:
    explicit BenchSystem(BenchClock& clock) : clock_(clock) {}
    MonitorInfo primary_monitor() override { return {1, 0, 0, kWidth, kHeight, 96}; }
    ScreenBlock screen_block_reason() override { return ScreenBlock::none; }
    Result<CaptureBackendPtr> open_capture(const MonitorInfo&) override {
        return CaptureBackendPtr(std::make_unique<MovingScreen>(clock_));
    }
    CaptureBackendPtr open_desktop_duplication(const MonitorInfo&) override { return nullptr; }

private:
    BenchClock& clock_;
};

class NullEncoder final : public VideoEncoder {
public:
    explicit NullEncoder(const EncoderSettings& s) : s_(s), target_(s.bitrate) {}
    const std::string& name() const override { return name_; }
    bool hardware() const override { return true; }
    std::uint32_t width() const override { return s_.width; }
    std::uint32_t height() const override { return s_.height; }
    std::uint32_t fps() const override { return s_.fps; }
    std::uint32_t target_bitrate() const override { return target_; }
    void set_target_bitrate(std::uint32_t b) override { target_ = b; }
    std::optional<std::uint32_t> sharpening() const override { return std::nullopt; }
    Result<std::vector<EncodedOutput>> encode_frame(ByteView, std::int64_t t, bool key) override {
        return std::vector<EncodedOutput>{{key ? Bytes{0, 0, 1, 0x65, 1} : Bytes{0, 0, 1, 0x41, 1}, t}};
    }
    void set_encoder_bitrate(std::uint32_t) override {}
    void start_sharpening(std::uint32_t) override {}
    void end_sharpening() override {}
    std::optional<Bytes> sequence_header() override { return std::nullopt; }
    bool output_failed() const override { return false; }
    std::vector<EncodedOutput> take_outputs() override { return {}; }

private:
    EncoderSettings s_;
    std::uint32_t target_;
    std::string name_ = "null";
};

class CountingAudience final : public StreamAudience {
public:
    explicit CountingAudience(std::uint32_t frames) : limit_(frames) {}
    bool closed() override { return sent_ >= limit_; }
    bool must_wait(Instant) override { return false; }
    std::optional<std::uint64_t> best_delivered_rate() override { return std::nullopt; }
    std::optional<std::uint64_t> acked_rate() override { return std::nullopt; }
    std::size_t send_output(ParameterSets&, VideoEncoder&, const EncodedOutput& out, std::uint32_t& frames_sent,
                            Instant, bool, Instant) override {
        ++frames_sent;
        ++sent_;
        return out.bytes.size();
    }
    void announce(const StreamGeometry&, std::uint32_t, std::int64_t) override {}
    void picture_stopped(std::uint8_t) override {}
    void notice(std::string_view) override {}
    void send_to_all(const std::string&) override {}
    std::uint32_t sent() const { return sent_; }

private:
    std::uint32_t limit_;
    std::uint32_t sent_ = 0;
};

double conversion_seconds_per_frame() {
    Bytes src(kWidth * kHeight * 4, 90);
    Bytes dst(kWidth * kHeight * 3 / 2);
    constexpr int kRounds = 20;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i) {
        convert_to_nv12(src, kWidth, kHeight, false, kWidth, kHeight, dst);
        benchmark::DoNotOptimize(dst.data());
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / kRounds;
}

void BM_StreamLoopPerFrame1080p(benchmark::State& state) {
    const double conversion = conversion_seconds_per_frame();
    constexpr std::uint32_t kFrames = 120;
    double total = 0;
    std::uint64_t frames = 0;
    for (auto _ : state) {
        BenchClock clock;
        BenchSystem system(clock);
        CountingAudience audience(kFrames);
        StreamControl control;
        control.pointer_on_device = std::make_shared<std::atomic<std::uint32_t>>(0);
        std::atomic<bool> hardware_off{false};
        StreamSeams seams;
        seams.clock = &clock;
        seams.capture = &system;
        seams.open_encoder = [](const EncoderSettings& s) -> Result<std::unique_ptr<VideoEncoder>> {
            return std::unique_ptr<VideoEncoder>(std::make_unique<NullEncoder>(s));
        };
        seams.log = [](std::string_view) {};
        seams.hardware_encoding_off = &hardware_off;
        StreamSettings settings;
        settings.fps = 60;
        const auto start = std::chrono::steady_clock::now();
        run_stream(settings, 1, audience, control, seams);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        frames += audience.sent();
    }
    const double per_frame = total / static_cast<double>(std::max<std::uint64_t>(frames, 1));
    state.counters["frame_us"] = per_frame * 1e6;
    state.counters["conversion_us"] = conversion * 1e6;
    state.counters["loop_own_us"] = (per_frame - conversion) * 1e6;
    state.SetItemsProcessed(static_cast<std::int64_t>(frames));
}
BENCHMARK(BM_StreamLoopPerFrame1080p)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vorlix
