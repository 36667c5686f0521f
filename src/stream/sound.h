// The PC's sound on the way to the device: which loopback mix formats are
// taken, how a capture buffer becomes stereo floats, the resampling to
// 48,000 Hz, the conversion to 16 bits and the Audio frame body.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "util/bytes.h"

namespace vorlix {

inline constexpr std::uint32_t kSoundRate = 48'000;
inline constexpr std::uint8_t kSoundChannels = 2;

// Format tags of a wave format.
inline constexpr std::uint16_t kWaveFormatIeeeFloat = 0x0003;
inline constexpr std::uint16_t kWaveFormatExtensible = 0xFFFE;

// The loopback mix format, as the system reports it.
struct MixFormat {
    std::uint16_t format_tag = 0;
    bool float_subformat = false;  // extensible format with the IEEE float subformat
    std::uint32_t rate = 0;
    std::uint16_t channels = 0;
    std::uint16_t bits_per_sample = 0;
};

enum class MixSamples : std::uint8_t { float32, int16, not_handled };

bool mix_is_float(const MixFormat& format);

// 32-bit float or 16-bit integer samples, at least one channel and a rate
// above 0; anything else is not handled.
MixSamples classify_mix_format(const MixFormat& format);

// "sound: loopback 48000 Hz, 2 channels, 32-bit float"
std::string mix_format_log_text(const MixFormat& format);

// Appends one capture buffer of `frames` frames as stereo floats: the first
// two channels (the first twice when there is one), 16-bit samples scaled by
// 1/32768, zeros for a silent buffer. Only whole frames present in `data`
// are read.
void append_stereo_frames(std::vector<float>& out, ByteView data, std::uint32_t frames,
                          bool silent, MixSamples kind, std::uint16_t channels);

// Linear-interpolation resampler state, carried from block to block.
struct ResamplerState {
    double ratio = 1.0;     // mix rate / 48,000
    double position = 0.0;  // input frame of the next output frame
    float last[2] = {0.0f, 0.0f};  // final frame of the previous block
};

ResamplerState make_resampler(std::uint32_t mix_rate);

// Interleaved stereo floats at the mix rate to interleaved stereo floats at
// 48,000 Hz. Consecutive blocks join without a gap.
std::vector<float> resample_stereo(ResamplerState& state, std::span<const float> input);

// Clamped to -1..1, scaled by 32767, cut toward zero; NaN gives 0.
std::int16_t float_to_i16(float sample);

// The Audio frame body: rate (4 bytes, big-endian), channels (1 byte), then
// 16-bit little-endian samples.
Bytes encode_sound_packet(std::uint32_t rate, std::uint8_t channels,
                          std::span<const std::int16_t> samples);

// One capture cycle's packet: the gathered stereo floats resampled, converted
// and packed, or nothing when nothing was gathered or sound is off.
std::optional<Bytes> sound_cycle_packet(ResamplerState& state, std::span<const float> gathered,
                                        bool sound_on);

// The session's link takes a packet while at most 999,999 bytes are queued.
inline bool session_link_takes_sound(std::uint64_t queued_bytes) {
    return queued_bytes <= 999'999;
}

// A watcher takes packets when it asked for sound and fewer than 2,000,000
// bytes are queued on its link.
inline bool watcher_takes_sound(bool sound_on, std::uint64_t queued_bytes) {
    return sound_on && queued_bytes < 2'000'000;
}

}  // namespace vorlix
