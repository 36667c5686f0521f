#include "stream/stream_output.h"

#include "host/log.h"
#include "control/messages.h"
#include "stream/video_frame.h"
#include "wire/frame.h"

namespace vorlix {

namespace {

class OutputAudience final : public StreamAudience {
public:
    OutputAudience(std::shared_ptr<StreamOutput> output, std::function<void(std::string_view)> log)
        : out_(std::move(output)), log_(std::move(log)) {}

    bool closed() override {
        if (device()) return !out_->link.running();
        return !out_->watchers || out_->watchers->size() == 0;
    }

    bool must_wait(Instant now) override {
        if (!device()) return false;
        const std::uint64_t queued = out_->link.queued_video_frames();
        const auto clamped = static_cast<std::uint32_t>(std::min<std::uint64_t>(queued, UINT32_MAX));
        if (!out_->ledger) return clamped > 2;
        return video_frame_must_wait(clamped, *out_->ledger, now);
    }

    std::optional<std::uint64_t> best_delivered_rate() override {
        return device() && out_->ledger ? out_->ledger->best_delivered_rate() : std::nullopt;
    }
    std::optional<std::uint64_t> acked_rate() override {
        return device() && out_->ledger ? out_->ledger->acked_rate() : std::nullopt;
    }

    std::size_t send_output(ParameterSets& sets, VideoEncoder& encoder, const EncodedOutput& output,
                            std::uint32_t& frames_sent, Instant origin, bool last_pass, Instant now) override {
        auto frame = prepare_video_frame(sets, output.bytes, output.sample_time, frames_sent, now - origin, last_pass,
                                         [&] { return encoder.sequence_header(); });
        if (!frame) return 0;
        if (auto line = first_video_log_text(*frame)) log(*line);
        frames_sent += 1;
        send_video_frame(*frame, now);
        return frame->data.size();
    }

    void announce(const StreamGeometry& geometry, std::uint32_t fps, std::int64_t stream_number) override {
        const std::string message = stream_info_message(geometry, fps, stream_number);
        if (out_->stream_info) out_->stream_info(geometry.encoded_width, geometry.encoded_height, fps);
        if (device()) queue_control_bytes(out_->link, message);
        if (!out_->watchers) return;
        std::vector<LinkWriter> writers;
        {
            auto guard = out_->watchers->lock();
            out_->watchers->last_stream_info = message;
            for (auto& entry : out_->watchers->entries) {
                entry.waiting_for_key_frame = true;
                writers.push_back(entry.writer);
            }
        }
        for (const auto& writer : writers) queue_control_bytes(writer, message);
    }

    void picture_stopped(std::uint8_t value) override {
        if (out_->picture_stopped) out_->picture_stopped(value);
    }

    void notice(std::string_view text) override {
        if (device()) queue_control_bytes(out_->link, notice_message(text));
    }

    void send_to_all(const std::string& message) override {
        if (device()) queue_control_bytes(out_->link, message);
        if (!out_->watchers) return;
        for (const LinkWriter& writer : out_->watchers->writers()) queue_control_bytes(writer, message);
    }

private:
    bool device() const { return out_->kind == StreamOutput::Kind::device_session; }

    void log(const std::string& line) {
        if (log_) log_(line);
        else log_line(line);
    }

    void send_video_frame(const VideoFrame& frame, Instant now) {
        const Bytes body = encode_video_frame(frame);
        if (out_->watchers) {
            std::vector<LinkWriter> receivers;
            WebWatcherRegistry::KeyFrameCallback ask_for_key_frame;
            {
                auto guard = out_->watchers->lock();
                auto& entries = out_->watchers->entries;
                std::vector<WatcherVideoState> states;
                states.reserve(entries.size());
                for (const auto& e : entries) {
                    const std::uint64_t queued = e.writer.queued_video_frames();
                    states.push_back({e.waiting_for_key_frame,
                                      static_cast<std::uint32_t>(std::min<std::uint64_t>(queued, UINT32_MAX)),
                                      e.browser});
                }
                const WatcherFrameGate gate =
                    gate_watchers_for_frame(states, frame.key, out_->watchers->last_key_frame_request, now);
                for (std::size_t i = 0; i < entries.size(); ++i) {
                    entries[i].waiting_for_key_frame = states[i].waiting_for_key_frame;
                    if (gate.receives[i]) receivers.push_back(entries[i].writer);
                }
                if (gate.request_key_frame) ask_for_key_frame = out_->watchers->key_frame_callback;
            }
            for (auto& writer : receivers)
                if (writer.running()) writer.send_video_frame(FrameType::Video, body);
            if (ask_for_key_frame) ask_for_key_frame();
        }
        if (device()) {
            if (out_->ledger) out_->ledger->record_sent_frame(frame.frame_number, body.size(), now);
            if (out_->link.running()) out_->link.send_video_frame(FrameType::Video, body);
        }
    }

    std::shared_ptr<StreamOutput> out_;
    std::function<void(std::string_view)> log_;
};

}  // namespace

std::string stream_info_message(const StreamGeometry& geometry, std::uint32_t fps, std::int64_t stream_number) {
    const PointsSize points = stream_points(geometry.capture_width, geometry.capture_height, geometry.monitor.dpi);
    StreamInfo info;
    info.pixels_wide = geometry.encoded_width;
    info.pixels_high = geometry.encoded_height;
    info.points_wide = points.wide;
    info.points_high = points.high;
    info.fps = fps;
    info.codec = "h264";
    info.fitted = false;
    info.generation = static_cast<std::int64_t>(stream_number);
    return encode_control_message(control::StreamInfo{info});
}

std::string notice_message(std::string_view text) { return encode_control_message(control::Notice{std::string(text)}); }

std::shared_ptr<StreamAudience> make_output_audience(std::shared_ptr<StreamOutput> output,
                                                     std::function<void(std::string_view)> log) {
    return std::make_shared<OutputAudience>(std::move(output), std::move(log));
}

}  // namespace vorlix
