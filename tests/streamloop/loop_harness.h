// A stream loop on the virtual clock with scripted capture and encoders,
// and an audience that records what reaches the device.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "h264/annexb.h"
#include "stream/stream_loop.h"
#include "support/fake_encoder.h"
#include "support/synthetic_capture.h"

namespace vorlix::testing {

struct SentFrame {
    std::uint32_t number = 0;
    bool key = false;
    bool last_pass = false;
    Duration at{};  // from the stream's time origin
    std::size_t bytes = 0;
    std::size_t parameter_sets = 0;
    std::uint32_t encode_number = 0;
};

class RecordingAudience final : public StreamAudience {
public:
    explicit RecordingAudience(VirtualClock& clock) : clock_(clock) {}

    bool closed() override {
        closes_checked += 1;
        return clock_.now() >= stop_at || (stop_when && stop_when());
    }
    bool must_wait(Instant now) override { return gate && gate(now); }
    std::optional<std::uint64_t> best_delivered_rate() override { return best; }
    std::optional<std::uint64_t> acked_rate() override { return steady; }

    std::size_t send_output(ParameterSets& sets, VideoEncoder& encoder, const EncodedOutput& output,
                            std::uint32_t& frames_sent, Instant origin, bool last_pass, Instant now) override {
        PackedOutput packed = find_nal_units(sets, output.bytes);
        if (packed.bytes.empty()) return 0;
        if (packed.key && (!sets.sps || !sets.pps)) {
            if (auto header = encoder.sequence_header()) store_parameter_sets(sets, *header);
        }
        SentFrame f;
        f.number = frames_sent;
        f.key = packed.key;
        f.last_pass = last_pass;
        f.at = now - origin;
        f.bytes = packed.bytes.size();
        f.parameter_sets = packed.key ? collect_parameter_sets(sets).size() : 0;
        if (auto info = read_fake_output(packed.bytes)) f.encode_number = info->encode_number;
        frames.push_back(f);
        frames_sent += 1;
        return packed.bytes.size();
    }
    void announce(const StreamGeometry& geometry, std::uint32_t, std::int64_t) override {
        announcements.push_back(geometry);
    }
    void picture_stopped(std::uint8_t value) override { stops.push_back(value); }
    void notice(std::string_view text) override { notices.emplace_back(text); }
    void send_to_all(const std::string& message) override { to_all.push_back(message); }

    Instant stop_at = Instant::max();
    std::function<bool()> stop_when;
    std::function<bool(Instant)> gate;
    std::optional<std::uint64_t> best;
    std::optional<std::uint64_t> steady;

    std::vector<SentFrame> frames;
    std::vector<StreamGeometry> announcements;
    std::vector<std::uint8_t> stops;
    std::vector<std::string> notices;
    std::vector<std::string> to_all;
    int closes_checked = 0;

private:
    VirtualClock& clock_;
};

struct LoopHarness {
    VirtualClock clock;
    SyntheticScreen screen{clock};
    SyntheticCaptureSystem system{screen};
    FakeEncoderFactory encoders{&clock};
    RecordingAudience audience{clock};
    StreamControl control;
    std::atomic<bool> hardware_off{false};
    std::vector<std::string> lines;
    StreamSettings settings;
    std::optional<std::string> encoder_setting;
    std::optional<std::string> slow_ms_setting;
    std::function<std::unique_ptr<CursorSender>()> cursor_sender;

    // A changing screen and encoders that take 50 ms a picture at full size
    // (64 pixels wide) and 5 ms at half size: the loop soon halves.
    void slow_at_full_size() {
        screen.otherwise = SyntheticGrab::picture(1.0);
        encoders.choose = [](const EncoderSettings& s) {
            FakeEncoderPlan plan;
            plan.encode_time = s.width == 64 ? std::chrono::milliseconds(50) : std::chrono::milliseconds(5);
            return plan;
        };
    }

    LoopHarness() {
        settings.fps = 30;
        settings.quality = "sharp";
        control.pointer_on_device = std::make_shared<std::atomic<std::uint32_t>>(0);
        encoders.otherwise.encode_time = Duration::zero();
        screen.grab_time = std::chrono::milliseconds(10);
    }

    StreamSeams seams() {
        StreamSeams s;
        s.clock = &clock;
        s.capture = &system;
        s.open_encoder = encoders.opener();
        s.cursor_sender = cursor_sender;
        s.log = [this](std::string_view line) { lines.emplace_back(line); };
        s.encoder_setting = encoder_setting;
        s.slow_ms_setting = slow_ms_setting;
        s.hardware_encoding_off = &hardware_off;
        return s;
    }

    // Runs the loop until the virtual clock has moved `d` (or `stop_when`).
    void run_for(Duration d, std::int64_t stream_number = 1) {
        audience.stop_at = clock.now() + d;
        const StreamSeams s = seams();
        run_stream(settings, stream_number, audience, control, s);
    }

    int count_lines(std::string_view part) const {
        return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.find(part) != std::string::npos;
        }));
    }
    bool has_line(std::string_view whole) const {
        return std::find(lines.begin(), lines.end(), whole) != lines.end();
    }
    std::string all_lines() const {
        std::string out;
        for (const auto& l : lines) out += l + "\n";
        return out;
    }
};

inline std::int64_t ms(Duration d) { return std::chrono::duration_cast<std::chrono::milliseconds>(d).count(); }

}  // namespace vorlix::testing
