#include "win/camera/camera.h"

#include <mfapi.h>
#include <mfidl.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <wincodec.h>

#include <memory>
#include <thread>
#include <variant>

#include "host/log.h"
#include "pictures/pictures.h"
#include "util/thread_name.h"
#include "win/capture/win_util.h"
#include "win/stream/com_ref.h"
#include "win/system/system_function.h"
#include "win/system/wide.h"

namespace vorlix {
namespace {

using capture_detail::hresult_text;

// The component's media source and COM class.
constexpr wchar_t kCameraClassId[] = L"{95D2B9BD-BC3A-4E08-B236-BD1D8B3E4236}";
constexpr wchar_t kCameraName[] = L"VorLix Camera";

// The virtual camera API (Windows 11), which MinGW does not declare: the
// creation function is looked up in mfsensorgroup.dll at run time, and of the
// camera's interface only the part up to Start is called.
enum : int { kSoftwareCameraSource = 0, kLifetimeSession = 0, kAccessCurrentUser = 0 };

struct VirtualCamera : IMFAttributes {
    virtual HRESULT STDMETHODCALLTYPE AddDeviceSourceInfo(LPCWSTR source) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddProperty(const void* key, ULONG type, const BYTE* data, ULONG size) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddRegistryEntry(LPCWSTR name, LPCWSTR subkey, DWORD type, const BYTE* data,
                                                       ULONG size) = 0;
    virtual HRESULT STDMETHODCALLTYPE Start(IMFAsyncCallback* callback) = 0;
};

using CreateVirtualCameraFn = HRESULT(WINAPI*)(int type, int lifetime, int access, LPCWSTR friendly_name,
                                               LPCWSTR source_id, const GUID* categories, ULONG category_count,
                                               VirtualCamera** camera);

class AddressWaker : public CameraWaker {
public:
    void wait(std::atomic<std::uint32_t>& counter, std::uint32_t noted, std::chrono::milliseconds timeout) override {
        WaitOnAddress(reinterpret_cast<volatile void*>(&counter), &noted, sizeof noted,
                      static_cast<DWORD>(timeout.count()));
    }
    void wake_all(std::atomic<std::uint32_t>& counter) override { WakeByAddressAll(reinterpret_cast<void*>(&counter)); }
};

// The service and its waker, shared by the threads that use them.
struct CameraHome {
    AddressWaker waker;
    CameraService service{waker, [](std::string_view line) { log_line(line); }};
};

// A text value of HKEY_LOCAL_MACHINE, at most 1,024 units. An expandable
// value is read as it is stored and its environment references filled in
// here: asking RegGetValueW to expand is refused on some systems (Wine
// among them) unless RRF_NOEXPAND is given.
std::optional<std::wstring> registry_text(const wchar_t* key, const wchar_t* value, bool expandable) {
    std::wstring text(1024, L'\0');
    DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    DWORD type = REG_NONE;
    const DWORD flags = expandable ? RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND : RRF_RT_REG_SZ;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key, value, flags, &type, text.data(), &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    text.resize(wcsnlen(text.data(), text.size()));
    if (type != REG_EXPAND_SZ) return text;
    const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    if (needed == 0) return std::nullopt;
    std::wstring expanded(needed, L'\0');
    const DWORD written = ExpandEnvironmentStringsW(text.c_str(), expanded.data(), needed);
    if (written == 0 || written > needed) return std::nullopt;
    expanded.resize(wcsnlen(expanded.data(), expanded.size()));
    return expanded;
}

std::optional<std::uint16_t> asked_native_machine() {
    using Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    auto ask = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process2")));
    USHORT process = 0, native = 0;
    if (!ask || !ask(GetCurrentProcess(), &process, &native)) return std::nullopt;
    return native;
}

// The running virtual camera, or the status that tells why there is none.
std::variant<ComRef<VirtualCamera>, CameraStatus> create_virtual_camera() {
    // From the system folder only: a DLL of that name beside the program or
    // in the working folder is never loaded.
    static const auto create = system_function<CreateVirtualCameraFn>(L"mfsensorgroup.dll", "MFCreateVirtualCamera");
    if (!create)
        return CameraStatus{CameraStatusKind::Failed, "MFCreateVirtualCamera: " + hresult_text(E_NOTIMPL)};
    ComRef<VirtualCamera> camera;
    HRESULT hr = create(kSoftwareCameraSource, kLifetimeSession, kAccessCurrentUser, kCameraName, kCameraClassId,
                        nullptr, 0, camera.put());
    if (hr == E_ACCESSDENIED) return CameraStatus{CameraStatusKind::NoAccess, ""};
    if (FAILED(hr) || !camera)
        return CameraStatus{CameraStatusKind::Failed, "MFCreateVirtualCamera: " + hresult_text(FAILED(hr) ? hr : E_POINTER)};
    hr = camera->Start(nullptr);
    if (hr == E_ACCESSDENIED) return CameraStatus{CameraStatusKind::NoAccess, ""};
    if (FAILED(hr)) return CameraStatus{CameraStatusKind::Failed, "Start: " + hresult_text(hr)};
    return camera;
}

// Holds the running virtual camera for the rest of the camera thread's life.
class WindowsCameraMaker : public VirtualCameraMaker {
public:
    std::optional<std::string> registered_dll() override {
        auto dll = registered_camera_dll();
        if (!dll) return std::nullopt;
        return wide_to_string(dll->wstring());
    }
    CameraStatus create() override {
        auto made = create_virtual_camera();
        if (auto* status = std::get_if<CameraStatus>(&made)) return *status;
        camera_ = std::move(std::get<ComRef<VirtualCamera>>(made));
        return {CameraStatusKind::Ready, ""};
    }

private:
    ComRef<VirtualCamera> camera_;
};

void run_virtual_camera(std::shared_ptr<CameraHome> home) {
    set_current_thread_name("vorlix-camera");
    CameraService& service = home->service;
    ComApartment com;
    const auto number = windows_build_number();
    if (!number || *number < kCameraMinimumBuild) return service.set_status({CameraStatusKind::NeedsWindows11, ""});
    if (auto native = asked_native_machine(); native && *native != kMachineX64)
        return service.set_status({CameraStatusKind::NeedsNativeApp, ""});
    (void)MFStartup(MF_VERSION, MFSTARTUP_FULL);

    WicCameraDecoder decoder;
    WindowsCameraSection section;
    CameraWriter writer(section);
    const std::unique_ptr<VirtualCameraMaker> maker = make_windows_camera_maker();
    for (;;) service.run_turn(*maker, writer, decoder);
}

std::shared_ptr<CameraHome> make_camera_home() {
    auto home = std::make_shared<CameraHome>();
    try {
        std::thread(run_virtual_camera, home).detach();
    } catch (const std::exception&) {
        // Without its thread the camera stays Starting.
    }
    return home;
}

std::shared_ptr<CameraHome>& camera_home() {
    static std::shared_ptr<CameraHome> home = make_camera_home();
    return home;
}

}  // namespace

void start_camera() { (void)camera_home(); }

CameraService& camera_service() { return camera_home()->service; }

std::unique_ptr<VirtualCameraMaker> make_windows_camera_maker() { return std::make_unique<WindowsCameraMaker>(); }

std::optional<std::uint32_t> windows_build_number() {
    const auto build =
        registry_text(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"CurrentBuildNumber", false);
    return build ? parse_build_number(wide_to_string(*build)) : std::nullopt;
}

std::optional<std::filesystem::path> registered_camera_dll() {
    const std::wstring key = std::wstring(L"Software\\Classes\\CLSID\\") + kCameraClassId + L"\\InprocServer32";
    auto path = registry_text(key.c_str(), nullptr, true);
    if (!path || path->empty()) return std::nullopt;
    if (pe_machine_of_file(*path) != native_machine()) return std::nullopt;
    return std::filesystem::path(*path);
}

std::uint16_t native_machine() { return asked_native_machine().value_or(kMachineX64); }

std::optional<std::filesystem::path> camera_dll_name() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return std::nullopt;
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        if (path.size() >= 32768) return std::nullopt;
        path.resize(path.size() * 2);
    }
    return camera_dll_in(std::filesystem::path(path).parent_path(), native_machine());
}

