// The H.264 encoder as the stream thread sees it.
//
// The stream thread owns one encoder at a time. It feeds NV12 pictures with
// encode_frame and gets back whatever encoded output is ready; an encoder
// that works asynchronously also collects outputs by itself, which the
// stream thread takes with take_outputs on every pass of its loop.
//
// VideoEncoder is the interface the stream thread holds, so that the loop
// can be driven by scripted encoders in tests; H264Encoder
// (h264/encoder_h264.h) is the real one, and encoder_open opens it through
// the platform's encoders (Media Foundation on Windows).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "util/bytes.h"
#include "util/result.h"

namespace vorlix {

// One output sample of the encoder: its bytes as the transform produced them
// (Annex-B is expected) and its sample time in units of 100 ns (0 when the
// sample carries none).
struct EncodedOutput {
    Bytes bytes;
    std::int64_t sample_time = 0;

    bool operator==(const EncodedOutput&) const = default;
};

class VideoEncoder {
public:
    virtual ~VideoEncoder() = default;

    // The encoder's name for log lines: a hardware encoder's friendly name
    // ("?" when it has none) or "Microsoft H.264 software encoder".
    virtual const std::string& name() const = 0;
    virtual bool hardware() const = 0;
    virtual std::uint32_t width() const = 0;
    virtual std::uint32_t height() const = 0;
    virtual std::uint32_t fps() const = 0;

    // The bitrate the stream wants outside sharpening passes (bits per
    // second). set_target_bitrate only records it; the stream thread applies
    // it with set_encoder_bitrate when no sharpening pass is in force, and
    // end_sharpening applies it after a pass.
    virtual std::uint32_t target_bitrate() const = 0;
    virtual void set_target_bitrate(std::uint32_t bits_per_second) = 0;
    // The bitrate of the sharpening pass in force, if any.
    virtual std::optional<std::uint32_t> sharpening() const = 0;

    // Encodes one picture: width x height luma bytes followed by the
    // interleaved chroma plane. The sample time is in units of 100 ns.
    // Returns the outputs ready now (possibly none) or the system error.
    virtual Result<std::vector<EncodedOutput>> encode_frame(ByteView nv12, std::int64_t sample_time,
                                                            bool force_key_frame) = 0;

    // Sets the mean bitrate while running (a refusal is logged once).
    virtual void set_encoder_bitrate(std::uint32_t bits_per_second) = 0;
    // Raises the bitrate to `bits_per_second` and caps the quantiser while
    // the picture is still; nothing happens when the target is already at
    // least that high or a pass at this rate is in force.
    virtual void start_sharpening(std::uint32_t bits_per_second) = 0;
    // Ends a sharpening pass: back to the target bitrate and the normal
    // quantiser ceiling. Nothing happens without a pass in force.
    virtual void end_sharpening() = 0;

    // The SPS and PPS in Annex-B form as the encoder's current output type
    // carries them, or none.
    virtual std::optional<Bytes> sequence_header() = 0;

    // Yes once an asynchronous encoder failed to take an output; the stream
    // thread then treats the encoder as stopped.
    virtual bool output_failed() const = 0;

    // The outputs an asynchronous encoder collected by itself since the last
    // call (the list is emptied). Always empty for a synchronous encoder.
    virtual std::vector<EncodedOutput> take_outputs() = 0;
};

// What an encoder is opened with.
struct EncoderSettings {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t fps = 30;
    std::uint32_t bitrate = 0;  // bits per second
    bool allow_hardware = true;
};

// Opens an encoder: a hardware encoder that accepts the settings, otherwise
// the software encoder. Releasing the encoder shuts it down. Where the
// platform has no H.264 encoder at all this returns an error.
Result<std::unique_ptr<VideoEncoder>> encoder_open(const EncoderSettings& settings);

// How the stream loop opens encoders, so that tests can hand it scripted
// ones; encoder_open is the real opener.
using EncoderOpener = std::function<Result<std::unique_ptr<VideoEncoder>>(const EncoderSettings&)>;

}  // namespace vorlix
