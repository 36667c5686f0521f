#include "stream/stream_loop.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <deque>
#include <exception>
#include <limits>
#include <numeric>
#include <thread>
#include <utility>

#include "convert/nv12.h"
#include "host/log.h"
#include "stream/frame_ledger.h"
#include "util/thread_name.h"

namespace vorlix {

namespace {

using namespace std::chrono_literals;

constexpr std::uint64_t kLargestFullSizeSoftwarePicture = 4'096'000;
constexpr std::size_t kSlowRingSize = 30;
constexpr double kMotionFraction = 0.15;
constexpr const char* kFaultNotice =
    "The picture stopped because of a fault on this PC. Connect again to restart it.";

class SystemLoopClock final : public LoopClock {
public:
    Instant now() override { return StreamClock::now(); }
    void sleep_for(Duration duration) override { std::this_thread::sleep_for(duration); }
};

std::uint32_t even(std::size_t v) {
    const std::size_t clamped = std::min<std::size_t>(v, std::numeric_limits<std::uint32_t>::max());
    return static_cast<std::uint32_t>(clamped) & ~1u;
}

std::string one_decimal(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.1f", v);
    return buf;
}

double to_ms(Duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

std::optional<PictureStopReason> block_reason(ScreenBlock block) {
    switch (block) {
        case ScreenBlock::screen_locked: return PictureStopReason::screenLocked;
        case ScreenBlock::secure_desktop: return PictureStopReason::secureDesktop;
        case ScreenBlock::none: break;
    }
    return std::nullopt;
}

enum class DrawMode { not_applied, drawn, left_out };

// The state of one run of the loop.
class StreamRun {
public:
    StreamRun(const StreamSettings& settings, std::int64_t number, StreamAudience& audience,
              StreamControl& control, const StreamSeams& seams)
        : settings_(settings),
          wishes_(settings.bitrate_wishes()),
          number_(number),
          audience_(audience),
          control_(control),
          seams_(seams),
          clock_(seams.clock ? *seams.clock : system_loop_clock()),
          hardware_off_(seams.hardware_encoding_off ? *seams.hardware_encoding_off : hardware_encoding_off()) {
        fps_ = static_cast<std::uint32_t>(std::clamp<std::int64_t>(settings.fps, 1, 60));
        interval_ = std::chrono::microseconds(1'000'000 / fps_);
        hardware_allowed_ = !(seams.encoder_setting && *seams.encoder_setting == "software");
        notify_ = [this](std::uint8_t value) { audience_.picture_stopped(value); };
        if (seams.cursor_sender) cursor_ = seams.cursor_sender();
    }

    void run() {
        if (!first_phase()) return;
        main_setup();
        main_loop();
        log("stream #" + std::to_string(number_) + " ended");
    }

private:
    // ---- helpers -----------------------------------------------------------
    void log(const std::string& line) {
        if (seams_.log) seams_.log(line);
        else log_line(line);
    }
    std::string tag() const { return "stream #" + std::to_string(number_) + ": "; }
    bool running() const { return control_.running.load() != 0; }
    bool may_use_hardware() const { return hardware_allowed_ && !hardware_off_.load(); }
    bool pointer_on_device() const {
        return control_.pointer_on_device && control_.pointer_on_device->load() != 0;
    }
    void report(PictureStopReason reason) {
        report_stream_stop(recovery_, reason, frames_flowing_, number_, clock_.now(), notify_);
    }
    void sleep(Duration d) { clock_.sleep_for(d); }

    Result<std::unique_ptr<VideoEncoder>> open_encoder(std::uint32_t w, std::uint32_t h, bool hardware) {
        EncoderSettings s;
        s.width = w;
        s.height = h;
        s.fps = fps_;
        s.bitrate = start_bitrate(w, h, wishes_);
        s.allow_hardware = hardware;
        if (!seams_.open_encoder) return Error("no encoder");
        auto opened = seams_.open_encoder(s);
        if (opened.ok() || !hardware) {
            if (!opened.ok()) log("encoder: " + opened.error().text);
            return opened;
        }
        // The line already says the software encoder is tried; its failure
        // is the result, told as the picture stopping.
        log("encoder: " + opened.error().text + "; trying the software encoder");
        s.allow_hardware = false;
        return seams_.open_encoder(s);
    }

    void drop_encoder() {
        encoder_.reset();
    }

    // Sends one output; the first that sends bytes after a stop tells the
    // device the picture runs again.
    std::size_t send(const EncodedOutput& out, bool last_pass) {
        const std::size_t sent = audience_.send_output(sets_, *encoder_, out, frames_sent_, origin_, last_pass,
                                                       clock_.now());
        if (sent > 0) note_picture_flowing(recovery_, frames_flowing_, notify_);
        return sent;
    }

    void announce_if_changed() {
        const bool differs = !announced_ || announced_.value().capture_width != geometry_.capture_width ||
                             announced_->capture_height != geometry_.capture_height ||
                             announced_->encoded_width != geometry_.encoded_width ||
                             announced_->encoded_height != geometry_.encoded_height ||
                             announced_->monitor.dpi != geometry_.monitor.dpi;
        if (!differs) return;
        audience_.announce(geometry_, fps_, number_);
        announced_ = geometry_;
    }

    void resize_nv12() {
        nv12_.assign(std::size_t{geometry_.encoded_width} * geometry_.encoded_height * 3 / 2, 0);
    }

    // ---- first phase -------------------------------------------------------
    bool first_phase() {
        while (running()) {
            if (audience_.closed()) {
                log("stream #" + std::to_string(number_) + " ended");
                return false;
            }
            if (!retry_pending(recovery_, clock_.now())) {
                if (auto reason = block_reason(seams_.capture->screen_block_reason())) {
                    report(*reason);
                } else {
                    const MonitorInfo monitor = seams_.capture->primary_monitor();
                    auto opened = seams_.capture->open_capture(monitor);
                    if (!opened.ok()) {
                        log("capture failed: " + opened.error().text);
                        report(PictureStopReason::captureFailed);
                    } else {
                        backend_ = std::move(opened).value();
                        geometry_.monitor = monitor;
                        return true;
                    }
                }
            }
            sleep(20ms);
        }
        log("stream #" + std::to_string(number_) + " ended before it had a picture");
        return false;
    }

    void main_setup() {
        const PictureSize size = backend_->size();
        source_pixels_ = std::uint64_t{size.width} * size.height;
        geometry_.capture_width = even(size.width);
        geometry_.capture_height = even(size.height);
        geometry_.encoded_width = geometry_.capture_width;
        geometry_.encoded_height = geometry_.capture_height;
        geometry_.half = false;
        bitrate_ = initial_bitrate_state(geometry_.capture_width, geometry_.capture_height, wishes_);

        const Instant now = clock_.now();
        origin_ = now;
        next_block_check_ = now;
        next_send_ = now;
        last_encode_ = now;
        last_key_ = now;
        last_output_ = now;
        last_stats_ = now;
        window_start_ = now;

        slow_ms_ = parse_slow_ms(seams_.slow_ms_setting);
        max_passes_ = settings_.max_bitrate ? 6 : 3;
        if (backend_->name() == kGdiName) duplication_retry_ = now + 2s;
        picture_new_ = true;
    }

    // ---- main loop ---------------------------------------------------------
    void main_loop() {
        while (running()) {
            if (audience_.closed()) return;
            // One instant stands for the whole pass.
            const Instant pass_start = clock_.now();
            const Instant now = pass_start;

            // Locked screen or secure desktop, looked at every 500 ms.
            if (now >= next_block_check_) {
                next_block_check_ = now + 500ms;
                if (auto reason = block_reason(seams_.capture->screen_block_reason())) {
                    if (backend_) {
                        backend_.reset();
                        log(tag() + std::string(picture_stop_reason_name(*reason)) + " is up; waiting for it to go");
                    }
                    report(*reason);
                    sleep(100ms);
                    continue;
                }
            }

            if (!backend_ && !reopen_capture(now)) continue;
            if (!return_to_duplication(now)) continue;
            if (!encoder_ && !make_encoder(now)) continue;

            // Pointer: into the picture, or left out and sent as shapes.
            const bool on_device = pointer_on_device();
            const DrawMode wanted = on_device ? DrawMode::left_out : DrawMode::drawn;
            if (draw_mode_ != wanted) {
                backend_->set_draw_cursor(!on_device);
                if (on_device && draw_mode_ != DrawMode::left_out && cursor_) cursor_->reset();
                draw_mode_ = wanted;
            }

            GrabResult grabbed = backend_->grab(20);
            if (on_device && cursor_) cursor_->send(*backend_, geometry_, audience_);
            if (!grabbed.ok()) {
                log("capture lost; reopening");
                backend_.reset();
                report(PictureStopReason::captureFailed);
                continue;
            }
            if (grabbed.value()) {
                picture_new_ = true;
                if (backend_->changed_fraction() >= kMotionFraction) {
                    last_motion_ = now;
                    bitrate_.pictures_with_motion += 1;
                    passes_ = 0;
                }
            }

            // What an asynchronous encoder produced by itself.
            std::vector<EncodedOutput> ready = encoder_->take_outputs();
            if (!ready.empty()) {
                last_output_ = now;
                fed_without_output_ = 0;
                for (const auto& out : ready) send(out, false);
            }

            if (now - last_stats_ >= 1s) {
                last_stats_ = now;
                const BitrateStep step =
                    update_stream_stats(bitrate_, audience_.best_delivered_rate(), audience_.acked_rate());
                if (step.target != encoder_->target_bitrate()) {
                    encoder_->set_target_bitrate(step.target);
                    if (!encoder_->sharpening()) encoder_->set_encoder_bitrate(step.target);
                }
                if (step.report) log(tag() + *step.report);
            }

            if (control_.keyframe_wanted.load() != 0) passes_ = 0;
            const bool sharpening_due = frames_sent_ > 0 && passes_ < max_passes_ &&
                                        (!last_motion_ || now - *last_motion_ > 120ms) &&
                                        (!last_pass_ || now - *last_pass_ >= 70ms);
            const Duration idle = frames_sent_ == 0 ? Duration(20ms) : Duration(250ms);
            const bool due = control_.keyframe_wanted.load() != 0 || picture_new_ || sharpening_due ||
                             now - last_encode_ >= idle;
            if (!due) continue;

            // Pacing and the send gate.
            if (now < next_send_) continue;
            if (audience_.must_wait(now)) {
                if (picture_new_) bitrate_.pictures_held_back += 1;
                next_send_ = now + interval_;
                continue;
            }

            if (picture_new_) bitrate_.pictures_sent += 1;
            bool key = control_.keyframe_wanted.exchange(0) != 0;
            if (!key && now - last_key_ >= 4s) key = true;
            if (key) last_key_ = now;

            bool last_pass = false;
            if (sharpening_due) {
                if (settings_.max_bitrate) {
                    const std::uint64_t rate = std::clamp<std::uint64_t>(std::uint64_t{bitrate_.target} * 8,
                                                                         8'000'000, 100'000'000);
                    encoder_->start_sharpening(static_cast<std::uint32_t>(rate));
                }
                passes_ += 1;
                last_pass = passes_ >= max_passes_;
                last_pass_ = now;
            } else {
                encoder_->end_sharpening();
            }

            if (!encode(now, key, sharpening_due, last_pass)) continue;

            next_send_ = pass_start + interval_;
            if (now - window_start_ >= 10s) {
                log(tag() + std::to_string(window_frames_) + " frames in 10 s, " +
                    one_decimal(to_ms(window_total_) / std::max<std::uint32_t>(window_frames_, 1)) +
                    " ms each to convert and encode");
                window_start_ = now;
                window_frames_ = 0;
                window_total_ = Duration::zero();
            }
            picture_new_ = false;
            last_encode_ = pass_start;
        }
    }

    // Opens a capture again; false when the pass must start over.
    bool reopen_capture(Instant now) {
        if (retry_pending(recovery_, now)) {
            sleep(20ms);
            return false;
        }
        const MonitorInfo monitor = seams_.capture->primary_monitor();
        auto opened = seams_.capture->open_capture(monitor);
        if (!opened.ok()) {
            if (!reopen_failure_logged_) {
                log("capture could not be opened again: " + opened.error().text);
                reopen_failure_logged_ = true;
            }
            report(PictureStopReason::captureFailed);
            return false;
        }
        reopen_failure_logged_ = false;
        backend_ = std::move(opened).value();
        const PictureSize size = backend_->size();
        const std::uint32_t w = even(size.width);
        const std::uint32_t h = even(size.height);
        source_pixels_ = std::uint64_t{size.width} * size.height;
        if (w != geometry_.capture_width || h != geometry_.capture_height || monitor.dpi != geometry_.monitor.dpi) {
            log("screen changed to " + std::to_string(w) + "x" + std::to_string(h));
            drop_encoder();
        }
        geometry_.monitor = monitor;
        geometry_.capture_width = w;
        geometry_.capture_height = h;
        // An encoder that is kept keeps its size: the picture it is fed must
        // be the size it was made for.
        if (!encoder_) {
            const bool hardware = may_use_hardware();
            geometry_.half = !hardware && source_pixels_ > kLargestFullSizeSoftwarePicture;
            geometry_.encoded_width = geometry_.half ? even(w >> 1) : w;
            geometry_.encoded_height = geometry_.half ? even(h >> 1) : h;
        }
        if (backend_->name() == kGdiName) duplication_retry_ = now + 2s;
        else duplication_retry_.reset();
        if (draw_mode_ == DrawMode::left_out && cursor_) cursor_->reset();
        control_.keyframe_wanted.store(1);
        draw_mode_ = DrawMode::not_applied;
        picture_new_ = true;
        return true;
    }

    // While on GDI, tries Desktop Duplication again from time to time.
    bool return_to_duplication(Instant now) {
        if (backend_->name() != kGdiName || !duplication_retry_ || now < *duplication_retry_) return true;
        CaptureBackendPtr duplication = seams_.capture->open_desktop_duplication(geometry_.monitor);
        if (!duplication) {
            duplication_retry_ = now + 4s;
            return true;
        }
        if (duplication->size() != backend_->size()) {
            duplication.reset();
            backend_.reset();
            return false;
        }
        log(tag() + "back on Desktop Duplication");
        const bool left_out = draw_mode_ == DrawMode::left_out;
        backend_ = std::move(duplication);
        control_.keyframe_wanted.store(1);
        if (left_out && cursor_) cursor_->reset();
        if (draw_mode_ != DrawMode::not_applied) backend_->set_draw_cursor(draw_mode_ == DrawMode::drawn);
        duplication_retry_.reset();
        return true;
    }

    bool make_encoder(Instant now) {
        if (retry_pending(recovery_, now)) {
            sleep(20ms);
            return false;
        }
        auto opened = open_encoder(geometry_.encoded_width, geometry_.encoded_height, may_use_hardware());
        if (!opened.ok()) {
            report(PictureStopReason::encoderFailed);
            return false;
        }
        encoder_ = std::move(opened).value();
        if (!encoder_->hardware() && !geometry_.half && source_pixels_ > kLargestFullSizeSoftwarePicture) {
            const std::uint32_t hw = even(geometry_.capture_width >> 1);
            const std::uint32_t hh = even(geometry_.capture_height >> 1);
            auto half = open_encoder(hw, hh, false);
            if (half.ok()) {
                encoder_ = std::move(half).value();
                geometry_.half = true;
                geometry_.encoded_width = hw;
                geometry_.encoded_height = hh;
            }
        }
        apply_target_for_size();
        log(tag() + std::to_string(geometry_.encoded_width) + "x" + std::to_string(geometry_.encoded_height) +
            " from " + std::to_string(geometry_.capture_width) + "x" + std::to_string(geometry_.capture_height) +
            " (" + std::string(backend_->name()) + "), " + std::to_string(fps_) + " fps, " +
            one_decimal(bitrate_.target / 1'000'000.0) + " Mbit/s, " + encoder_->name());
        encoder_made(now);
        return true;
    }

    void apply_target_for_size() {
        const std::uint32_t target =
            fit_bitrate_to_size(bitrate_, geometry_.encoded_width, geometry_.encoded_height, wishes_);
        if (encoder_->target_bitrate() != target) {
            encoder_->set_target_bitrate(target);
            if (!encoder_->sharpening()) encoder_->set_encoder_bitrate(target);
        }
    }

    // What every new encoder starts with.
    void encoder_made(Instant now) {
        resize_nv12();
        sets_ = ParameterSets{};
        announce_if_changed();
        control_.keyframe_wanted.store(1);
        fed_without_output_ = 0;
        slow_ring_.clear();
        // A new encoder has produced nothing yet and is not late.
        last_output_ = now;
    }

    // Converts and encodes the picture; false when the pass must start over.
    bool encode(Instant now, bool key, bool sharpening_pass, bool last_pass) {
        const Instant t0 = clock_.now();
        const PictureSize size = backend_->size();
        const ByteView pixels = backend_->pixels();
        if (size.width > std::numeric_limits<std::uint32_t>::max() ||
            size.height > std::numeric_limits<std::uint32_t>::max() ||
            pixels.size() < size.width * size.height * 4) {
            log("capture lost; reopening");
            backend_.reset();
            report(PictureStopReason::captureFailed);
            return false;
        }
        // The encoder and the buffer must both be of the encoded size.
        if (encoder_->width() != geometry_.encoded_width || encoder_->height() != geometry_.encoded_height ||
            nv12_.size() != std::size_t{geometry_.encoded_width} * geometry_.encoded_height * 3 / 2 ||
            !convert_to_nv12(pixels, static_cast<std::uint32_t>(size.width), static_cast<std::uint32_t>(size.height),
                             geometry_.half, geometry_.encoded_width, geometry_.encoded_height, nv12_)) {
            log(tag() + "the picture does not fit the " + encoder_->name() + " encoder; making a new one");
            drop_encoder();
            if (!allow_by_rate(rebuilds_, now)) report(PictureStopReason::encoderFailed);
            return false;
        }
        const std::int64_t sample_time = std::chrono::duration_cast<std::chrono::nanoseconds>(t0 - origin_).count() / 100;
        auto encoded = encoder_->encode_frame(nv12_, sample_time, key);

        std::optional<std::string> fault;
        if (!encoded.ok()) {
            fault = "failed (" + encoded.error().text + ")";
        } else {
            const auto& outs = encoded.value();
            if (outs.empty()) {
                if (fed_without_output_ < std::numeric_limits<std::uint32_t>::max()) fed_without_output_ += 1;
            } else {
                last_output_ = now;
                fed_without_output_ = 0;
                for (const auto& out : outs) {
                    const std::size_t bytes = send(out, last_pass);
                    if (sharpening_pass) {
                        bitrate_.sharpening_passes += 1;
                        bitrate_.sharpening_bytes += bytes;
                    }
                }
            }
            if (last_pass) encoder_->end_sharpening();
            if (encoder_->output_failed()) fault = "stopped";
            else if (fed_without_output_ >= 6 && now - last_output_ >= 2s) fault = "gave nothing back for 2 s";
        }
        if (fault) {
            log(tag() + "the " + encoder_->name() + " encoder " + *fault);
            if (encoder_->hardware()) {
                hardware_off_.store(true);
                log("hardware encoding is off until VorLix starts again; using the software encoder");
            }
            drop_encoder();
            if (!allow_by_rate(rebuilds_, now)) report(PictureStopReason::encoderFailed);
            return false;
        }

        const Duration took = clock_.now() - t0;
        window_total_ += took;
        window_frames_ += 1;
        if (!sharpening_pass) {
            slow_ring_.push_back(took);
            while (slow_ring_.size() > kSlowRingSize) slow_ring_.pop_front();
            if (slow_ring_.size() == kSlowRingSize && !geometry_.half) switch_to_half_if_slow(now);
        }
        return true;
    }

    void switch_to_half_if_slow(Instant now) {
        const Duration sum = std::accumulate(slow_ring_.begin(), slow_ring_.end(), Duration::zero());
        const Duration mean = sum / static_cast<int>(kSlowRingSize);
        if (mean <= std::chrono::milliseconds(slow_ms_)) return;
        const std::uint32_t hw = even(geometry_.capture_width >> 1);
        const std::uint32_t hh = even(geometry_.capture_height >> 1);
        EncoderSettings s;
        s.width = hw;
        s.height = hh;
        s.fps = fps_;
        s.bitrate = start_bitrate(hw, hh, wishes_);
        s.allow_hardware = encoder_->hardware();
        auto half = seams_.open_encoder ? seams_.open_encoder(s) : Result<std::unique_ptr<VideoEncoder>>(Error("no encoder"));
        if (!half.ok()) {
            // Measure afresh rather than try again after every picture.
            slow_ring_.clear();
            return;
        }
        log("encoding takes " + one_decimal(to_ms(mean)) + " ms a picture: sending " + std::to_string(hw) + "x" +
            std::to_string(hh) + " instead");
        encoder_ = std::move(half).value();
        geometry_.half = true;
        geometry_.encoded_width = hw;
        geometry_.encoded_height = hh;
        apply_target_for_size();
        encoder_made(now);
    }

    // ---- state -------------------------------------------------------------
    const StreamSettings& settings_;
    BitrateWishes wishes_;
    std::int64_t number_;
    StreamAudience& audience_;
    StreamControl& control_;
    const StreamSeams& seams_;
    LoopClock& clock_;
    std::atomic<bool>& hardware_off_;
    PictureStoppedCallback notify_;

    std::uint32_t fps_ = 60;
    Duration interval_{};
    bool hardware_allowed_ = true;
    std::uint32_t slow_ms_ = 40;
    std::uint32_t max_passes_ = 3;

    std::unique_ptr<CursorSender> cursor_;
    CaptureBackendPtr backend_;
    std::uint64_t source_pixels_ = 0;  // the back-end's own width x height
    StreamGeometry geometry_;
    std::unique_ptr<VideoEncoder> encoder_;
    ParameterSets sets_;
    Bytes nv12_;
    BitrateState bitrate_;
    RecoveryState recovery_;
    bool frames_flowing_ = false;
    RateLimiter rebuilds_ = encoder_rebuild_limiter();
    std::optional<StreamGeometry> announced_;
    DrawMode draw_mode_ = DrawMode::not_applied;
    bool reopen_failure_logged_ = false;

    Instant origin_{};
    Instant next_block_check_{};
    Instant next_send_{};
    Instant last_encode_{};
    std::optional<Instant> last_motion_;
    std::optional<Instant> last_pass_;
    Instant last_key_{};
    Instant last_output_{};
    Instant last_stats_{};
    Instant window_start_{};
    std::optional<Instant> duplication_retry_;

    std::uint32_t frames_sent_ = 0;
    std::uint32_t passes_ = 0;
    std::uint32_t fed_without_output_ = 0;
    std::uint32_t window_frames_ = 0;
    Duration window_total_{};
    std::deque<Duration> slow_ring_;
    bool picture_new_ = false;
};

}  // namespace

LoopClock& system_loop_clock() {
    static SystemLoopClock clock;
    return clock;
}

std::atomic<bool>& hardware_encoding_off() {
    static std::atomic<bool> flag{false};
    return flag;
}

std::uint32_t parse_slow_ms(const std::optional<std::string>& value) {
    constexpr std::uint32_t kDefault = 40;
    if (!value) return kDefault;
    std::string_view text = *value;
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return kDefault;
    std::uint32_t ms = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), ms);
    if (ec != std::errc() || end != text.data() + text.size()) return kDefault;
    return ms;
}

