#include "support/streaming_platform.h"

#include <algorithm>
#include <thread>

#include "host/log.h"
#include "stream/stream_output.h"
#include "stream/stream_start.h"

namespace vorlix::testing {

// The stream's own audience, noting which painted picture each Video frame
// carried. Runs on the stream thread, which alone touches the screen.
class StreamingPlatform::RememberingAudience final : public StreamAudience {
public:
    RememberingAudience(std::shared_ptr<StreamAudience> inner, StreamingPlatform& owner, std::uint64_t stream)
        : inner_(std::move(inner)), owner_(owner), stream_(stream) {}

    bool closed() override { return inner_->closed(); }
    bool must_wait(Instant now) override { return inner_->must_wait(now); }
    std::optional<std::uint64_t> best_delivered_rate() override { return inner_->best_delivered_rate(); }
    std::optional<std::uint64_t> acked_rate() override { return inner_->acked_rate(); }
    std::size_t send_output(ParameterSets& sets, VideoEncoder& encoder, const EncodedOutput& output,
                            std::uint32_t& frames_sent, Instant origin, bool last_pass, Instant now) override {
        // Noted before the frame is queued: the device may look it up as
        // soon as it arrives.
        const std::uint32_t number = frames_sent;
        const bool painted = owner_.screen_.pictures_painted > 0;
        if (painted) owner_.note_frame(stream_, number);
        const std::size_t sent = inner_->send_output(sets, encoder, output, frames_sent, origin, last_pass, now);
        if (painted && frames_sent == number) owner_.forget_frame(stream_, number);
        return sent;
    }
    void announce(const StreamGeometry& g, std::uint32_t fps, std::int64_t n) override { inner_->announce(g, fps, n); }
    void picture_stopped(std::uint8_t value) override { inner_->picture_stopped(value); }
    void notice(std::string_view text) override { inner_->notice(text); }
    void send_to_all(const std::string& message) override { inner_->send_to_all(message); }

private:
    std::shared_ptr<StreamAudience> inner_;
    StreamingPlatform& owner_;
    std::uint64_t stream_;
};

StreamingPlatform::StreamingPlatform(StreamingOptions options) : options_(std::move(options)) {
    screen_.monitor = MonitorInfo{1, 0, 0, static_cast<std::int32_t>(options_.width),
                                  static_cast<std::int32_t>(options_.height), 96};
    screen_.otherwise = SyntheticGrab::picture(0.3);
    screen_.grab_time = std::chrono::milliseconds(15);
    screen_.grab_wait = [](Duration d) { std::this_thread::sleep_for(d); };

    StreamSeams seams;
    seams.clock = &system_loop_clock();
    seams.capture = &capture_;
    seams.open_encoder = [this](const EncoderSettings& settings) -> Result<std::unique_ptr<VideoEncoder>> {
        {
            std::lock_guard lock(mutex_);
            openings_.push_back(settings);
        }
        if (!options_.open_encoder) return Error("no encoder");
        return options_.open_encoder(settings);
    };
    seams.log = [this](std::string_view line) { note_log(line); };
    seams.slow_ms_setting = options_.slow_ms_setting;
    seams.hardware_encoding_off = &hardware_off_;
    slot_ = std::make_unique<StreamSlot>(std::move(seams), nullptr, options_.runner);
}

StreamingPlatform::~StreamingPlatform() { slot_.reset(); }

void StreamingPlatform::note_frame(std::uint64_t stream, std::uint32_t frame) {
    std::lock_guard lock(mutex_);
    frames_[{stream, frame}] = screen_.pictures_painted - 1;
}

void StreamingPlatform::forget_frame(std::uint64_t stream, std::uint32_t frame) {
    std::lock_guard lock(mutex_);
    frames_.erase({stream, frame});
}

void StreamingPlatform::note_log(std::string_view line) {
    log_line(line);
    std::lock_guard lock(mutex_);
    lines_.emplace_back(line);
    changed_.notify_all();
}

std::optional<std::uint64_t> StreamingPlatform::picture_of_frame(std::uint64_t stream, std::uint32_t frame) const {
    std::lock_guard lock(mutex_);
    auto found = frames_.find({stream, frame});
    if (found == frames_.end()) return std::nullopt;
    return found->second;
}

std::optional<Bytes> StreamingPlatform::painted_picture(std::uint64_t n) const {
    if (!screen_.painter) return std::nullopt;
    Bytes bgra;
    screen_.painter(bgra, options_.width, options_.height, n);
    return bgra;
}

std::vector<std::string> StreamingPlatform::stream_log() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

std::size_t StreamingPlatform::count_log(const std::string& part) const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count_if(lines_.begin(), lines_.end(), [&](const std::string& line) {
        return line.find(part) != std::string::npos;
    }));
}

bool StreamingPlatform::wait_for_log(const std::string& part, std::size_t times,
                                     std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        return static_cast<std::size_t>(std::count_if(lines_.begin(), lines_.end(), [&](const std::string& line) {
                   return line.find(part) != std::string::npos;
               })) >= times;
    });
}

std::shared_ptr<StreamControl> StreamingPlatform::current_stream() { return slot_->current(); }

std::vector<EncoderSettings> StreamingPlatform::encoder_openings() const {
    std::lock_guard lock(mutex_);
    return openings_;
}

void StreamingPlatform::start_stream(const StreamConfig& config, std::int64_t stream_number,
                                     std::shared_ptr<StreamOutput> output) {
    FakePlatform::start_stream(config, stream_number, output);
    if (!output) {
        slot_->stop_stream();
        return;
    }
    auto audience = std::make_shared<RememberingAudience>(make_output_audience(output, [this](std::string_view line) {
        note_log(line);
    }), *this, stream_number);
    slot_->start_stream(stream_settings(config), stream_number, std::move(audience),
                        stream_sound_starter(output, options_.make_sound_source));
}

void StreamingPlatform::stop_stream() {
    FakePlatform::stop_stream();
    slot_->stop_stream();
}

void StreamingPlatform::request_keyframe() {
    FakePlatform::request_keyframe();
    slot_->request_keyframe();
}

void StreamingPlatform::set_stream_audio(bool on) {
    FakePlatform::set_stream_audio(on);
    slot_->set_stream_audio(on);
}

void StreamingPlatform::set_pointer_on_device(std::uint32_t value) {
    FakePlatform::set_pointer_on_device(value);
    slot_->set_pointer_on_device(value);
}

}  // namespace vorlix::testing
