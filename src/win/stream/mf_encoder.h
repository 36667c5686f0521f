// The H.264 encoder's Media Foundation side: an EncoderTransform over an
// IMFTransform, the event queue of an asynchronous transform, and the
// system's encoders (hardware ones by enumeration, then the software one).
#pragma once

#include <windows.h>

#include <mfapi.h>
#include <mfidl.h>
#include <mftransform.h>
#include <strmif.h>

#include <memory>
#include <optional>
#include <string>

#include "h264/encoder_transform.h"
#include "win/stream/com_ref.h"

// strmif.h declares the codec settings interface without its identifier.
__CRT_UUID_DECL(ICodecAPI, 0x901db4c7, 0x31ce, 0x41a2, 0x85, 0xdc, 0x8f, 0xa0, 0xbf, 0x41, 0xb8, 0xda)

namespace vorlix {

// The text of a failed Media Foundation or COM call.
std::string media_error_text(HRESULT code);

class MfTransform final : public EncoderTransform {
public:
    explicit MfTransform(ComRef<IMFTransform> transform);

    std::string describe(ResultCode code) override;
    std::optional<std::uint32_t> async_attribute() override;
    ResultCode unlock_async() override;
    ResultCode set_low_latency_attribute() override;
    ResultCode set_output_type(const OutputTypeSpec& type) override;
    ResultCode set_input_type(const InputTypeSpec& type) override;
    bool has_codec_settings() override;
    ResultCode set_codec_value(CodecProperty property, std::uint32_t value) override;
    ResultCode process_message(TransformMessage message) override;
    Result<std::shared_ptr<TransformEventSource>> event_source() override;
    ResultCode prepare_input(ByteView picture, std::int64_t sample_time, std::int64_t duration) override;
    ResultCode process_input() override;
    ResultCode output_stream_info(OutputStreamInfo& info) override;
    ResultCode process_output(std::uint32_t buffer_size, std::optional<EncodedOutput>& output) override;
    ResultCode use_first_available_output_type() override;
    std::optional<Bytes> sequence_header() override;
    void shutdown() override;

private:
    ComRef<IMFTransform> transform_;
    ComRef<ICodecAPI> codec_;  // none when the transform has no codec settings
    ComRef<IMFSample> input_;
};

class MfEncoderSystem final : public EncoderSystem {
public:
    Status startup() override;
    std::vector<std::unique_ptr<EncoderCandidate>> hardware_encoders() override;
    Result<std::shared_ptr<EncoderTransform>> software_encoder() override;
};

}  // namespace vorlix
