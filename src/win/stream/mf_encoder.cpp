#include "win/stream/mf_encoder.h"

#include <cstring>
#include <utility>
#include <vector>

#include "h264/encoder_h264.h"
#include "win/stream/mf_ids.h"
#include "win/system/wide.h"

namespace vorlix {

namespace {

std::uint64_t pack_pair(std::uint32_t high, std::uint32_t low) { return (std::uint64_t{high} << 32) | low; }

const GUID& codec_property_id(CodecProperty property) {
    switch (property) {
        case CodecProperty::low_latency_mode: return mf_ids::kLowLatencyMode;
        case CodecProperty::rate_control_mode: return mf_ids::kRateControlMode;
        case CodecProperty::mean_bitrate: return mf_ids::kMeanBitRate;
        case CodecProperty::default_b_picture_count: return mf_ids::kDefaultBPictureCount;
        case CodecProperty::gop_size: return mf_ids::kGopSize;
        case CodecProperty::quality_vs_speed: return mf_ids::kQualityVsSpeed;
        case CodecProperty::force_key_frame: return mf_ids::kForceKeyFrame;
        case CodecProperty::max_qp: return mf_ids::kMaxQp;
    }
    return mf_ids::kMaxQp;
}

// A memory buffer of `size` bytes in a new sample.
HRESULT make_sample(DWORD size, ComRef<IMFSample>& sample, ComRef<IMFMediaBuffer>& buffer) {
    HRESULT hr = MFCreateMemoryBuffer(size, buffer.put());
    if (FAILED(hr)) return hr;
    hr = MFCreateSample(sample.put());
    if (FAILED(hr)) return hr;
    return sample->AddBuffer(buffer.get());
}

// The event queue of an asynchronous transform.
class MfEventSource final : public TransformEventSource {
public:
    explicit MfEventSource(ComRef<IMFMediaEventGenerator> generator) : generator_(std::move(generator)) {}

    bool enter_thread() override { return SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }
    void leave_thread(bool entered) override {
        generator_.reset();
        if (entered) CoUninitialize();
    }
    TransformEventRead next_event() override {
        ComRef<IMFMediaEvent> event;
        if (!generator_ || FAILED(generator_->GetEvent(0, event.put())) || !event) return {};
        MediaEventType type = 0;
        if (FAILED(event->GetType(&type))) return {TransformEventRead::Kind::unreadable, 0};
        return {TransformEventRead::Kind::event, static_cast<std::uint32_t>(type)};
    }

private:
    ComRef<IMFMediaEventGenerator> generator_;
};

class MfCandidate final : public EncoderCandidate {
public:
    explicit MfCandidate(ComRef<IMFActivate> activate) : activate_(std::move(activate)) {}

    std::optional<std::string> friendly_name() override {
        UINT32 length = 0;
        if (FAILED(activate_->GetStringLength(mf_ids::kFriendlyName, &length))) return std::nullopt;
        std::vector<wchar_t> text(std::size_t{length} + 1, L'\0');
        if (FAILED(activate_->GetString(mf_ids::kFriendlyName, text.data(), length + 1, &length)))
            return std::nullopt;
        return wide_to_string(text.data(), length);
    }
    Result<std::shared_ptr<EncoderTransform>> activate() override {
        ComRef<IMFTransform> transform;
        const HRESULT hr = activate_->ActivateObject(__uuidof(IMFTransform), transform.put_void());
        if (SUCCEEDED(hr) && !transform) return result_code_error(E_NOINTERFACE, media_error_text(E_NOINTERFACE));
        if (FAILED(hr)) return result_code_error(static_cast<ResultCode>(hr), media_error_text(hr));
        return std::shared_ptr<EncoderTransform>(std::make_shared<MfTransform>(std::move(transform)));
    }
    void shutdown_object() override { activate_->ShutdownObject(); }

private:
    ComRef<IMFActivate> activate_;
};

// Enumerates H.264 encoders of the video encoder category; the caller owns
// every reference in the list.
std::vector<ComRef<IMFActivate>> enumerate_encoders(UINT32 flags) {
    MFT_REGISTER_TYPE_INFO output{mf_ids::kMediaTypeVideo, mf_ids::kVideoFormatH264};
    IMFActivate** list = nullptr;
    UINT32 count = 0;
    std::vector<ComRef<IMFActivate>> found;
    if (FAILED(MFTEnumEx(mf_ids::kCategoryVideoEncoder, flags, nullptr, &output, &list, &count)) || !list)
        return found;
    for (UINT32 i = 0; i < count; ++i) found.emplace_back(list[i]);
    CoTaskMemFree(list);
    return found;
}

}  // namespace

std::string media_error_text(HRESULT code) {
    wchar_t* buffer = nullptr;
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0) {
        // Media Foundation keeps its messages in its own module.
        if (HMODULE mfplat = GetModuleHandleW(L"mfplat.dll")) {
            length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                                        FORMAT_MESSAGE_IGNORE_INSERTS,
                                    mfplat, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0,
                                    nullptr);
        }
    }
    std::string text;
    if (length > 0 && buffer) text = wide_to_string(buffer, length);
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
}

