// The PC's sound by WASAPI loopback: what the default output device plays,
// in its own mix format.
#include <windows.h>

// audioclient.h clashes with mfapi.h unless it comes after it.
#include <mfapi.h>

#include <audioclient.h>
#include <mmdeviceapi.h>
#include <mmreg.h>

#include "h264/encoder_transform.h"
#include "sound/sound_capture.h"
#include "win/stream/com_ref.h"
#include "win/stream/mf_encoder.h"
#include "win/system/com_ids.h"

namespace vorlix {

namespace {

constexpr REFERENCE_TIME kHundredNanosecondsPerMillisecond = 10'000;

class LoopbackSource final : public SoundSource {
public:
    ~LoopbackSource() override {
        if (started_) client_->Stop();
        capture_.reset();
        client_.reset();
        device_.reset();
        enumerator_.reset();
        if (com_) CoUninitialize();
    }

    Result<MixFormat> open(std::chrono::milliseconds buffer) override {
        com_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        HRESULT hr = CoCreateInstance(com_ids::kClsidMMDeviceEnumerator, nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                                      enumerator_.put_void());
        if (FAILED(hr)) return audio_error(hr);
        hr = enumerator_->GetDefaultAudioEndpoint(eRender, eConsole, device_.put());
        if (FAILED(hr)) return audio_error(hr);
        hr = device_->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, client_.put_void());
        if (FAILED(hr)) return audio_error(hr);
        WAVEFORMATEX* wave = nullptr;
        hr = client_->GetMixFormat(&wave);
        if (FAILED(hr)) return audio_error(hr);
        if (!wave) return audio_error(E_POINTER);

        MixFormat format;
        format.format_tag = wave->wFormatTag;
        format.rate = wave->nSamplesPerSec;
        format.channels = wave->nChannels;
        format.bits_per_sample = wave->wBitsPerSample;
        if (wave->wFormatTag == WAVE_FORMAT_EXTENSIBLE && wave->cbSize >= 22) {
            const auto* extensible = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(wave);
            format.float_subformat = IsEqualGUID(extensible->SubFormat, com_ids::kSubtypeIeeeFloat);
        }
        block_align_ = wave->nBlockAlign;

        hr = client_->Initialize(AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_LOOPBACK,
                                 buffer.count() * kHundredNanosecondsPerMillisecond, 0, wave, nullptr);
        CoTaskMemFree(wave);
        if (FAILED(hr)) return audio_error(hr);
        return format;
    }

    Status start() override {
        HRESULT hr = client_->GetService(__uuidof(IAudioCaptureClient), capture_.put_void());
        if (FAILED(hr)) return audio_error(hr);
        if (!capture_) return audio_error(E_NOINTERFACE);
        hr = client_->Start();
        if (FAILED(hr)) return audio_error(hr);
        started_ = true;
        return {};
    }

    Result<std::uint32_t> next_packet_size() override {
        UINT32 frames = 0;
        const HRESULT hr = capture_->GetNextPacketSize(&frames);
        if (FAILED(hr)) return audio_error(hr);
        return std::uint32_t{frames};
    }

    Result<Packet> get_packet() override {
        BYTE* data = nullptr;
        UINT32 frames = 0;
        DWORD flags = 0;
        const HRESULT hr = capture_->GetBuffer(&data, &frames, &flags, nullptr, nullptr);
        if (FAILED(hr)) return audio_error(hr);
        Packet packet;
        packet.frames = frames;
        packet.silent = (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0;
        if (data) packet.data = ByteView(data, std::size_t{frames} * block_align_);
        return packet;
    }

    Status release_packet(std::uint32_t frames) override {
        const HRESULT hr = capture_->ReleaseBuffer(frames);
        if (FAILED(hr)) return audio_error(hr);
        return {};
    }

    bool device_invalidated() const override { return invalidated_; }

private:
    Error audio_error(HRESULT hr) {
        invalidated_ = hr == AUDCLNT_E_DEVICE_INVALIDATED;
        return result_code_error(static_cast<ResultCode>(hr), media_error_text(hr));
    }

    bool com_ = false;
    bool invalidated_ = false;
    bool started_ = false;
    std::uint32_t block_align_ = 0;
    ComRef<IMMDeviceEnumerator> enumerator_;
    ComRef<IMMDevice> device_;
    ComRef<IAudioClient> client_;
    ComRef<IAudioCaptureClient> capture_;
};

}  // namespace

std::unique_ptr<SoundSource> make_loopback_sound_source() { return std::make_unique<LoopbackSource>(); }

}  // namespace vorlix
