#include "stream/sound.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace vorlix {
namespace {

TEST(MixFormat, OnlyFloat32AndInt16WithChannelsAndARate) {
    const MixFormat float_mix{kWaveFormatIeeeFloat, false, 48'000, 2, 32};
    const MixFormat extensible{kWaveFormatExtensible, true, 44'100, 6, 32};
    const MixFormat pcm16{1, false, 44'100, 1, 16};
    EXPECT_EQ(classify_mix_format(float_mix), MixSamples::float32);
    EXPECT_EQ(classify_mix_format(extensible), MixSamples::float32);
    EXPECT_EQ(classify_mix_format(pcm16), MixSamples::int16);
    EXPECT_EQ(classify_mix_format({kWaveFormatExtensible, false, 48'000, 2, 16}), MixSamples::int16);
    EXPECT_EQ(classify_mix_format({kWaveFormatExtensible, false, 48'000, 2, 24}),
              MixSamples::not_handled);
    EXPECT_EQ(classify_mix_format({kWaveFormatIeeeFloat, false, 48'000, 2, 64}),
              MixSamples::not_handled);
    EXPECT_EQ(classify_mix_format({kWaveFormatIeeeFloat, false, 48'000, 0, 32}),
              MixSamples::not_handled);
    EXPECT_EQ(classify_mix_format({kWaveFormatIeeeFloat, false, 0, 2, 32}), MixSamples::not_handled);
    EXPECT_EQ(mix_format_log_text(extensible), "sound: loopback 44100 Hz, 6 channels, 32-bit float");
    EXPECT_EQ(mix_format_log_text(pcm16), "sound: loopback 44100 Hz, 1 channels, 16-bit integer");
}

TEST(SoundFrames, TakeTheFirstTwoChannels) {
    std::vector<float> out;
    // Mono 16-bit: both channels the same, scaled by 1/32768.
    const Bytes mono{0x00, 0x40, 0x00, 0x80, 0xFF};  // 16384, -32768, half a sample
    append_stereo_frames(out, mono, 3, false, MixSamples::int16, 1);
    EXPECT_EQ(out, (std::vector<float>{0.5f, 0.5f, -1.0f, -1.0f}));

    // Six float channels: the first two.
    out.clear();
    const float six[12] = {0.1f, 0.2f, 9, 9, 9, 9, -0.3f, -0.4f, 9, 9, 9, 9};
    Bytes raw(sizeof six);
    std::memcpy(raw.data(), six, sizeof six);
    append_stereo_frames(out, raw, 2, false, MixSamples::float32, 6);
    EXPECT_EQ(out, (std::vector<float>{0.1f, 0.2f, -0.3f, -0.4f}));

    // Silent buffers give zeros of the right length whatever they hold.
    out.clear();
    append_stereo_frames(out, {}, 441, true, MixSamples::float32, 6);
    EXPECT_EQ(out.size(), 882u);
    EXPECT_EQ(out.front(), 0.0f);
}

TEST(SoundConversion, FloatTo16BitSaturatesAndMapsNaNToZero) {
    EXPECT_EQ(float_to_i16(1.0f), 32767);
    EXPECT_EQ(float_to_i16(7.5f), 32767);
    EXPECT_EQ(float_to_i16(-1.0f), -32767);
    EXPECT_EQ(float_to_i16(-7.5f), -32767);
    EXPECT_EQ(float_to_i16(0.5f), 16383);   // 16383.5 cut toward zero
    EXPECT_EQ(float_to_i16(-0.5f), -16383);
    EXPECT_EQ(float_to_i16(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(float_to_i16(std::numeric_limits<float>::infinity()), 32767);
    EXPECT_EQ(float_to_i16(-std::numeric_limits<float>::infinity()), -32767);
}

TEST(SoundPacket, BodyLayout) {
    const std::int16_t samples[] = {1, -2, 0x1234, -32768};
    const Bytes body = encode_sound_packet(48'000, 2, samples);
    EXPECT_EQ(body, (Bytes{0x00, 0x00, 0xBB, 0x80, 0x02, 0x01, 0x00, 0xFE, 0xFF, 0x34, 0x12,
                           0x00, 0x80}));
    EXPECT_EQ(encode_sound_packet(48'000, 2, {}).size(), 5u);
}

TEST(Resampler, PassesThrough48kHz) {
    ResamplerState state = make_resampler(48'000);
    const std::vector<float> in = {0.1f, 0.2f, 0.3f, 0.4f};
    EXPECT_EQ(resample_stereo(state, in), in);
    EXPECT_EQ(state.position, 0.0);
    const auto packet = sound_cycle_packet(state, in, true);
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->size(), 5u + 8);
    EXPECT_EQ(get_u32_be(packet->data()), 48'000u);
    EXPECT_EQ((*packet)[4], 2);
    EXPECT_FALSE(sound_cycle_packet(state, in, false));  // sound off
    EXPECT_FALSE(sound_cycle_packet(state, {}, true));   // nothing gathered
}

TEST(Resampler, From44100HzJoinsBlocksWithoutAGap) {
    // A ramp cut into 10 ms blocks of 441 frames; the left channel rises by
    // 1/44100 a frame, the right one is its negative.
    ResamplerState state = make_resampler(44'100);
    std::vector<float> all;
    std::size_t frames_out = 0;
    for (int block = 0; block < 10; ++block) {
        std::vector<float> in;
        for (int i = 0; i < 441; ++i) {
            const float v = static_cast<float>(block * 441 + i) / 44'100.0f;
            in.push_back(v);
            in.push_back(-v);
        }
        const auto out = resample_stereo(state, in);
        EXPECT_NEAR(out.size() / 2.0, 480.0, 1.0);
        frames_out += out.size() / 2;
        all.insert(all.end(), out.begin(), out.end());
    }
    EXPECT_NEAR(static_cast<double>(frames_out), 4800.0, 1.0);
    // Output frame k sits at input position k * 44100 / 48000 (minus one
    // frame: the previous block's last frame stands for frame -1).
    for (std::size_t k = 1; k < frames_out; ++k) {
        const double expected = (k * (44'100.0 / 48'000.0) - 1.0) / 44'100.0;
        ASSERT_NEAR(all[2 * k], expected, 1e-5) << k;
        ASSERT_EQ(all[2 * k + 1], -all[2 * k]);
    }
    EXPECT_EQ(all[0], 0.0f);  // frame -1 of the first block is silence
}

TEST(Resampler, RefusesToSpinOnAZeroRate) {
    ResamplerState state = make_resampler(0);
    const std::vector<float> in = {0.1f, 0.2f};
    EXPECT_EQ(resample_stereo(state, in), in);
    state.ratio = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(resample_stereo(state, in), in);
}

TEST(SoundLinks, QueueLimits) {
    EXPECT_TRUE(session_link_takes_sound(999'999));
    EXPECT_FALSE(session_link_takes_sound(1'000'000));
    EXPECT_TRUE(watcher_takes_sound(true, 1'999'999));
    EXPECT_FALSE(watcher_takes_sound(true, 2'000'000));
    EXPECT_FALSE(watcher_takes_sound(false, 0));
}

}  // namespace
}  // namespace vorlix
