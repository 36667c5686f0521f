// H264Encoder: the encoder's bookkeeping over an EncoderTransform.
//
// A synchronous transform is fed and pulled on the stream thread. An
// asynchronous one gets the thread "vorlix-encoder-events", which turns the
// transform's events into a count of input requests and a list of outputs
// (EncoderEvents); encode_frame waits a short while for a request and for
// outputs, so a picture is either encoded promptly or dropped.
#pragma once

#include <chrono>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "h264/encoder.h"
#include "h264/encoder_transform.h"

namespace vorlix {

inline constexpr const char* kSoftwareEncoderName = "Microsoft H.264 software encoder";

// How long the encoder waits. The defaults are the encoder's own; tests
// shorten them.
struct EncoderWaits {
    // For an input request of an asynchronous transform before the picture
    // is dropped.
    std::chrono::milliseconds input_request{200};
    // For outputs after an asynchronous transform took a picture.
    std::chrono::milliseconds outputs{30};
    // For the events thread to end at shut-down; after that it is let go.
    std::chrono::milliseconds thread_end{1000};
};

// Shared between an asynchronous encoder and its events thread. The output
// list and the request count have a lock each and share one wake-up; every
// change wakes all waiters. Where both locks are held, the request lock is
// taken first.
struct EncoderEvents {
    std::mutex output_lock;
    std::vector<EncodedOutput> outputs;  // under output_lock
    bool thread_ended = false;           // under output_lock

    std::mutex request_lock;
    std::uint32_t input_requests = 0;  // under request_lock

    std::condition_variable_any wake_up;
    std::atomic<bool> output_failed{false};

    std::vector<EncodedOutput> take_outputs();
};

// Pulls one output from the transform for a picture of width x height:
// handles a stream change by taking the first available output type. Gives
// the output, or none when the transform needs more input or gave no sample,
// or the error. `more` is cleared when the transform needs more input.
Result<std::optional<EncodedOutput>> pull_one_output(EncoderTransform& transform, std::uint32_t width,
                                                     std::uint32_t height, bool& more);

// The body of the thread "vorlix-encoder-events".
void run_encoder_events(std::shared_ptr<TransformEventSource> source, std::shared_ptr<EncoderTransform> transform,
                        std::uint32_t width, std::uint32_t height, std::shared_ptr<EncoderEvents> events);

class H264Encoder final : public VideoEncoder {
public:
    struct Parts {
        std::shared_ptr<EncoderTransform> transform;
        std::string name;
        bool hardware = false;
        EncoderSettings settings;
        std::shared_ptr<EncoderEvents> events;  // asynchronous transforms only
        std::thread events_thread;
        EncoderWaits waits;
    };

    explicit H264Encoder(Parts parts);
    ~H264Encoder() override;  // shuts the transform down

    H264Encoder(const H264Encoder&) = delete;
    H264Encoder& operator=(const H264Encoder&) = delete;

    const std::string& name() const override { return name_; }
    bool hardware() const override { return hardware_; }
    std::uint32_t width() const override { return width_; }
    std::uint32_t height() const override { return height_; }
    std::uint32_t fps() const override { return fps_; }
    std::uint32_t target_bitrate() const override { return target_bitrate_; }
    void set_target_bitrate(std::uint32_t bits_per_second) override { target_bitrate_ = bits_per_second; }
    std::optional<std::uint32_t> sharpening() const override { return sharpening_; }
    bool asynchronous() const { return events_ != nullptr; }

    Result<std::vector<EncodedOutput>> encode_frame(ByteView nv12, std::int64_t sample_time,
                                                    bool force_key_frame) override;
    void set_encoder_bitrate(std::uint32_t bits_per_second) override;
    void start_sharpening(std::uint32_t bits_per_second) override;
    void end_sharpening() override;
    std::optional<Bytes> sequence_header() override;
    bool output_failed() const override;
    std::vector<EncodedOutput> take_outputs() override;

private:
    Result<std::vector<EncodedOutput>> encode_async(std::vector<EncodedOutput> collected);
    Result<std::vector<EncodedOutput>> encode_sync();
    Status pull_outputs(std::vector<EncodedOutput>& collected);
    void shut_down();

    std::shared_ptr<EncoderTransform> transform_;
    bool codec_settings_ = false;
    std::string name_;
    bool hardware_ = false;
    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
    std::uint32_t fps_ = 0;
    std::uint32_t target_bitrate_ = 0;
    std::optional<std::uint32_t> sharpening_;
    bool sharpening_logged_ = false;
    bool bitrate_refusal_logged_ = false;
    std::shared_ptr<EncoderEvents> events_;
    std::thread events_thread_;
    EncoderWaits waits_;
};

// Sets the media types and codec settings and starts streaming: the output
// type with the High profile, else the Main profile; the NV12 input type;
// low latency, constant bitrate, no B pictures, a key frame every 8 seconds.
// Constant bitrate, B pictures and the key frame interval are also set
// before the output type; refusals never fail the opening, and a value the
// encoder refuses at both times is logged once with the encoder's `name`.
Status configure_transform(EncoderTransform& transform, const EncoderSettings& settings, const std::string& name);

// Opens an encoder through the platform's encoders: the first hardware
// encoder that accepts the settings (when allowed), otherwise the software
// encoder. A refused hardware encoder is logged and skipped; only the
// software path's errors are returned.
Result<std::unique_ptr<H264Encoder>> open_h264_encoder(EncoderSystem& system, const EncoderSettings& settings,
                                                       const EncoderWaits& waits = {});

}  // namespace vorlix
