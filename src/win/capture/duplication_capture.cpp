#include <windows.h>
#include <d3d11.h>
#include <dxgi1_2.h>

#include <cstring>

#include "capture/duplication.h"
#include "win/capture/win_capture.h"
#include "win/capture/win_util.h"
#include "win/system/system_function.h"

namespace vorlix {

namespace {

using capture_detail::Com;
using capture_detail::hresult_text;

static_assert(sizeof(DXGI_OUTDUPL_MOVE_RECT) == sizeof(DupMoveRect));
static_assert(sizeof(RECT) == sizeof(DupRect));

CaptureError map_capture_error(HRESULT hr) {
    if (hr == DXGI_ERROR_ACCESS_LOST) return CaptureError::lost();
    return CaptureError::failed(hresult_text(hr));
}

class DxgiDuplicationSource final : public DuplicationSource {
public:
    DxgiDuplicationSource(Com<ID3D11Device> device, Com<ID3D11DeviceContext> context,
                          Com<IDXGIOutputDuplication> duplication, Com<ID3D11Texture2D> staging)
        : device_(std::move(device)),
          context_(std::move(context)),
          duplication_(std::move(duplication)),
          staging_(std::move(staging)) {}

    AcquireOutcome acquire(std::uint32_t timeout_ms) override {
        DXGI_OUTDUPL_FRAME_INFO info{};
        resource_.reset();
        const HRESULT hr = duplication_->AcquireNextFrame(timeout_ms, &info, resource_.put());
        if (hr == DXGI_ERROR_WAIT_TIMEOUT) return AcquireTimedOut{};
        if (FAILED(hr)) return map_capture_error(hr);
        AcquiredFrame frame;
        frame.has_resource = static_cast<bool>(resource_);
        frame.last_present_time = info.LastPresentTime.QuadPart;
        frame.last_mouse_update_time = info.LastMouseUpdateTime.QuadPart;
        frame.pointer_x = info.PointerPosition.Position.x;
        frame.pointer_y = info.PointerPosition.Position.y;
        frame.pointer_visible = info.PointerPosition.Visible != FALSE;
        frame.total_metadata_size = info.TotalMetadataBufferSize;
        frame.pointer_shape_buffer_size = info.PointerShapeBufferSize;
        return frame;
    }

    std::optional<CaptureError> copy_image(std::uint8_t* clean, std::size_t width,
                                           std::size_t height) override {
        if (!resource_) return map_capture_error(E_POINTER);
        Com<ID3D11Texture2D> texture;
        HRESULT hr = resource_.as(texture);
        if (FAILED(hr)) return map_capture_error(hr);
        if (!texture) return map_capture_error(E_POINTER);
        context_->CopyResource(staging_.get(), texture.get());
        D3D11_MAPPED_SUBRESOURCE mapped{};
        hr = context_->Map(staging_.get(), 0, D3D11_MAP_READ, 0, &mapped);
        if (FAILED(hr)) return map_capture_error(hr);
        const std::size_t row = width * 4;
        if (mapped.pData == nullptr || mapped.RowPitch < row) {
            context_->Unmap(staging_.get(), 0);
            return CaptureError::failed("the mapped picture is smaller than the screen");
        }
        const auto* src = static_cast<const std::uint8_t*>(mapped.pData);
        for (std::size_t y = 0; y < height; ++y) std::memcpy(clean + y * row, src + y * mapped.RowPitch, row);
        context_->Unmap(staging_.get(), 0);
        return std::nullopt;
    }

    bool move_rects(std::span<DupMoveRect> into, std::uint32_t& bytes) override {
        UINT returned = 0;
        const HRESULT hr = duplication_->GetFrameMoveRects(
            static_cast<UINT>(into.size_bytes()), reinterpret_cast<DXGI_OUTDUPL_MOVE_RECT*>(into.data()),
            &returned);
        bytes = returned;
        return SUCCEEDED(hr);
    }

    bool dirty_rects(std::span<DupRect> into, std::uint32_t& bytes) override {
        UINT returned = 0;
        const HRESULT hr = duplication_->GetFrameDirtyRects(static_cast<UINT>(into.size_bytes()),
                                                            reinterpret_cast<RECT*>(into.data()), &returned);
        bytes = returned;
        return SUCCEEDED(hr);
    }

    bool pointer_shape(std::span<std::uint8_t> into, PointerShapeInfo& out) override {
        DXGI_OUTDUPL_POINTER_SHAPE_INFO info{};
        UINT required = 0;
        const HRESULT hr = duplication_->GetFramePointerShape(static_cast<UINT>(into.size()), into.data(),
                                                              &required, &info);
        if (FAILED(hr)) return false;
        out.type = info.Type;
        out.width = info.Width;
        out.height = info.Height;
        out.pitch = info.Pitch;
        out.hot_x = info.HotSpot.x;
        out.hot_y = info.HotSpot.y;
        return true;
    }