void run_stream(const StreamSettings& settings, std::int64_t stream_number, StreamAudience& audience,
                StreamControl& control, const StreamSeams& seams) {
    StreamRun run(settings, stream_number, audience, control, seams);
    run.run();
}

namespace {

// Waits for a stream's thread to end, taking its handle out of the control.
void wait_for_stream(StreamControl& stream) {
    std::optional<std::thread> handle;
    {
        std::lock_guard lock(stream.thread_mutex);
        handle.swap(stream.thread);
    }
    if (handle && handle->joinable()) handle->join();
}

// What a stream line is counted under: the line with its numbers left out.
std::string stream_line_kind(std::string_view line) {
    std::string kind;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const bool digit = line[i] >= '0' && line[i] <= '9';
        if (!digit) {
            kind.push_back(line[i]);
        } else if (i == 0 || line[i - 1] < '0' || line[i - 1] > '9') {
            kind.push_back('N');
        }
    }
    return log_safe_text(kind, 48);
}

std::string stream_thread_name(std::int64_t stream_number) {
    return "vorlix-stream-" + std::to_string(stream_number);
}

}  // namespace

void stream_thread(const StreamSettings& settings, std::int64_t stream_number,
                   std::shared_ptr<StreamAudience> audience, std::shared_ptr<StreamControl> previous,
                   std::shared_ptr<StreamControl> control, const StreamSeams& seams,
                   const SoundStarter& start_sound) {
    if (previous) {
        wait_for_stream(*previous);
        previous.reset();
    }
    if (control->running.load() == 0) return;

    std::optional<std::thread> sound;
    if (settings.audio && start_sound) sound = start_sound(control);

    try {
        run_stream(settings, stream_number, *audience, *control, seams);
    } catch (const std::exception& fault) {
        const std::string line = "stream #" + std::to_string(stream_number) + " stopped by a fault: " + fault.what();
        if (seams.log) seams.log(line);
        else log_line(line);
        audience->notice(kFaultNotice);
    } catch (...) {
        const std::string line = "stream #" + std::to_string(stream_number) + " stopped by a fault: unknown";
        if (seams.log) seams.log(line);
        else log_line(line);
        audience->notice(kFaultNotice);
    }

    control->running.store(0);
    if (sound && sound->joinable()) sound->join();
}