MfTransform::MfTransform(ComRef<IMFTransform> transform) : transform_(std::move(transform)) {
    codec_ = transform_.query<ICodecAPI>();
}

std::string MfTransform::describe(ResultCode code) { return media_error_text(static_cast<HRESULT>(code)); }

std::optional<std::uint32_t> MfTransform::async_attribute() {
    ComRef<IMFAttributes> attributes;
    if (FAILED(transform_->GetAttributes(attributes.put())) || !attributes) return std::nullopt;
    UINT32 value = 0;
    if (FAILED(attributes->GetUINT32(mf_ids::kTransformAsync, &value))) return std::nullopt;
    return value;
}

ResultCode MfTransform::unlock_async() {
    ComRef<IMFAttributes> attributes;
    HRESULT hr = transform_->GetAttributes(attributes.put());
    if (SUCCEEDED(hr) && !attributes) hr = E_NOINTERFACE;
    if (FAILED(hr)) return hr;
    return attributes->SetUINT32(mf_ids::kTransformAsyncUnlock, 1);
}

ResultCode MfTransform::set_low_latency_attribute() {
    ComRef<IMFAttributes> attributes;
    HRESULT hr = transform_->GetAttributes(attributes.put());
    if (SUCCEEDED(hr) && !attributes) hr = E_NOINTERFACE;
    if (FAILED(hr)) return hr;
    return attributes->SetUINT32(mf_ids::kLowLatency, 1);
}

ResultCode MfTransform::set_output_type(const OutputTypeSpec& spec) {
    ComRef<IMFMediaType> type;
    HRESULT hr = MFCreateMediaType(type.put());
    if (SUCCEEDED(hr)) hr = type->SetGUID(mf_ids::kMajorType, mf_ids::kMediaTypeVideo);
    if (SUCCEEDED(hr)) hr = type->SetGUID(mf_ids::kSubtype, mf_ids::kVideoFormatH264);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(mf_ids::kAvgBitrate, spec.bitrate);
    if (SUCCEEDED(hr)) hr = type->SetUINT64(mf_ids::kFrameSize, pack_pair(spec.width, spec.height));
    if (SUCCEEDED(hr)) hr = type->SetUINT64(mf_ids::kFrameRate, pack_pair(spec.fps, 1));
    if (SUCCEEDED(hr)) hr = type->SetUINT64(mf_ids::kPixelAspectRatio, pack_pair(1, 1));
    if (SUCCEEDED(hr)) hr = type->SetUINT32(mf_ids::kInterlaceMode, mf_ids::kInterlaceProgressive);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(mf_ids::kMpeg2Profile, spec.profile);
    if (SUCCEEDED(hr)) hr = transform_->SetOutputType(0, type.get(), 0);
    return hr;
}