Result<bool> register_camera_dll() {
    auto dll = camera_dll_name();
    if (!dll) return Error("no VorLixCamera.dll for this processor beside Vorlix.exe");
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    struct Leave {
        bool entered;
        ~Leave() {
            if (entered) CoUninitialize();
        }
    } leave{SUCCEEDED(com)};

    wchar_t root[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"SystemRoot", root, MAX_PATH);
    const std::wstring program = length > 0 && length < MAX_PATH
                                     ? std::wstring(root, length) + L"\\System32\\regsvr32.exe"
                                     : std::wstring(L"regsvr32.exe");
    const std::wstring parameters = L"/s \"" + dll->wstring() + L"\"";
    SHELLEXECUTEINFOW run{};
    run.cbSize = sizeof run;
    run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    run.lpVerb = L"runas";
    run.lpFile = program.c_str();
    run.lpParameters = parameters.c_str();
    run.nShow = SW_HIDE;
    if (!ShellExecuteExW(&run)) return Error("not allowed (" + system_error_text(GetLastError()) + ")");
    if (!run.hProcess) return Error("regsvr32 did not start");
    WaitForSingleObject(run.hProcess, INFINITE);
    DWORD code = 1;
    if (!GetExitCodeProcess(run.hProcess, &code)) code = 1;
    CloseHandle(run.hProcess);
    if (code != 0) return Error("regsvr32 exit code " + std::to_string(code));
    return true;
}

bool camera_menu_available() {
    return camera_service().setup_offered([] { return camera_dll_name().has_value(); });
}

