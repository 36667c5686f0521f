#include "h264/encoder_h264.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <system_error>
#include <utility>

#include "util/thread_name.h"
#include "host/log.h"

namespace vorlix {

namespace {

// A transform that keeps announcing stream changes would otherwise hold the
// stream thread for good; after this many in a row the change is an error.
constexpr int kMaxStreamChangesInARow = 16;

constexpr std::uint32_t kRateControlConstantBitrate = 0;
constexpr std::uint32_t kQualityVsSpeed = 40;
constexpr std::uint32_t kKeyFrameSeconds = 8;
constexpr std::uint32_t kSharpeningMaxQp = 24;
constexpr std::uint32_t kNormalMaxQp = 51;

std::string code_text(ResultCode code) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(code));
    return hex;
}

}  // namespace

std::uint32_t output_buffer_size(std::uint32_t stated_size, std::uint32_t width, std::uint32_t height) {
    constexpr std::uint64_t kAtLeast = 1'048'576;
    const std::uint64_t picture = std::uint64_t{width} * height * 3 / 2;
    const std::uint64_t size = std::max({std::uint64_t{stated_size}, picture, kAtLeast});
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(size, std::numeric_limits<std::uint32_t>::max()));
}

Error transform_error(EncoderTransform& transform, ResultCode code) {
    return result_code_error(code, transform.describe(code));
}

Error result_code_error(ResultCode code, std::string message) {
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    if (message.empty()) return Error(code_text(code));
    return Error(message + " (" + code_text(code) + ")");
}

std::vector<EncodedOutput> EncoderEvents::take_outputs() {
    std::lock_guard lock(output_lock);
    std::vector<EncodedOutput> taken;
    taken.swap(outputs);
    return taken;
}

Result<std::optional<EncodedOutput>> pull_one_output(EncoderTransform& transform, std::uint32_t width,
                                                     std::uint32_t height, bool& more) {
    for (int changes = 0;;) {
        OutputStreamInfo info;
        ResultCode code = transform.output_stream_info(info);
        if (!code_succeeded(code)) return transform_error(transform, code);
        const std::uint32_t buffer = info.provides_samples ? 0 : output_buffer_size(info.size, width, height);

        std::optional<EncodedOutput> output;
        code = transform.process_output(buffer, output);
        if (code_succeeded(code)) return output;
        if (code == result_codes::need_more_input) {
            more = false;
            return std::optional<EncodedOutput>{};
        }
        if (code != result_codes::stream_change || ++changes > kMaxStreamChangesInARow)
            return transform_error(transform, code);
        code = transform.use_first_available_output_type();
        if (!code_succeeded(code)) return transform_error(transform, code);
    }
}

void run_encoder_events(std::shared_ptr<TransformEventSource> source, std::shared_ptr<EncoderTransform> transform,
                        std::uint32_t width, std::uint32_t height, std::shared_ptr<EncoderEvents> events) {
    set_current_thread_name("vorlix-encoder-events");
    const bool entered = source->enter_thread();
    for (bool going = true; going;) {
        const TransformEventRead read = source->next_event();
        if (read.kind == TransformEventRead::Kind::ended) break;
        if (read.kind == TransformEventRead::Kind::unreadable) continue;
        switch (read.type) {
            case kEventNeedInput: {
                {
                    std::lock_guard lock(events->request_lock);
                    ++events->input_requests;
                }
                events->wake_up.notify_all();
                break;
            }
            case kEventHaveOutput: {
                bool more = true;
                auto pulled = pull_one_output(*transform, width, height, more);
                if (!pulled.ok()) {
                    log_line("hardware encoder output failed: " + pulled.error().text);
                    events->output_failed = true;
                    events->wake_up.notify_all();
                } else if (pulled->has_value()) {
                    {
                        std::lock_guard lock(events->output_lock);
                        events->outputs.push_back(std::move(**pulled));
                    }
                    events->wake_up.notify_all();
                }
                break;
            }
            case kEventDrainComplete:
                going = false;
                break;
            default:
                break;
        }
    }
    // The thread's own references go while it is still in the platform's
    // threading model.
    transform.reset();
    source->leave_thread(entered);
    source.reset();
    {
        std::lock_guard lock(events->output_lock);
        events->thread_ended = true;
    }
    events->wake_up.notify_all();
}

H264Encoder::H264Encoder(Parts parts)
    : transform_(std::move(parts.transform)),
      name_(std::move(parts.name)),
      hardware_(parts.hardware),
      width_(parts.settings.width),
      height_(parts.settings.height),
      fps_(parts.settings.fps),
      target_bitrate_(parts.settings.bitrate),
      events_(std::move(parts.events)),
      events_thread_(std::move(parts.events_thread)),
      waits_(parts.waits) {
    codec_settings_ = transform_->has_codec_settings();
}

H264Encoder::~H264Encoder() { shut_down(); }

