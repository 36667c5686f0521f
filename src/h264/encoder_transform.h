// The thin seam between H264Encoder's bookkeeping and the platform's
// encoder transform. The Windows side implements it over a Media Foundation
// transform (win/stream); tests implement it with scripted transforms.
//
// Calls answer with a 32-bit result code in the platform's form: the high
// bit set means failure. The codes the encoder tells apart are named below.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "h264/encoder.h"
#include "util/bytes.h"
#include "util/result.h"

namespace vorlix {

using ResultCode = std::uint32_t;

inline constexpr bool code_succeeded(ResultCode code) { return static_cast<std::int32_t>(code) >= 0; }

namespace result_codes {
inline constexpr ResultCode ok = 0;
inline constexpr ResultCode fail = 0x80004005;             // E_FAIL
inline constexpr ResultCode not_accepting = 0xC00D36B5;    // MF_E_NOTACCEPTING
inline constexpr ResultCode need_more_input = 0xC00D6D72;  // MF_E_TRANSFORM_NEED_MORE_INPUT
inline constexpr ResultCode stream_change = 0xC00D6D61;    // MF_E_TRANSFORM_STREAM_CHANGE
inline constexpr ResultCode codec_not_found = 0xC00D5212;  // MF_E_TOPO_CODEC_NOT_FOUND
}  // namespace result_codes

// Messages sent to the transform (their values are the platform's).
enum class TransformMessage : std::uint32_t {
    command_drain = 0x00000001,
    begin_streaming = 0x10000000,
    end_streaming = 0x10000001,
    end_of_stream = 0x10000002,
    start_of_stream = 0x10000003,
};

// Codec settings the encoder sets; every value is an unsigned 32-bit number
// except low_latency_mode, which the transform sets as a boolean (non-zero
// is true).
enum class CodecProperty {
    low_latency_mode,
    rate_control_mode,
    mean_bitrate,
    default_b_picture_count,
    gop_size,
    quality_vs_speed,
    force_key_frame,
    max_qp,
};

// H.264 profiles of the output type.
inline constexpr std::uint32_t kProfileHigh = 100;
inline constexpr std::uint32_t kProfileMain = 77;

// The output media type: H.264 at this size, rate and bitrate, square
// pixels, progressive.
struct OutputTypeSpec {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t fps = 0;
    std::uint32_t bitrate = 0;
    std::uint32_t profile = kProfileHigh;
};

// The input media type: NV12 at this size and rate, square pixels,
// progressive, BT.709 with the 16..235 range.
struct InputTypeSpec {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t fps = 0;
};

struct OutputStreamInfo {
    bool provides_samples = false;  // the transform allocates its output samples
    std::uint32_t size = 0;         // the stated size of an output buffer
};

// Event types of an asynchronous transform.
inline constexpr std::uint32_t kEventNeedInput = 601;
inline constexpr std::uint32_t kEventHaveOutput = 602;
inline constexpr std::uint32_t kEventDrainComplete = 603;

struct TransformEventRead {
    enum class Kind {
        event,       // an event of `type`
        unreadable,  // an event whose type could not be read (skipped)
        ended,       // the request failed or gave no event: no more events
    };
    Kind kind = Kind::ended;
    std::uint32_t type = 0;
};

// The event queue of an asynchronous transform, read only by its events
// thread.
class TransformEventSource {
public:
    virtual ~TransformEventSource() = default;
    // Called first on the events thread (the platform joins its threading
    // model there); returns whether leave_thread must undo it.
    virtual bool enter_thread() = 0;
    // Called last: lets go of the queue, then leaves the threading model.
    // The thread has released its transform by then.
    virtual void leave_thread(bool entered) = 0;
    // Waits without limit for the next event.
    virtual TransformEventRead next_event() = 0;
};

class EncoderTransform {
public:
    virtual ~EncoderTransform() = default;

    // The text of a result code for error messages.
    virtual std::string describe(ResultCode code) = 0;

    // --- opening
    // The asynchronous attribute; none when it cannot be read.
    virtual std::optional<std::uint32_t> async_attribute() = 0;
    virtual ResultCode unlock_async() = 0;
    virtual ResultCode set_low_latency_attribute() = 0;
    virtual ResultCode set_output_type(const OutputTypeSpec& type) = 0;
    virtual ResultCode set_input_type(const InputTypeSpec& type) = 0;
    // Whether the transform has a codec settings interface.
    virtual bool has_codec_settings() = 0;
    virtual ResultCode set_codec_value(CodecProperty property, std::uint32_t value) = 0;
    virtual ResultCode process_message(TransformMessage message) = 0;
    // The transform's event queue (asynchronous transforms).
    virtual Result<std::shared_ptr<TransformEventSource>> event_source() = 0;

    // --- encoding
    // Builds the input sample: a buffer holding a copy of the picture, the
    // sample time and duration (100 ns units). The sample is kept for
    // process_input, which may be called more than once with it.
    virtual ResultCode prepare_input(ByteView picture, std::int64_t sample_time, std::int64_t duration) = 0;
    virtual ResultCode process_input() = 0;
    virtual ResultCode output_stream_info(OutputStreamInfo& info) = 0;
    // Asks for one output. `buffer_size` 0 means the transform provides the
    // sample; otherwise a sample with a buffer of that size is handed in.
    // On success `output` holds the sample's bytes and time, or stays empty
    // when the transform gave no sample.
    virtual ResultCode process_output(std::uint32_t buffer_size, std::optional<EncodedOutput>& output) = 0;
    // Takes the first available output type and sets it (after a stream
    // change).
    virtual ResultCode use_first_available_output_type() = 0;
    virtual std::optional<Bytes> sequence_header() = 0;

    // --- end
    // Shuts the transform down; failures are ignored.
    virtual void shutdown() = 0;
};

// One hardware encoder found by the platform's enumeration.
class EncoderCandidate {
public:
    virtual ~EncoderCandidate() = default;
    // The friendly name, none when it cannot be read.
    virtual std::optional<std::string> friendly_name() = 0;
    virtual Result<std::shared_ptr<EncoderTransform>> activate() = 0;
    // Undoes activate after a refusal.
    virtual void shutdown_object() = 0;
};

// The platform's encoders.
class EncoderSystem {
public:
    virtual ~EncoderSystem() = default;
    // Starts the platform's media layer; called at every opening.
    virtual Status startup() = 0;
    // Hardware H.264 encoders, best first (a failed enumeration gives none).
    virtual std::vector<std::unique_ptr<EncoderCandidate>> hardware_encoders() = 0;
    // The software H.264 encoder.
    virtual Result<std::shared_ptr<EncoderTransform>> software_encoder() = 0;
};

// The size of the output buffer handed to a transform that does not provide
// its samples: the larger of the stated size and one NV12 picture, at least
// 1 MiB.
std::uint32_t output_buffer_size(std::uint32_t stated_size, std::uint32_t width, std::uint32_t height);

// The error of a failed call: the platform's message (if any) and the code,
// as in "The data specified for the media type is invalid. (0xC00D36B4)".
Error result_code_error(ResultCode code, std::string message);
Error transform_error(EncoderTransform& transform, ResultCode code);

}  // namespace vorlix