void start_camera_setup() {
    std::shared_ptr<CameraHome> home = camera_home();
    if (!home->service.begin_setup()) return;
    try {
        std::thread([home] {
            set_current_thread_name("vorlix-camera-setup");
            home->service.run_setup(register_camera_dll);
        }).detach();
    } catch (const std::exception&) {
        // The set-up stays marked as running.
    }
}

WindowsCameraSection::~WindowsCameraSection() { close(); }

std::optional<std::span<std::uint8_t>> WindowsCameraSection::open() {
    close();
    handle_ = OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, L"Global\\VorLixCamera");
    if (!handle_) return std::nullopt;
    view_ = MapViewOfFile(handle_, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, kCameraSectionBytes);
    if (!view_) {
        close();
        return std::nullopt;
    }
    return std::span(static_cast<std::uint8_t*>(view_), kCameraSectionBytes);
}

void WindowsCameraSection::close() {
    if (view_) UnmapViewOfFile(std::exchange(view_, nullptr));
    if (handle_) CloseHandle(std::exchange(handle_, nullptr));
}

std::uint64_t WindowsCameraSection::tick_ms() { return GetTickCount64(); }
std::uint32_t WindowsCameraSection::process_id() { return GetCurrentProcessId(); }
void WindowsCameraSection::log(std::string_view line) { log_line(line); }

struct WicCameraDecoder::Factory {
    ComRef<IWICImagingFactory> wic;
};

WicCameraDecoder::WicCameraDecoder() : factory_(new Factory), frame_(kCameraBgraBytes) {
    CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                     factory_->wic.put_void());
}

WicCameraDecoder::~WicCameraDecoder() { delete factory_; }

std::optional<ByteView> WicCameraDecoder::decode(ByteView bytes) {
    if (!factory_->wic) return std::nullopt;
    auto decoded = try_decode(bytes);
    if (decoded) return ByteView(frame_);
    if (++failures_ <= 3) log_line("camera: WIC could not decode a picture: " + decoded.error().text);
    return std::nullopt;
}

Result<bool> WicCameraDecoder::try_decode(ByteView bytes) {
    IWICImagingFactory& wic = *factory_->wic.get();
    auto fail = [](const char* step, HRESULT hr) { return Error(std::string(step) + ": " + hresult_text(hr)); };
    if (bytes.size() > 0xFFFFFFFFull) return Error("the picture is too large");
    ComRef<IStream> stream(SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size())));
    if (!stream) return Error("could not make a memory stream");
    ComRef<IWICBitmapDecoder> decoder;
    HRESULT hr = wic.CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand, decoder.put());
    if (FAILED(hr) || !decoder) return fail("reading the picture", FAILED(hr) ? hr : E_POINTER);
    ComRef<IWICBitmapFrameDecode> frame;
    hr = decoder->GetFrame(0, frame.put());
    if (FAILED(hr) || !frame) return fail("reading its first frame", FAILED(hr) ? hr : E_POINTER);
    UINT width = 0, height = 0;
    hr = frame->GetSize(&width, &height);
    if (FAILED(hr)) return fail("reading the size", hr);
    // The size is checked before any pixel is converted, so a small file
    // that declares a huge picture never gets its pixels held.
    auto fit = fit_in_camera(width, height);
    if (!fit || !decoded_size_allowed(width, height))
        return Error("a picture of " + std::to_string(width) + "x" + std::to_string(height) + " pixels is refused");
    ComRef<IWICFormatConverter> converter;
    hr = wic.CreateFormatConverter(converter.put());
    if (FAILED(hr) || !converter) return fail("making a converter", FAILED(hr) ? hr : E_POINTER);
    hr = converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                               WICBitmapPaletteTypeCustom);
    if (FAILED(hr)) return fail("converting to 32-bit pixels", hr);
    if (width == kCameraWidth && height == kCameraHeight) {
        hr = converter->CopyPixels(nullptr, kCameraWidth * 4, static_cast<UINT>(frame_.size()), frame_.data());
        if (FAILED(hr)) return fail("reading the pixels", hr);
        return true;
    }
    // The scaler pulls rows through the converter as it goes.
    ComRef<IWICBitmapScaler> scaler;
    hr = wic.CreateBitmapScaler(scaler.put());
    if (FAILED(hr) || !scaler) return fail("making a scaler", FAILED(hr) ? hr : E_POINTER);
    hr = scaler->Initialize(converter.get(), fit->width, fit->height, WICBitmapInterpolationModeLinear);
    if (FAILED(hr)) return fail("scaling", hr);
    scaled_.resize(std::size_t{fit->width} * fit->height * 4);
    hr = scaler->CopyPixels(nullptr, fit->width * 4, static_cast<UINT>(scaled_.size()), scaled_.data());
    if (FAILED(hr)) return fail("reading the scaled pixels", hr);
    if (!letterbox_into_frame(*fit, scaled_, frame_)) return Error("the scaled picture does not fit");
    return true;
}

}  // namespace vorlix
