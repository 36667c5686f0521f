#include "win/ink/ink_overlay_window.h"

#include <windows.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "host/log.h"
#include "host/session_log.h"
#include "ink/ink_raster.h"
#include "util/thread_name.h"
#include "win/capture/win_capture.h"

namespace vorlix {

namespace {

constexpr DWORD kOverlayStyle = WS_EX_TOPMOST | WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW | WS_EX_LAYERED | WS_EX_NOACTIVATE;
constexpr DWORD kExcludeFromCapture = 0x11;  // WDA_EXCLUDEFROMCAPTURE, Windows 10 2004 and later

// The overlay's queue, set up by the first event and kept for the whole run
// (never released, so no sender goes away while the process exits).
struct OverlayLink {
    std::mutex mutex;
    std::shared_ptr<InkOverlayQueue> queue;
};

OverlayLink& overlay_link() {
    static OverlayLink* link = new OverlayLink;
    return *link;
}

LRESULT CALLBACK ink_overlay_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_MOUSEACTIVATE) return MA_NOACTIVATE;
    if (message == WM_NCHITTEST) return HTTRANSPARENT;
    return DefWindowProcW(window, message, wparam, lparam);
}

// The overlay window and its drawing surface: a top-down 32-bit DIB section
// selected into a memory device context.
class WindowsInkScreen final : public InkOverlayScreen {
public:
    explicit WindowsInkScreen(HWND window) : window_(window) {}
    ~WindowsInkScreen() override { release_surface(); }
    WindowsInkScreen(const WindowsInkScreen&) = delete;
    WindowsInkScreen& operator=(const WindowsInkScreen&) = delete;

    MonitorInfo read_monitor() override { return primary_monitor(); }

    void pump_messages() override {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }

    std::span<std::uint8_t> make_surface(std::uint32_t width, std::uint32_t height) override {
        const std::uint64_t bytes = ink_picture_bytes(width, height);
        if (bytes == 0 || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu) return {};
        HDC screen = GetDC(nullptr);
        HDC memory = CreateCompatibleDC(screen);
        ReleaseDC(nullptr, screen);
        if (!memory) return {};
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = static_cast<LONG>(width);
        info.bmiHeader.biHeight = -static_cast<LONG>(height);  // rows top to bottom
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (!bitmap || !bits) {
            if (bitmap) DeleteObject(bitmap);
            DeleteDC(memory);
            return {};
        }
        memory_ = memory;
        bitmap_ = bitmap;
        replaced_ = SelectObject(memory, bitmap);
        width_ = width;
        height_ = height;
        return {static_cast<std::uint8_t*>(bits), static_cast<std::size_t>(bytes)};
    }

    void release_surface() override {
        if (!memory_) return;
        SelectObject(memory_, replaced_);
        DeleteObject(bitmap_);
        DeleteDC(memory_);
        memory_ = nullptr;
        bitmap_ = nullptr;
        replaced_ = nullptr;
    }

    void present(const MonitorInfo& monitor) override {
        HDC screen = GetDC(nullptr);
        POINT destination{monitor.left, monitor.top};
        SIZE size{static_cast<LONG>(width_), static_cast<LONG>(height_)};
        POINT source{0, 0};
        BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        if (!UpdateLayeredWindow(window_, screen, &destination, &size, memory_, &source, 0, &blend, ULW_ALPHA)) {
            RequestLines lines("annotate");  // one a drawing the device changes
            log_line("ink: UpdateLayeredWindow failed");
        }
        ReleaseDC(nullptr, screen);
        SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    }

    void hide() override { ShowWindow(window_, SW_HIDE); }

private:
    HWND window_;
    HDC memory_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ replaced_ = nullptr;
    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
};

void ink_overlay_thread(std::shared_ptr<InkOverlayQueue> queue) {
    set_current_thread_name("vorlix-ink");
    const auto start = std::chrono::steady_clock::now();
    const MonitorInfo monitor = primary_monitor();
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = ink_overlay_window_proc;
    window_class.hInstance = instance;
    window_class.lpszClassName = L"VorlixInk";
    RegisterClassW(&window_class);  // a class left from an earlier start is as good
    HWND window = CreateWindowExW(kOverlayStyle, L"VorlixInk", L"VorlixInk", WS_POPUP, monitor.left, monitor.top,
                                  monitor.width, monitor.height, nullptr, nullptr, instance, nullptr);
    if (!window) {
        log_line("ink: the overlay window could not be made");
        queue->stop();  // later events are dropped, not kept
        return;
    }
    if (!SetWindowDisplayAffinity(window, kExcludeFromCapture)) {
        log_line("ink: could not keep the overlay out of the picture");
    }
    log_line("ink: overlay on the " + std::to_string(monitor.width) + "x" + std::to_string(monitor.height) +
             " monitor");
    WindowsInkScreen screen(window);
    run_ink_overlay(*queue, screen, monitor, [start] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    });
    queue->stop();
}

}  // namespace

std::shared_ptr<InkOverlayQueue> start_ink_overlay_thread() {
    OverlayLink& link = overlay_link();
    std::lock_guard lock(link.mutex);
    if (!link.queue) {
        auto queue = std::make_shared<InkOverlayQueue>();
        try {
            std::thread(ink_overlay_thread, queue).detach();
        } catch (const std::system_error&) {
            log_line("ink: the overlay thread could not start");
            return nullptr;
        }
        link.queue = std::move(queue);
    }
    return link.queue;
}

void send_ink_event_to_overlay(const InkEvent& event) {
    if (auto queue = start_ink_overlay_thread()) queue->send(event);
}

void send_ink_clear() {
    std::shared_ptr<InkOverlayQueue> queue;
    {
        OverlayLink& link = overlay_link();
        std::lock_guard lock(link.mutex);
        queue = link.queue;
    }
    if (queue) queue->send(InkClearAll{});
}

}  // namespace vorlix