void H264Encoder::shut_down() {
    if (events_) {
        transform_->process_message(TransformMessage::end_of_stream);
        transform_->process_message(TransformMessage::command_drain);
    }
    transform_->process_message(TransformMessage::end_streaming);
    transform_->shutdown();
    if (events_thread_.joinable()) {
        bool ended;
        {
            std::unique_lock lock(events_->output_lock);
            ended = events_->wake_up.wait_for(lock, waits_.thread_end, [&] { return events_->thread_ended; });
        }
        // A thread still waiting for an event holds its own references and
        // ends when its request fails; it is not waited for any longer.
        if (ended)
            events_thread_.join();
        else
            events_thread_.detach();
    }
    transform_.reset();
}

Result<std::vector<EncodedOutput>> H264Encoder::encode_frame(ByteView nv12, std::int64_t sample_time,
                                                             bool force_key_frame) {
    const std::uint64_t expected = std::uint64_t{width_} * height_ * 3 / 2;
    if (nv12.size() != expected) {
        return Error("the picture is " + std::to_string(nv12.size()) + " bytes; the encoder takes " +
                     std::to_string(expected));
    }
    if (force_key_frame && codec_settings_) transform_->set_codec_value(CodecProperty::force_key_frame, 1);

    const std::int64_t duration = 10'000'000 / static_cast<std::int64_t>(std::max<std::uint32_t>(fps_, 1));
    const ResultCode code = transform_->prepare_input(nv12, sample_time, duration);
    if (!code_succeeded(code)) return transform_error(*transform_, code);

    return events_ ? encode_async({}) : encode_sync();
}

Result<std::vector<EncodedOutput>> H264Encoder::encode_async(std::vector<EncodedOutput> collected) {
    {
        std::unique_lock requests(events_->request_lock);
        const bool asked =
            events_->wake_up.wait_for(requests, waits_.input_request, [&] { return events_->input_requests > 0; });
        if (!asked) {
            // The picture is dropped; whatever came out meanwhile is still
            // handed on.
            return events_->take_outputs();
        }
        --events_->input_requests;
    }
    const ResultCode code = transform_->process_input();
    if (!code_succeeded(code)) return transform_error(*transform_, code);

    std::unique_lock outputs(events_->output_lock);
    events_->wake_up.wait_for(outputs, waits_.outputs, [&] { return !events_->outputs.empty(); });
    collected.swap(events_->outputs);
    events_->outputs.clear();
    return collected;
}

Status H264Encoder::pull_outputs(std::vector<EncodedOutput>& collected) {
    for (;;) {
        bool more = true;
        auto pulled = pull_one_output(*transform_, width_, height_, more);
        if (!pulled.ok()) return pulled.error();
        if (!pulled->has_value()) return {};
        collected.push_back(std::move(**pulled));
    }
}

Result<std::vector<EncodedOutput>> H264Encoder::encode_sync() {
    std::vector<EncodedOutput> collected;
    ResultCode code = transform_->process_input();
    if (code == result_codes::not_accepting) {
        Status pulled = pull_outputs(collected);
        if (!pulled.ok()) return pulled.error();
        code = transform_->process_input();
    }
    if (!code_succeeded(code)) return transform_error(*transform_, code);
    Status pulled = pull_outputs(collected);
    if (!pulled.ok()) return pulled.error();
    return collected;
}

void H264Encoder::set_encoder_bitrate(std::uint32_t bits_per_second) {
    if (!codec_settings_) return;
    const ResultCode code = transform_->set_codec_value(CodecProperty::mean_bitrate, bits_per_second);
    if (!code_succeeded(code) && !bitrate_refusal_logged_) {
        bitrate_refusal_logged_ = true;
        log_line(name_ + ": refused a new bitrate while running");
    }
}

void H264Encoder::start_sharpening(std::uint32_t bits_per_second) {
    if (target_bitrate_ >= bits_per_second || sharpening_ == bits_per_second) return;
    sharpening_ = bits_per_second;
    set_encoder_bitrate(bits_per_second);
    if (!codec_settings_) return;
    const ResultCode code = transform_->set_codec_value(CodecProperty::max_qp, kSharpeningMaxQp);
    if (!sharpening_logged_) {
        sharpening_logged_ = true;
        log_line(std::string("sharpening: quantiser ceiling ") +
                 (code_succeeded(code) ? "set" : "refused by this encoder"));
    }
}

void H264Encoder::end_sharpening() {
    if (!sharpening_) return;
    sharpening_.reset();
    set_encoder_bitrate(target_bitrate_);
    if (codec_settings_) transform_->set_codec_value(CodecProperty::max_qp, kNormalMaxQp);
}

std::optional<Bytes> H264Encoder::sequence_header() { return transform_->sequence_header(); }

bool H264Encoder::output_failed() const { return events_ && events_->output_failed.load(); }

std::vector<EncodedOutput> H264Encoder::take_outputs() {
    if (!events_) return {};
    return events_->take_outputs();
}

namespace {

// Settings that hardware encoders fix when their media types are set: they
// go in before the output type as well as after the types, where other
// encoders take them.
struct StaticSetting {
    CodecProperty property;
    const char* name;
    std::uint32_t value;
};

std::array<StaticSetting, 3> static_settings(const EncoderSettings& settings) {
    return {{{CodecProperty::rate_control_mode, "rate control mode", kRateControlConstantBitrate},
             {CodecProperty::default_b_picture_count, "B-picture count", 0},
             {CodecProperty::gop_size, "GOP size", settings.fps * kKeyFrameSeconds}}};
}

}  // namespace

