// One stream: the thread that captures the primary monitor, converts each
// picture to NV12, encodes it and sends it to its audience, through locked
// screens, secure desktops, lost captures, display changes and encoder
// faults, until it is told to stop or its audience is gone.
//
// The loop reaches the PC only through seams (a clock, the capture system,
// the encoder opener, the cursor sender and the audience), so that all of it
// runs with scripted parts and a virtual clock.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "capture/capture.h"
#include "capture/capture_system.h"
#include "h264/annexb.h"
#include "h264/encoder.h"
#include "host/platform.h"
#include "host/session_log.h"
#include "recovery/recovery.h"
#include "stream/bitrate.h"
#include "stream/clock.h"

namespace vorlix {

// The stream settings the loop reads from a `configure` message.
struct StreamSettings {
    std::int64_t fps = 60;
    std::string quality;
    std::optional<std::int64_t> max_bitrate;
    bool audio = false;

    BitrateWishes bitrate_wishes() const { return {fps, quality, max_bitrate}; }
};

// The streamed monitor and the picture sizes: capture size (rounded down to
// even), encoded size (even; half the capture size when halving).
struct StreamGeometry {
    MonitorInfo monitor;
    std::uint32_t capture_width = 0;
    std::uint32_t capture_height = 0;
    std::uint32_t encoded_width = 0;
    std::uint32_t encoded_height = 0;
    bool half = false;
};

// Time as the loop sees it; tests give a virtual clock.
class LoopClock {
public:
    virtual ~LoopClock() = default;
    virtual Instant now() = 0;
    virtual void sleep_for(Duration duration) = 0;
};

// The steady clock and real sleeps.
LoopClock& system_loop_clock();

// What the loop needs of its audience (a device link and web watchers, or
// watchers only).
class StreamAudience {
public:
    virtual ~StreamAudience() = default;
    // The device link's writer stopped, or no watcher is left.
    virtual bool closed() = 0;
    // The send gate: true when the next frame must wait (never for watchers only).
    virtual bool must_wait(Instant now) = 0;
    // The device's delivered rates in bytes per second (none for watchers only).
    virtual std::optional<std::uint64_t> best_delivered_rate() = 0;
    virtual std::optional<std::uint64_t> acked_rate() = 0;
    // Sends one encoder output as a Video frame; answers the data bytes sent.
    virtual std::size_t send_output(ParameterSets& sets, VideoEncoder& encoder, const EncodedOutput& output,
                                    std::uint32_t& frames_sent, Instant origin, bool last_pass,
                                    Instant now) = 0;
    // Publishes the picture format (`streamInfo`).
    virtual void announce(const StreamGeometry& geometry, std::uint32_t fps, std::int64_t stream_number) = 0;
    // The picture-stopped callback: a reason code or kPictureResumed.
    virtual void picture_stopped(std::uint8_t value) = 0;
    // A `notice` to the device (nothing for watchers only).
    virtual void notice(std::string_view text) = 0;
    // A control message for the device and every watcher (pointer shapes and positions).
    virtual void send_to_all(const std::string& message) = 0;
};

// Sends the pointer's shape and position while the device draws the
// pointer; one per stream, with what it has sent so far.
class CursorSender {
public:
    virtual ~CursorSender() = default;
    // Back to the initial state, so that the next call sends the shape again.
    virtual void reset() = 0;
    virtual void send(CaptureBackend& backend, const StreamGeometry& geometry, StreamAudience& audience) = 0;
};

// Everything the loop reaches outside itself.
struct StreamSeams {
    LoopClock* clock = nullptr;
    CaptureSystem* capture = nullptr;
    EncoderOpener open_encoder;
    // Makes each stream's cursor sender; none: pointer shapes are not sent.
    std::function<std::unique_ptr<CursorSender>()> cursor_sender;
    std::function<void(std::string_view)> log;
    std::optional<std::string> encoder_setting;  // VORLIX_ENCODER
    std::optional<std::string> slow_ms_setting;  // VORLIX_SLOW_MS
    // Set once a hardware encoder failed; shared by every stream of the process.
    std::atomic<bool>* hardware_encoding_off = nullptr;
};

// The process-wide flag: hardware encoding stays off once a hardware encoder failed.
std::atomic<bool>& hardware_encoding_off();

// VORLIX_SLOW_MS: unsigned decimal milliseconds (a leading "+" allowed), else 40.
std::uint32_t parse_slow_ms(const std::optional<std::string>& value);

// Runs the stream until `running` is cleared or the audience is gone.
void run_stream(const StreamSettings& settings, std::int64_t stream_number, StreamAudience& audience,
                StreamControl& control, const StreamSeams& seams);

// Starts the sound of a stream, or answers nothing when it cannot.
using SoundStarter = std::function<std::optional<std::thread>(std::shared_ptr<StreamControl>)>;

// The thread body: waits for the previous stream's thread, starts the sound
// when asked, runs the stream, and turns a fault into a log line and a notice.
void stream_thread(const StreamSettings& settings, std::int64_t stream_number,
                   std::shared_ptr<StreamAudience> audience, std::shared_ptr<StreamControl> previous,
                   std::shared_ptr<StreamControl> control, const StreamSeams& seams,
                   const SoundStarter& start_sound);

// The platform's current stream: starts each stream on its own thread
// "vorlix-stream-{}" (which first waits for the previous one), and steers and
// stops the current one. While one stream waits so, a newer start replaces
// its settings and number and starts no thread. Its release stops the
// current stream and waits for it. What its threads log is counted past a
// rate: a device that configures in a loop starts stream after stream.
class StreamSlot {
public:
    // How a stream thread runs its body: sets up what the thread needs (COM
    // on Windows) around it.
    using ThreadRunner = std::function<void(const std::function<void()>& body)>;

    StreamSlot(StreamSeams seams, SoundStarter start_sound, ThreadRunner runner);
    ~StreamSlot();
    StreamSlot(const StreamSlot&) = delete;
    StreamSlot& operator=(const StreamSlot&) = delete;

    // `start_sound`, when given, starts this stream's sound (it knows the
    // stream's links) in place of the slot's own.
    void start_stream(const StreamSettings& settings, std::int64_t stream_number,
                      std::shared_ptr<StreamAudience> audience, SoundStarter start_sound = nullptr);
    void stop_stream();
    void request_keyframe();
    void set_stream_audio(bool on);
    void set_pointer_on_device(std::uint32_t value);

    std::shared_ptr<StreamControl> current();
    std::shared_ptr<std::atomic<std::uint32_t>> pointer_on_device() const { return pointer_on_device_; }

private:
    CountedLines lines_{SessionLogLimits{}, "stream lines counted since "};  // outlives the threads
    StreamSeams seams_;
    SoundStarter start_sound_;
    ThreadRunner runner_;
    std::shared_ptr<std::atomic<std::uint32_t>> pointer_on_device_;
    // A stream whose thread still waits for the previous one to end, and
    // what it is to run; at most one. Its control is the current one.
    struct Waiting {
        std::shared_ptr<StreamControl> control;
        StreamSettings settings;
        std::int64_t stream_number = 0;
        std::shared_ptr<StreamAudience> audience;
        SoundStarter start_sound;
    };

    std::mutex mutex_;
    std::shared_ptr<StreamControl> current_;
    std::optional<Waiting> waiting_;
};

}  // namespace vorlix