ResultCode MfTransform::set_input_type(const InputTypeSpec& spec) {
    ComRef<IMFMediaType> type;
    HRESULT hr = MFCreateMediaType(type.put());
    if (SUCCEEDED(hr)) hr = type->SetGUID(mf_ids::kMajorType, mf_ids::kMediaTypeVideo);
    if (SUCCEEDED(hr)) hr = type->SetGUID(mf_ids::kSubtype, mf_ids::kVideoFormatNv12);
    if (SUCCEEDED(hr)) hr = type->SetUINT64(mf_ids::kFrameSize, pack_pair(spec.width, spec.height));
    if (SUCCEEDED(hr)) hr = type->SetUINT64(mf_ids::kFrameRate, pack_pair(spec.fps, 1));
    if (SUCCEEDED(hr)) hr = type->SetUINT64(mf_ids::kPixelAspectRatio, pack_pair(1, 1));
    if (SUCCEEDED(hr)) hr = type->SetUINT32(mf_ids::kInterlaceMode, mf_ids::kInterlaceProgressive);
    if (FAILED(hr)) return hr;
    type->SetUINT32(mf_ids::kYuvMatrix, mf_ids::kMatrixBt709);
    type->SetUINT32(mf_ids::kVideoNominalRange, mf_ids::kNominalRange16To235);
    return transform_->SetInputType(0, type.get(), 0);
}

bool MfTransform::has_codec_settings() { return static_cast<bool>(codec_); }

ResultCode MfTransform::set_codec_value(CodecProperty property, std::uint32_t value) {
    if (!codec_) return E_NOINTERFACE;
    VARIANT variant;
    VariantInit(&variant);
    if (property == CodecProperty::low_latency_mode) {
        variant.vt = VT_BOOL;
        variant.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    } else {
        variant.vt = VT_UI4;
        variant.ulVal = value;
    }
    const HRESULT hr = codec_->SetValue(&codec_property_id(property), &variant);
    VariantClear(&variant);
    return hr;
}

ResultCode MfTransform::process_message(TransformMessage message) {
    return transform_->ProcessMessage(static_cast<MFT_MESSAGE_TYPE>(message), 0);
}

Result<std::shared_ptr<TransformEventSource>> MfTransform::event_source() {
    auto generator = transform_.query<IMFMediaEventGenerator>();
    if (!generator) return result_code_error(E_NOINTERFACE, media_error_text(E_NOINTERFACE));
    return std::shared_ptr<TransformEventSource>(std::make_shared<MfEventSource>(std::move(generator)));
}

ResultCode MfTransform::prepare_input(ByteView picture, std::int64_t sample_time, std::int64_t duration) {
    input_.reset();
    ComRef<IMFSample> sample;
    ComRef<IMFMediaBuffer> buffer;
    const DWORD size = static_cast<DWORD>(picture.size());
    HRESULT hr = MFCreateMemoryBuffer(size, buffer.put());
    if (FAILED(hr)) return hr;
    BYTE* data = nullptr;
    hr = buffer->Lock(&data, nullptr, nullptr);
    if (FAILED(hr)) return hr;
    if (size) std::memcpy(data, picture.data(), size);
    buffer->Unlock();
    hr = buffer->SetCurrentLength(size);
    if (SUCCEEDED(hr)) hr = MFCreateSample(sample.put());
    if (SUCCEEDED(hr)) hr = sample->AddBuffer(buffer.get());
    if (SUCCEEDED(hr)) hr = sample->SetSampleTime(sample_time);
    if (SUCCEEDED(hr)) hr = sample->SetSampleDuration(duration);
    if (FAILED(hr)) return hr;
    input_ = std::move(sample);
    return S_OK;
}

ResultCode MfTransform::process_input() {
    if (!input_) return E_POINTER;
    return transform_->ProcessInput(0, input_.get(), 0);
}

ResultCode MfTransform::output_stream_info(OutputStreamInfo& info) {
    MFT_OUTPUT_STREAM_INFO stream{};
    const HRESULT hr = transform_->GetOutputStreamInfo(0, &stream);
    if (FAILED(hr)) return hr;
    info.provides_samples = (stream.dwFlags & mf_ids::kProvidesSamples) != 0;
    info.size = stream.cbSize;
    return hr;
}