    void release_frame() override {
        resource_.reset();
        (void)duplication_->ReleaseFrame();
    }

private:
    Com<ID3D11Device> device_;
    Com<ID3D11DeviceContext> context_;
    Com<IDXGIOutputDuplication> duplication_;
    Com<ID3D11Texture2D> staging_;
    Com<IDXGIResource> resource_;
};

}  // namespace

CaptureResult<CaptureBackendPtr> create_duplication(const MonitorInfo& monitor) {
    // Direct3D loads only when the first picture is taken: the idle host
    // does not carry the graphics stack.
    static const auto create_factory =
        system_function<decltype(&CreateDXGIFactory1)>(L"dxgi.dll", "CreateDXGIFactory1");
    static const auto create_device = system_function<PFN_D3D11_CREATE_DEVICE>(L"d3d11.dll", "D3D11CreateDevice");
    if (!create_factory || !create_device) return CaptureError::failed("no Direct3D 11");

    Com<IDXGIFactory1> factory;
    HRESULT hr = create_factory(__uuidof(IDXGIFactory1), reinterpret_cast<void**>(factory.put()));
    if (FAILED(hr)) return map_capture_error(hr);
    if (!factory) return map_capture_error(E_POINTER);

    Com<IDXGIAdapter1> chosen_adapter;
    Com<IDXGIOutput> chosen_output;
    bool matched = false;
    for (UINT a = 0; !matched; ++a) {
        Com<IDXGIAdapter1> adapter;
        if (FAILED(factory->EnumAdapters1(a, adapter.put())) || !adapter) break;
        for (UINT o = 0; !matched; ++o) {
            Com<IDXGIOutput> output;
            if (FAILED(adapter->EnumOutputs(o, output.put())) || !output) break;
            DXGI_OUTPUT_DESC desc{};
            if (FAILED(output->GetDesc(&desc))) continue;
            if (reinterpret_cast<std::uintptr_t>(desc.Monitor) == monitor.monitor) {
                chosen_adapter = std::move(adapter);
                chosen_output = std::move(output);
                matched = true;
                break;
            }
            if (desc.AttachedToDesktop && !chosen_output) {
                adapter->AddRef();
                Com<IDXGIAdapter1> keep;
                *keep.put() = adapter.get();
                chosen_adapter = std::move(keep);
                chosen_output = std::move(output);
            }
        }
    }
    if (!chosen_output) return CaptureError::failed("no DXGI output");

    Com<ID3D11Device> device;
    Com<ID3D11DeviceContext> context;
    hr = create_device(chosen_adapter.get(), D3D_DRIVER_TYPE_UNKNOWN, nullptr,
                           D3D11_CREATE_DEVICE_BGRA_SUPPORT, nullptr, 0, D3D11_SDK_VERSION, device.put(),
                           nullptr, context.put());
    if (FAILED(hr)) return map_capture_error(hr);
    if (!device) return CaptureError::failed("no device");
    if (!context) return CaptureError::failed("no context");

    Com<IDXGIOutput1> output1;
    hr = chosen_output.as(output1);
    if (FAILED(hr)) return map_capture_error(hr);
    if (!output1) return map_capture_error(E_POINTER);
    Com<IDXGIOutputDuplication> duplication;
    hr = output1->DuplicateOutput(device.get(), duplication.put());
    if (FAILED(hr)) return map_capture_error(hr);
    if (!duplication) return map_capture_error(E_POINTER);
    DXGI_OUTDUPL_DESC dd{};
    duplication->GetDesc(&dd);
    if (auto rotated = rotated_output_error(static_cast<std::uint32_t>(dd.Rotation))) return *rotated;
    const UINT width = dd.ModeDesc.Width;
    const UINT height = dd.ModeDesc.Height;

    D3D11_TEXTURE2D_DESC td{};
    td.Width = width;
    td.Height = height;
    td.MipLevels = 1;
    td.ArraySize = 1;
    td.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    td.SampleDesc.Count = 1;
    td.SampleDesc.Quality = 0;
    td.Usage = D3D11_USAGE_STAGING;
    td.BindFlags = 0;
    td.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    td.MiscFlags = 0;
    Com<ID3D11Texture2D> staging;
    hr = device->CreateTexture2D(&td, nullptr, staging.put());
    if (FAILED(hr)) return map_capture_error(hr);
    if (!staging) return CaptureError::failed("no staging texture");

    auto source = std::make_unique<DxgiDuplicationSource>(std::move(device), std::move(context),
                                                           std::move(duplication), std::move(staging));
    return CaptureBackendPtr(std::make_unique<DuplicationCapture>(width, height, std::move(source)));
}

}  // namespace vorlix