Status configure_transform(EncoderTransform& transform, const EncoderSettings& settings, const std::string& name) {
    const bool codec_settings = transform.has_codec_settings();
    const auto fixed = static_settings(settings);
    std::array<bool, fixed.size()> refused_early{};
    if (codec_settings) {
        for (std::size_t i = 0; i < fixed.size(); ++i)
            refused_early[i] = !code_succeeded(transform.set_codec_value(fixed[i].property, fixed[i].value));
    }

    OutputTypeSpec output{settings.width, settings.height, settings.fps, settings.bitrate, kProfileHigh};
    ResultCode code = transform.set_output_type(output);
    if (!code_succeeded(code)) {
        output.profile = kProfileMain;
        code = transform.set_output_type(output);
        if (!code_succeeded(code)) return transform_error(transform, code);
    }
    code = transform.set_input_type(InputTypeSpec{settings.width, settings.height, settings.fps});
    if (!code_succeeded(code)) return transform_error(transform, code);

    if (codec_settings) {
        // A value refused both before and after the types is one the
        // encoder does not take at all: it keeps its own, said once.
        auto set_again = [&](std::size_t i) {
            if (!code_succeeded(transform.set_codec_value(fixed[i].property, fixed[i].value)) && refused_early[i])
                log_line(name + ": refused the " + fixed[i].name + " " + std::to_string(fixed[i].value));
        };
        transform.set_codec_value(CodecProperty::low_latency_mode, 1);
        set_again(0);
        transform.set_codec_value(CodecProperty::mean_bitrate, settings.bitrate);
        set_again(1);
        set_again(2);
        transform.set_codec_value(CodecProperty::quality_vs_speed, kQualityVsSpeed);
    }

    code = transform.process_message(TransformMessage::begin_streaming);
    if (!code_succeeded(code)) return transform_error(transform, code);
    code = transform.process_message(TransformMessage::start_of_stream);
    if (!code_succeeded(code)) return transform_error(transform, code);
    return {};
}

namespace {

// Sets an activated hardware encoder up; any error refuses it.
Result<std::unique_ptr<H264Encoder>> set_up_hardware_encoder(std::shared_ptr<EncoderTransform> transform,
                                                             std::string name, const EncoderSettings& settings,
                                                             const EncoderWaits& waits) {
    const bool asynchronous = transform->async_attribute().value_or(0) != 0;
    if (asynchronous) {
        const ResultCode code = transform->unlock_async();
        if (!code_succeeded(code)) return transform_error(*transform, code);
    }
    transform->set_low_latency_attribute();

    Status configured = configure_transform(*transform, settings, name);
    if (!configured.ok()) return configured.error();

    H264Encoder::Parts parts;
    parts.name = std::move(name);
    parts.hardware = true;
    parts.settings = settings;
    parts.waits = waits;
    if (asynchronous) {
        auto source = transform->event_source();
        if (!source.ok()) return source.error();
        parts.events = std::make_shared<EncoderEvents>();
        try {
            parts.events_thread = std::thread(run_encoder_events, *source, transform, settings.width,
                                              settings.height, parts.events);
        } catch (const std::system_error& e) {
            return Error(std::string("no thread for the encoder: ") + e.what());
        }
    }
    parts.transform = std::move(transform);
    return std::make_unique<H264Encoder>(std::move(parts));
}

Result<std::unique_ptr<H264Encoder>> try_hardware_encoder(EncoderCandidate& candidate, std::string name,
                                                          const EncoderSettings& settings,
                                                          const EncoderWaits& waits) {
    auto activated = candidate.activate();
    if (!activated.ok()) return activated.error();
    auto encoder = set_up_hardware_encoder(std::move(*activated), std::move(name), settings, waits);
    // Hardware encoder sessions are few: a refused one gives its session back.
    if (!encoder.ok()) candidate.shutdown_object();
    return encoder;
}

}  // namespace

Result<std::unique_ptr<H264Encoder>> open_h264_encoder(EncoderSystem& system, const EncoderSettings& settings,
                                                       const EncoderWaits& waits) {
    Status started = system.startup();
    if (!started.ok()) return started.error();

    if (settings.allow_hardware) {
        for (auto& candidate : system.hardware_encoders()) {
            std::string name = candidate->friendly_name().value_or("?");
            auto opened = try_hardware_encoder(*candidate, name, settings, waits);
            if (opened.ok()) return std::move(*opened);
            log_line("hardware encoder " + name + " refused: " + opened.error().text);
        }
    }

    auto software = system.software_encoder();
    if (!software.ok()) return software.error();
    Status configured = configure_transform(**software, settings, kSoftwareEncoderName);
    if (!configured.ok()) return configured.error();

    H264Encoder::Parts parts;
    parts.transform = std::move(*software);
    parts.name = kSoftwareEncoderName;
    parts.hardware = false;
    parts.settings = settings;
    parts.waits = waits;
    return std::make_unique<H264Encoder>(std::move(parts));
}

}  // namespace vorlix
