#include <windows.h>

#include "capture/gdi.h"
#include "win/capture/win_capture.h"
#include "win/capture/win_util.h"

namespace vorlix {

namespace {

using capture_detail::last_error_text;

// The screen and the DIB section the monitor's rectangle is copied into.
class WinGdiScreen final : public GdiScreen {
public:
    explicit WinGdiScreen(const MonitorInfo& monitor) : monitor_(monitor) {}
    ~WinGdiScreen() override {
        if (memory_dc_ && previous_) SelectObject(memory_dc_, previous_);
        if (dib_) DeleteObject(dib_);
        if (memory_dc_) DeleteDC(memory_dc_);
        if (screen_dc_) ReleaseDC(nullptr, screen_dc_);
    }

    Status open() {
        screen_dc_ = GetDC(nullptr);
        if (!screen_dc_) return Error("GetDC: " + last_error_text());
        memory_dc_ = CreateCompatibleDC(screen_dc_);
        if (!memory_dc_) return Error("CreateCompatibleDC: " + last_error_text());
        BITMAPINFO bmi{};
        bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        bmi.bmiHeader.biWidth = monitor_.width;
        bmi.bmiHeader.biHeight = -monitor_.height;
        bmi.bmiHeader.biPlanes = 1;
        bmi.bmiHeader.biBitCount = 32;
        bmi.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        dib_ = CreateDIBSection(memory_dc_, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (!dib_ || !bits) return Error("CreateDIBSection: " + last_error_text());
        bits_ = static_cast<const std::uint8_t*>(bits);
        previous_ = SelectObject(memory_dc_, dib_);
        return {};
    }

    void sleep_ms(std::uint32_t ms) override { Sleep(ms); }

    std::optional<std::string> copy_screen(bool draw_cursor) override {
        if (!BitBlt(memory_dc_, 0, 0, monitor_.width, monitor_.height, screen_dc_, monitor_.left,
                    monitor_.top, SRCCOPY | CAPTUREBLT))
            return "BitBlt: " + last_error_text();
        if (draw_cursor) draw_system_cursor();
        GdiFlush();
        return std::nullopt;
    }

    ByteView bits() const override {
        return ByteView(bits_, static_cast<std::size_t>(monitor_.width) *
                                   static_cast<std::size_t>(monitor_.height) * 4);
    }

private:
    void draw_system_cursor() { draw_cursor_into(memory_dc_, monitor_.left, monitor_.top); }

    MonitorInfo monitor_;
    HDC screen_dc_ = nullptr;
    HDC memory_dc_ = nullptr;
    HBITMAP dib_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    const std::uint8_t* bits_ = nullptr;
};

}  // namespace

void draw_cursor_into(HDC dc, LONG left, LONG top) {
    CURSORINFO ci{};
    ci.cbSize = sizeof(ci);
    if (!GetCursorInfo(&ci) || !(ci.flags & CURSOR_SHOWING)) return;
    ICONINFO ii{};
    if (!GetIconInfo(ci.hCursor, &ii)) return;
    DrawIconEx(dc, ci.ptScreenPos.x - (left + static_cast<LONG>(ii.xHotspot)),
               ci.ptScreenPos.y - (top + static_cast<LONG>(ii.yHotspot)), ci.hCursor, 0, 0, 0, nullptr, DI_NORMAL);
    if (ii.hbmMask) DeleteObject(ii.hbmMask);
    if (ii.hbmColor) DeleteObject(ii.hbmColor);
}

Result<CaptureBackendPtr> open_gdi_capture(const MonitorInfo& monitor) {
    if (monitor.width <= 0 || monitor.height <= 0)
        return Error("CreateDIBSection: the monitor has no area");
    auto screen = std::make_unique<WinGdiScreen>(monitor);
    if (Status opened = screen->open(); !opened) return opened.error();
    return CaptureBackendPtr(std::make_unique<GdiCapture>(static_cast<std::size_t>(monitor.width),
                                                          static_cast<std::size_t>(monitor.height),
                                                          std::move(screen)));
}

}  // namespace vorlix
