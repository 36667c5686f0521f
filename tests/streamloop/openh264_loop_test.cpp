// The loop with a real encoder: every frame the audience receives decodes
// back to the picture the synthetic screen showed.
#include <gtest/gtest.h>

#include "convert/nv12.h"
#include "streamloop/loop_harness.h"
#include "streamloop/openh264_codec.h"

#ifdef VORLIX_HAVE_OPENH264

namespace vorlix::testing {
namespace {

using namespace std::chrono_literals;

// Rebuilds Annex-B from a frame's parameter sets and length-prefixed units.
Bytes to_annexb(const std::vector<Bytes>& parameter_sets, ByteView packed) {
    Bytes out;
    for (const auto& set : parameter_sets) {
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), set.begin(), set.end());
    }
    std::size_t at = 0;
    while (at + 4 <= packed.size()) {
        const std::uint32_t len = get_u32_be(packed.data() + at);
        at += 4;
        if (at + len > packed.size()) break;
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), packed.begin() + static_cast<std::ptrdiff_t>(at),
                   packed.begin() + static_cast<std::ptrdiff_t>(at + len));
        at += len;
    }
    return out;
}

class DecodingAudience final : public StreamAudience {
public:
    DecodingAudience(VirtualClock& clock, SyntheticScreen& screen) : clock_(clock), screen_(screen) {}
    bool closed() override { return clock_.now() >= stop_at; }
    bool must_wait(Instant) override { return false; }
    std::optional<std::uint64_t> best_delivered_rate() override { return std::nullopt; }
    std::optional<std::uint64_t> acked_rate() override { return std::nullopt; }
    std::size_t send_output(ParameterSets& sets, VideoEncoder& encoder, const EncodedOutput& output,
                            std::uint32_t& frames_sent, Instant, bool, Instant) override {
        PackedOutput packed = find_nal_units(sets, output.bytes);
        if (packed.bytes.empty()) return 0;
        if (packed.key && (!sets.sps || !sets.pps)) {
            if (auto header = encoder.sequence_header()) store_parameter_sets(sets, *header);
        }
        const auto parameter_sets = packed.key ? collect_parameter_sets(sets) : std::vector<Bytes>{};
        if (packed.key) keys += 1;
        frames_sent += 1;
        auto picture = decoder.decode(to_annexb(parameter_sets, packed.bytes));
        if (picture) {
            const std::size_t w = static_cast<std::size_t>(picture->width);
            const std::size_t h = static_cast<std::size_t>(picture->height);
            Bytes expected(w * h * 3 / 2);
            const PictureSize size{static_cast<std::size_t>(screen_.monitor.width),
                                   static_cast<std::size_t>(screen_.monitor.height)};
            if (convert_to_nv12(screen_.last_picture, static_cast<std::uint32_t>(size.width),
                                static_cast<std::uint32_t>(size.height), false, static_cast<std::uint32_t>(w),
                                static_cast<std::uint32_t>(h), expected)) {
                psnrs.push_back(psnr(picture->y, ByteView(expected).first(w * h)));
            }
            decoded += 1;
        }
        return packed.bytes.size();
    }
    void announce(const StreamGeometry&, std::uint32_t, std::int64_t) override {}
    void picture_stopped(std::uint8_t) override {}
    void notice(std::string_view) override {}
    void send_to_all(const std::string&) override {}

    Instant stop_at = Instant::max();
    OpenH264Decoder decoder;
    int keys = 0;
    int decoded = 0;
    std::vector<double> psnrs;

private:
    VirtualClock& clock_;
    SyntheticScreen& screen_;
};

TEST(StreamLoopOpenH264, EveryFrameDecodesToTheScreensPicture) {
    LoopHarness h;
    h.screen.monitor.width = 320;
    h.screen.monitor.height = 240;
    h.screen.otherwise = SyntheticGrab::picture(0.3);
    h.screen.grab_time = 33ms;
    DecodingAudience audience(h.clock, h.screen);
    ASSERT_TRUE(audience.decoder.ok());
    audience.stop_at = h.clock.now() + 3s;
    StreamSeams seams = h.seams();
    seams.open_encoder = open_openh264_encoder;
    run_stream(h.settings, 1, audience, h.control, seams);

    EXPECT_GE(audience.decoded, 60) << h.all_lines();
    EXPECT_GE(audience.keys, 1);
    ASSERT_FALSE(audience.psnrs.empty());
    for (double p : audience.psnrs) EXPECT_GT(p, 35.0);
}

}  // namespace
}  // namespace vorlix::testing

#endif
