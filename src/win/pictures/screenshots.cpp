#include "win/pictures/screenshots.h"

#include <windows.h>

#include "win/capture/win_capture.h"
#include "win/pictures/picture_coding.h"

namespace vorlix {

namespace {

// The screen's context, a memory context and a top-down 32-bit DIB section
// selected into it; each released when it goes.
class GrabSurface {
public:
    GrabSurface(std::uint32_t width, std::uint32_t height) {
        screen_ = GetDC(nullptr);
        if (!screen_) return;
        memory_ = CreateCompatibleDC(screen_);
        if (!memory_) return;
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = static_cast<LONG>(width);
        info.bmiHeader.biHeight = -static_cast<LONG>(height);
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        bitmap_ = CreateDIBSection(memory_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (!bitmap_ || !bits) return;
        bits_ = static_cast<const std::uint8_t*>(bits);
        previous_ = SelectObject(memory_, bitmap_);
    }
    ~GrabSurface() {
        if (previous_) SelectObject(memory_, previous_);
        if (bitmap_) DeleteObject(bitmap_);
        if (memory_) DeleteDC(memory_);
        if (screen_) ReleaseDC(nullptr, screen_);
    }
    GrabSurface(const GrabSurface&) = delete;
    GrabSurface& operator=(const GrabSurface&) = delete;

    bool ready() const { return bits_ != nullptr; }
    HDC screen() const { return screen_; }
    HDC memory() const { return memory_; }
    const std::uint8_t* bits() const { return bits_; }

private:
    HDC screen_ = nullptr;
    HDC memory_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    const std::uint8_t* bits_ = nullptr;
};

}  // namespace

std::optional<Picture> grab_screen_with_cursor(const MonitorInfo& monitor, std::uint32_t width,
                                               std::uint32_t height, bool draw_cursor) {
    if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF) return std::nullopt;
    GrabSurface surface(width, height);
    if (!surface.ready()) return std::nullopt;
    const bool own_size = static_cast<std::int64_t>(width) == monitor.width &&
                          static_cast<std::int64_t>(height) == monitor.height;
    if (!own_size) {
        SetStretchBltMode(surface.memory(), HALFTONE);
        SetBrushOrgEx(surface.memory(), 0, 0, nullptr);
    }
    if (!StretchBlt(surface.memory(), 0, 0, static_cast<int>(width), static_cast<int>(height), surface.screen(),
                    monitor.left, monitor.top, monitor.width, monitor.height, SRCCOPY | CAPTUREBLT))
        return std::nullopt;
    if (draw_cursor && own_size) draw_cursor_into(surface.memory(), monitor.left, monitor.top);
    GdiFlush();
    const std::size_t size = std::size_t{width} * height * 4;
    return Picture{width, height, Bytes(surface.bits(), surface.bits() + size)};
}

std::optional<Bytes> make_screenshot_png() {
    const MonitorInfo monitor = primary_monitor();
    if (monitor.width <= 0 || monitor.height <= 0) return std::nullopt;
    const auto grab = grab_screen_with_cursor(monitor, static_cast<std::uint32_t>(monitor.width),
                                              static_cast<std::uint32_t>(monitor.height), true);
    if (!grab) return std::nullopt;
    return encode_png_24(grab->width, grab->height, grab->pixels);
}

std::optional<Bytes> make_preview_jpeg() {
    const MonitorInfo monitor = primary_monitor();
    const PreviewSize size = preview_size(monitor.width, monitor.height);
    const auto grab = grab_screen_with_cursor(monitor, size.width, size.height, false);
    if (!grab) return std::nullopt;
    return encode_jpeg_24(grab->width, grab->height, grab->pixels, 0.6f);
}

}  // namespace vorlix