StreamSlot::StreamSlot(StreamSeams seams, SoundStarter start_sound, ThreadRunner runner)
    : seams_(std::move(seams)),
      start_sound_(std::move(start_sound)),
      runner_(std::move(runner)),
      pointer_on_device_(std::make_shared<std::atomic<std::uint32_t>>(0)) {}

StreamSlot::~StreamSlot() {
    std::shared_ptr<StreamControl> last;
    {
        std::lock_guard lock(mutex_);
        last = std::move(current_);
    }
    if (!last) return;
    last->running.store(0);
    wait_for_stream(*last);
}

void StreamSlot::start_stream(const StreamSettings& settings, std::int64_t stream_number,
                              std::shared_ptr<StreamAudience> audience, SoundStarter start_sound) {
    if (!start_sound) start_sound = start_sound_;
    std::shared_ptr<StreamControl> orphan;
    Waiting replaced;  // released outside the lock
    {
        std::lock_guard lock(mutex_);
        if (waiting_) {
            // A stream already waits for the previous one to end: it takes
            // these settings in place of its own, and no thread is added.
            replaced = std::exchange(*waiting_, Waiting{waiting_->control, settings, stream_number,
                                                        std::move(audience), std::move(start_sound)});
            StreamControl& control = *waiting_->control;
            control.running.store(1);  // a stop while it waited is overtaken
            control.keyframe_wanted.store(1);
            control.sound.store(settings.audio ? 1 : 0);
            return;
        }
        std::shared_ptr<StreamControl> previous = std::move(current_);
        if (previous) previous->running.store(0);

        auto control = std::make_shared<StreamControl>();
        control->pointer_on_device = pointer_on_device_;
        control->running.store(1);
        control->keyframe_wanted.store(1);
        control->sound.store(settings.audio ? 1 : 0);
        waiting_ = Waiting{control, settings, stream_number, std::move(audience), std::move(start_sound)};

        try {
            std::thread thread([this, previous, control, name = stream_thread_name(stream_number)]() mutable {
                set_current_thread_name(name);
                DivertedLines diverted([this](std::string_view line) { lines_.write(stream_line_kind(line), line); });
                auto body = [&] {
                    if (previous) wait_for_stream(*previous);
                    previous.reset();
                    // The settings are taken only now: the newest that came while this thread waited.
                    Waiting run;
                    {
                        std::lock_guard lock(mutex_);
                        if (!waiting_ || waiting_->control != control) return;
                        run = std::exchange(*waiting_, Waiting{});
                        waiting_.reset();
                    }
                    const std::string taken = stream_thread_name(run.stream_number);
                    if (taken != name) set_current_thread_name(taken);
                    stream_thread(run.settings, run.stream_number, run.audience, nullptr, control, seams_,
                                  run.start_sound);
                };
                if (runner_) runner_(body);
                else body();
            });
            std::lock_guard thread_lock(control->thread_mutex);
            control->thread = std::move(thread);
            current_ = std::move(control);
        } catch (const std::exception& error) {
            const std::string line = std::string("could not start the stream: ") + error.what();
            if (seams_.log) seams_.log(line);
            else log_line(line);
            replaced = std::exchange(*waiting_, Waiting{});
            waiting_.reset();
            orphan = std::move(previous);
        }
    }
    // The previous stream was told to stop; with no successor to wait for
    // it, wait here.
    if (orphan) wait_for_stream(*orphan);
}

void StreamSlot::stop_stream() {
    std::lock_guard lock(mutex_);
    if (current_) current_->running.store(0);
}

void StreamSlot::request_keyframe() {
    std::lock_guard lock(mutex_);
    if (current_) current_->keyframe_wanted.store(1);
}

void StreamSlot::set_stream_audio(bool on) {
    std::lock_guard lock(mutex_);
    if (current_) current_->sound.store(on ? 1 : 0);
}

void StreamSlot::set_pointer_on_device(std::uint32_t value) { pointer_on_device_->store(value); }

std::shared_ptr<StreamControl> StreamSlot::current() {
    std::lock_guard lock(mutex_);
    return current_;
}

}  // namespace vorlix