ResultCode MfTransform::process_output(std::uint32_t buffer_size, std::optional<EncodedOutput>& output) {
    ComRef<IMFSample> own;
    if (buffer_size > 0) {
        ComRef<IMFMediaBuffer> buffer;
        const HRESULT hr = make_sample(buffer_size, own, buffer);
        if (FAILED(hr)) return hr;
    }
    MFT_OUTPUT_DATA_BUFFER data{};
    data.dwStreamID = 0;
    data.pSample = own.get();
    DWORD status = 0;
    const HRESULT hr = transform_->ProcessOutput(0, 1, &data, &status);
    if (data.pEvents) data.pEvents->Release();
    // A sample the transform brought is ours to release.
    ComRef<IMFSample> brought;
    if (data.pSample && data.pSample != own.get()) brought = ComRef<IMFSample>(data.pSample);
    if (FAILED(hr)) return hr;
    IMFSample* sample = data.pSample;
    if (!sample) return hr;

    ComRef<IMFMediaBuffer> contiguous;
    HRESULT taken = sample->ConvertToContiguousBuffer(contiguous.put());
    if (FAILED(taken)) return taken;
    BYTE* bytes = nullptr;
    DWORD length = 0;
    taken = contiguous->Lock(&bytes, nullptr, &length);
    if (FAILED(taken)) return taken;
    EncodedOutput result;
    result.bytes.assign(bytes, bytes + length);
    contiguous->Unlock();
    LONGLONG time = 0;
    if (FAILED(sample->GetSampleTime(&time))) time = 0;
    result.sample_time = time;
    output = std::move(result);
    return hr;
}

ResultCode MfTransform::use_first_available_output_type() {
    ComRef<IMFMediaType> type;
    HRESULT hr = transform_->GetOutputAvailableType(0, 0, type.put());
    if (FAILED(hr)) return hr;
    return transform_->SetOutputType(0, type.get(), 0);
}

std::optional<Bytes> MfTransform::sequence_header() {
    ComRef<IMFMediaType> type;
    if (FAILED(transform_->GetOutputCurrentType(0, type.put())) || !type) return std::nullopt;
    UINT32 size = 0;
    if (FAILED(type->GetBlobSize(mf_ids::kMpegSequenceHeader, &size)) || size == 0) return std::nullopt;
    Bytes header(size);
    if (FAILED(type->GetBlob(mf_ids::kMpegSequenceHeader, header.data(), size, &size))) return std::nullopt;
    header.resize(size);
    return header;
}

void MfTransform::shutdown() {
    if (auto shutdown = transform_.query<IMFShutdown>()) shutdown->Shutdown();
}

Status MfEncoderSystem::startup() {
    const HRESULT hr = MFStartup(mf_ids::kMfVersion, mf_ids::kStartupFull);
    if (FAILED(hr)) return result_code_error(static_cast<ResultCode>(hr), media_error_text(hr));
    return {};
}

std::vector<std::unique_ptr<EncoderCandidate>> MfEncoderSystem::hardware_encoders() {
    std::vector<std::unique_ptr<EncoderCandidate>> candidates;
    for (auto& activate : enumerate_encoders(mf_ids::kEnumHardwareSorted))
        candidates.push_back(std::make_unique<MfCandidate>(std::move(activate)));
    return candidates;
}

Result<std::shared_ptr<EncoderTransform>> MfEncoderSystem::software_encoder() {
    ComRef<IMFTransform> transform;
    HRESULT hr = CoCreateInstance(mf_ids::kSoftwareH264Encoder, nullptr, CLSCTX_INPROC_SERVER,
                                  __uuidof(IMFTransform), transform.put_void());
    if (FAILED(hr) || !transform) {
        auto found = enumerate_encoders(mf_ids::kEnumSyncSorted);
        if (found.empty()) hr = static_cast<HRESULT>(result_codes::codec_not_found);
        else {
            hr = found.front()->ActivateObject(__uuidof(IMFTransform), transform.put_void());
            if (SUCCEEDED(hr) && !transform) hr = E_NOINTERFACE;
        }
        if (FAILED(hr)) return result_code_error(static_cast<ResultCode>(hr), media_error_text(hr));
    }
    return std::shared_ptr<EncoderTransform>(std::make_shared<MfTransform>(std::move(transform)));
}

Result<std::unique_ptr<VideoEncoder>> encoder_open(const EncoderSettings& settings) {
    static MfEncoderSystem system;
    auto opened = open_h264_encoder(system, settings);
    if (!opened.ok()) return opened.error();
    return std::unique_ptr<VideoEncoder>(std::move(*opened));
}

}  // namespace vorlix
