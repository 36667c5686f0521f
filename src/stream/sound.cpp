#include "stream/sound.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "stream/saturate.h"

namespace vorlix {

bool mix_is_float(const MixFormat& format) {
    return format.format_tag == kWaveFormatIeeeFloat ||
           (format.format_tag == kWaveFormatExtensible && format.float_subformat);
}

MixSamples classify_mix_format(const MixFormat& format) {
    if (format.channels == 0 || format.rate == 0) return MixSamples::not_handled;
    const bool is_float = mix_is_float(format);
    if (is_float && format.bits_per_sample == 32) return MixSamples::float32;
    if (!is_float && format.bits_per_sample == 16) return MixSamples::int16;
    return MixSamples::not_handled;
}

std::string mix_format_log_text(const MixFormat& format) {
    return "sound: loopback " + std::to_string(format.rate) + " Hz, " +
           std::to_string(format.channels) + " channels, " +
           std::to_string(format.bits_per_sample) + "-bit " +
           (mix_is_float(format) ? "float" : "integer");
}

void append_stereo_frames(std::vector<float>& out, ByteView data, std::uint32_t frames,
                          bool silent, MixSamples kind, std::uint16_t channels) {
    if (silent) {
        out.insert(out.end(), std::size_t{frames} * 2, 0.0f);
        return;
    }
    if (kind == MixSamples::not_handled || channels == 0) return;
    const std::size_t sample_size = kind == MixSamples::float32 ? 4 : 2;
    const std::size_t frame_size = sample_size * channels;
    const std::size_t present = std::min<std::size_t>(frames, data.size() / frame_size);
    auto sample = [&](const std::uint8_t* p) -> float {
        if (kind == MixSamples::float32) {
            float value;
            std::memcpy(&value, p, 4);
            return value;
        }
        const auto value = static_cast<std::int16_t>(p[0] | (p[1] << 8));
        return static_cast<float>(value) * (1.0f / 32768.0f);
    };
    out.reserve(out.size() + present * 2);
    for (std::size_t i = 0; i < present; ++i) {
        const std::uint8_t* frame = data.data() + i * frame_size;
        const float left = sample(frame);
        const float right = channels > 1 ? sample(frame + sample_size) : left;
        out.push_back(left);
        out.push_back(right);
    }
}

ResamplerState make_resampler(std::uint32_t mix_rate) {
    ResamplerState state;
    state.ratio = static_cast<double>(mix_rate) / static_cast<double>(kSoundRate);
    return state;
}

std::vector<float> resample_stereo(ResamplerState& state, std::span<const float> input) {
    // A ratio of 0 (or not a number) would never advance: such a mix is not
    // handled, and the input is passed on as it came.
    if (std::fabs(state.ratio - 1.0) < 1e-9 || !(state.ratio > 0.0) || !std::isfinite(state.ratio)) {
        return std::vector<float>(input.begin(), input.end());
    }
    const std::size_t frames = input.size() / 2;
    const double frame_count = static_cast<double>(frames);
    std::vector<float> out;
    out.reserve(std::min<std::size_t>(saturating_cast<std::size_t>(frame_count / state.ratio), 1u << 20) * 2 + 4);
    while (frame_count > state.position) {
        const auto r = static_cast<std::size_t>(state.position);
        const double f = state.position - static_cast<double>(r);
        for (std::size_t c = 0; c < 2; ++c) {
            const float b = input[r * 2 + c];
            const float a = r == 0 ? state.last[c] : input[(r - 1) * 2 + c];
            out.push_back(static_cast<float>(a + static_cast<double>(b - a) * f));
        }
        state.position += state.ratio;
    }
    state.position -= frame_count;
    if (frames > 0) {
        state.last[0] = input[(frames - 1) * 2];
        state.last[1] = input[(frames - 1) * 2 + 1];
    }
    return out;
}

std::int16_t float_to_i16(float sample) {
    if (std::isnan(sample)) return 0;
    const float clamped = std::clamp(sample, -1.0f, 1.0f);
    const double scaled = std::clamp(static_cast<double>(clamped) * 32767.0, -32768.0, 32767.0);
    return saturating_cast<std::int16_t>(scaled);
}

Bytes encode_sound_packet(std::uint32_t rate, std::uint8_t channels,
                          std::span<const std::int16_t> samples) {
    Bytes body(5 + samples.size() * 2);
    put_u32_be(body.data(), rate);
    body[4] = channels;
    std::uint8_t* out = body.data() + 5;
    for (std::int16_t s : samples) {
        const auto u = static_cast<std::uint16_t>(s);
        *out++ = static_cast<std::uint8_t>(u);
        *out++ = static_cast<std::uint8_t>(u >> 8);
    }
    return body;
}

std::optional<Bytes> sound_cycle_packet(ResamplerState& state, std::span<const float> gathered,
                                        bool sound_on) {
    if (gathered.empty() || !sound_on) return std::nullopt;
    const std::vector<float> resampled = resample_stereo(state, gathered);
    std::vector<std::int16_t> samples(resampled.size());
    std::transform(resampled.begin(), resampled.end(), samples.begin(), float_to_i16);
    return encode_sound_packet(kSoundRate, kSoundChannels, samples);
}

}  // namespace vorlix
