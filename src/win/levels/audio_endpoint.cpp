// Core Audio lives in its own file: endpointvolume.h cannot share one with
// ntsecapi.h.
#include <windows.h>
#include <mmdeviceapi.h>
#include <endpointvolume.h>

#include <atomic>

#include "host/log.h"
#include "win/levels/levels_thread.h"
#include "win/levels/wmi_brightness.h"
#include "win/stream/com_ref.h"
#include "win/system/com_ids.h"
#include "win/system/wide.h"

namespace vorlix {

namespace {

// Told by the audio system, on its own threads, that the volume or the mute
// state changed: queues a sample for the levels thread.
class VolumeCallback final : public IAudioEndpointVolumeCallback {
public:
    explicit VolumeCallback(std::weak_ptr<LevelsSender> levels) : levels_(std::move(levels)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (IsEqualIID(riid, __uuidof(IUnknown)) || IsEqualIID(riid, __uuidof(IAudioEndpointVolumeCallback)) ||
            IsEqualIID(riid, com_ids::kIidAgileObject)) {
            *object = static_cast<IAudioEndpointVolumeCallback*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA) override {
        if (std::shared_ptr<LevelsSender> levels = levels_.lock()) {
            send_levels_request(*levels, {.kind = LevelsRequest::Kind::Changed});
        }
        return S_OK;
    }

private:
    std::atomic<ULONG> refs_{1};
    std::weak_ptr<LevelsSender> levels_;
};

class WindowsLevelsDevices final : public LevelsDevices {
public:
    explicit WindowsLevelsDevices(std::weak_ptr<LevelsSender> notify) : notify_(std::move(notify)) {}
    ~WindowsLevelsDevices() override { close_endpoint(); }

    bool open_endpoint() override {
        if (!enumerator_ && FAILED(CoCreateInstance(com_ids::kClsidMMDeviceEnumerator, nullptr, CLSCTX_ALL,
                                                    __uuidof(IMMDeviceEnumerator), enumerator_.put_void()))) {
            enumerator_.reset();
            return false;
        }
        ComRef<IMMDevice> device;
        LPWSTR id = nullptr;
        if (FAILED(enumerator_->GetDefaultAudioEndpoint(eRender, eConsole, device.put())) || !device ||
            FAILED(device->GetId(&id)) || !id) {
            close_endpoint();
            return false;  // no audio output
        }
        const std::wstring default_id(id);
        CoTaskMemFree(id);
        if (volume_ && default_id == endpoint_id_) return true;
        close_endpoint();
        if (FAILED(device->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_ALL, nullptr, volume_.put_void())) ||
            !volume_) {
            volume_.reset();
            return false;
        }
        callback_ = ComRef<VolumeCallback>(new VolumeCallback(notify_));
        if (const HRESULT hr = volume_->RegisterControlChangeNotify(callback_.get()); FAILED(hr)) {
            log_line("levels: no change notifications (" + system_error_text(static_cast<unsigned long>(hr)) + ")");
            callback_.reset();
        }
        log_line("levels: default output " + wide_to_string(default_id));
        endpoint_id_ = default_id;
        return true;
    }
    void close_endpoint() override {
        if (volume_ && callback_) volume_->UnregisterControlChangeNotify(callback_.get());  // a failure is ignored
        callback_.reset();
        volume_.reset();
        endpoint_id_.clear();
    }
    std::optional<float> volume() override {
        float scalar = 0;
        if (!volume_ || FAILED(volume_->GetMasterVolumeLevelScalar(&scalar))) return std::nullopt;
        return scalar;
    }
    std::optional<bool> muted() override {
        BOOL mute = FALSE;
        if (!volume_ || FAILED(volume_->GetMute(&mute))) return std::nullopt;
        return mute != FALSE;
    }
    void set_volume(float scalar) override { volume_->SetMasterVolumeLevelScalar(scalar, nullptr); }
    void set_muted(bool mute) override { volume_->SetMute(mute, nullptr); }
    BrightnessReading read_brightness() override { return brightness_.read(); }
    void set_brightness(std::uint8_t percent) override { brightness_.set(percent); }

private:
    std::weak_ptr<LevelsSender> notify_;
    ComRef<IMMDeviceEnumerator> enumerator_;
    std::wstring endpoint_id_;
    ComRef<IAudioEndpointVolume> volume_;
    ComRef<VolumeCallback> callback_;
    WmiBrightness brightness_;
};

}  // namespace

std::unique_ptr<LevelsDevices> make_windows_levels_devices(std::weak_ptr<LevelsSender> notify) {
    return std::make_unique<WindowsLevelsDevices>(std::move(notify));
}

}  // namespace vorlix
