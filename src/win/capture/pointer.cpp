#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "capture/cursor_report.h"
#include "win/capture/win_capture.h"

namespace vorlix {

namespace {

// The rows of a bitmap, top-down, as 32-bit BGRA or as 1-bit rows padded to 4 bytes.
std::optional<Bytes> bitmap_bits(HBITMAP bitmap, int width, int height, int bits_per_pixel) {
    // No cursor is this large; a bitmap that claims to be is not read.
    if (width < 1 || width > 1024 || height < 1 || height > 2048) return std::nullopt;
    HDC dc = GetDC(nullptr);
    if (!dc) return std::nullopt;
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colours[2];
    } info{};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = width;
    info.header.biHeight = -height;
    info.header.biPlanes = 1;
    info.header.biBitCount = static_cast<WORD>(bits_per_pixel);
    info.header.biCompression = BI_RGB;
    const std::size_t stride = ((static_cast<std::size_t>(width) * bits_per_pixel + 31) / 32) * 4;
    Bytes bits(stride * static_cast<std::size_t>(height));
    const int rows = GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), bits.data(),
                               reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    if (rows != height) return std::nullopt;
    return bits;
}

class WindowsPointerSource final : public PointerSource {
public:
    explicit WindowsPointerSource(std::function<std::optional<Instant>()> last_move)
        : last_move_(std::move(last_move)) {}

    std::optional<SystemPointer> read() override {
        CURSORINFO ci{};
        ci.cbSize = sizeof(ci);
        if (!GetCursorInfo(&ci)) return std::nullopt;
        SystemPointer p;
        p.visible = (ci.flags & CURSOR_SHOWING) != 0 && ci.hCursor != nullptr;
        p.x = ci.ptScreenPos.x;
        p.y = ci.ptScreenPos.y;
        p.handle = reinterpret_cast<std::uintptr_t>(ci.hCursor);
        return p;
    }

    std::optional<CursorImage> cursor_image(std::uintptr_t handle) override {
        return cursor_icon_to_rgba(handle);
    }

    std::optional<Instant> last_relative_move() override { return last_move_ ? last_move_() : std::nullopt; }

private:
    std::function<std::optional<Instant>()> last_move_;
};

}  // namespace

std::optional<CursorImage> cursor_icon_to_rgba(std::uintptr_t handle) {
    HICON icon = reinterpret_cast<HICON>(handle);
    if (!icon) return std::nullopt;
    ICONINFO ii{};
    if (!GetIconInfo(icon, &ii)) return std::nullopt;
    std::optional<CursorImage> image;
    BITMAP mask{};
    const bool has_mask = ii.hbmMask && GetObjectW(ii.hbmMask, sizeof(mask), &mask) == sizeof(mask);
    BITMAP colour{};
    if (ii.hbmColor) {
        if (GetObjectW(ii.hbmColor, sizeof(colour), &colour) == sizeof(colour)) {
            const int w = colour.bmWidth;
            const int h = std::abs(colour.bmHeight);
            const auto mask_pitch = static_cast<std::uint32_t>(((std::max(w, 0) + 31) / 32) * 4);
            auto bgra = bitmap_bits(ii.hbmColor, w, h, 32);
            // The mask when it fits the colour picture; else every pixel
            // takes its colour as it is.
            std::optional<Bytes> bits;
            if (has_mask && mask.bmWidth == w && std::abs(mask.bmHeight) >= h) bits = bitmap_bits(ii.hbmMask, w, h, 1);
            if (!bits) bits = Bytes(static_cast<std::size_t>(mask_pitch) * static_cast<std::size_t>(std::max(h, 0)), 0);
            if (bgra)
                image = cursor_from_icon_bitmaps(*bgra, *bits, static_cast<std::uint32_t>(w),
                                                 static_cast<std::uint32_t>(h), mask_pitch, ii.xHotspot, ii.yHotspot);
        }
    } else if (has_mask) {
        // A monochrome cursor: the AND mask above the XOR mask.
        const int w = mask.bmWidth;
        const int h = std::abs(mask.bmHeight) / 2;
        const auto mask_pitch = static_cast<std::uint32_t>(((std::max(w, 0) + 31) / 32) * 4);
        auto bits = h > 0 ? bitmap_bits(ii.hbmMask, w, h * 2, 1) : std::nullopt;
        if (bits)
            image = cursor_from_monochrome(*bits, static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h),
                                           mask_pitch, ii.xHotspot, ii.yHotspot);
    }
    if (ii.hbmMask) DeleteObject(ii.hbmMask);
    if (ii.hbmColor) DeleteObject(ii.hbmColor);
    return image;
}

std::unique_ptr<PointerSource> make_windows_pointer_source(std::function<std::optional<Instant>()> last_move) {
    return std::make_unique<WindowsPointerSource>(std::move(last_move));
}

}  // namespace vorlix
