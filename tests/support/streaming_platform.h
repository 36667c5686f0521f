// A platform for host tests whose streams really run: the stream operations
// drive a stream slot over the synthetic screen in real time, with an
// encoder opener the test chooses (the OpenH264 test codec, the scripted
// fakes, or one that fails); every other operation is recorded as
// FakePlatform records it. The stream operations are recorded too.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sound/sound_capture.h"
#include "stream/stream_loop.h"
#include "support/fake_platform.h"
#include "support/synthetic_capture.h"

namespace vorlix::testing {

struct StreamingOptions {
    EncoderOpener open_encoder;
    // Makes each sound-enabled stream's sound source; none: no sound thread.
    SoundSourceFactory make_sound_source;
    std::uint32_t width = 320;
    std::uint32_t height = 240;
    // VORLIX_SLOW_MS of the streams: by default so high that a slow
    // (sanitised, busy) machine never halves the picture.
    std::optional<std::string> slow_ms_setting = std::string("100000");
    // Runs each stream thread's body; none: the body alone.
    StreamSlot::ThreadRunner runner;
};

class StreamingPlatform : public FakePlatform {
public:
    explicit StreamingPlatform(StreamingOptions options);
    ~StreamingPlatform() override;

    // The synthetic screen: a moving test pattern, a new picture every
    // grab. Change it only before the first stream starts.
    SyntheticScreen& screen() { return screen_; }

    // The number of the painted picture (its `n` for the screen's painter)
    // that went out as Video frame `frame` of stream `stream`.
    std::optional<std::uint64_t> picture_of_frame(std::uint64_t stream, std::uint32_t frame) const;
    // The painted picture itself, as BGRA of the screen's size.
    std::optional<Bytes> painted_picture(std::uint64_t n) const;

    // The streams' log lines so far (they also go to the log).
    std::vector<std::string> stream_log() const;
    std::size_t count_log(const std::string& part) const;
    bool wait_for_log(const std::string& part, std::size_t times = 1,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

    // The current stream's control block, if a stream was started.
    std::shared_ptr<StreamControl> current_stream();
    // The encoder settings of every encoder opening so far.
    std::vector<EncoderSettings> encoder_openings() const;

    void start_stream(const StreamConfig& config, std::int64_t stream_number,
                      std::shared_ptr<StreamOutput> output) override;
    void stop_stream() override;
    void request_keyframe() override;
    void set_stream_audio(bool on) override;
    void set_pointer_on_device(std::uint32_t value) override;

private:
    class RememberingAudience;

    void note_frame(std::uint64_t stream, std::uint32_t frame);
    void forget_frame(std::uint64_t stream, std::uint32_t frame);
    void note_log(std::string_view line);

    StreamingOptions options_;
    VirtualClock unused_clock_;  // the screen's; the streams run on the steady clock
    SyntheticScreen screen_{unused_clock_};
    SyntheticCaptureSystem capture_{screen_};
    std::atomic<bool> hardware_off_{false};

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::map<std::pair<std::uint64_t, std::uint32_t>, std::uint64_t> frames_;
    std::vector<std::string> lines_;
    std::vector<EncoderSettings> openings_;

    std::unique_ptr<StreamSlot> slot_;  // released first: it waits for the stream threads
};

}  // namespace vorlix::testing
