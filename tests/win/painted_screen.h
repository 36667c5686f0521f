// A top-most window that covers the primary monitor in one colour, for the
// tests that grab the screen.
#pragma once

#include <windows.h>

#include "capture/capture.h"

namespace vorlix::test {

// A top-most window that covers the primary monitor in one colour.
class PaintedScreen {
public:
    PaintedScreen(const MonitorInfo& m, COLORREF colour) : brush_(CreateSolidBrush(colour)) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = brush_;
        wc.lpszClassName = L"VorlixCaptureTestPaint";
        RegisterClassW(&wc);
        window_ = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, wc.lpszClassName, L"", WS_POPUP | WS_VISIBLE,
                                  m.left, m.top, m.width, m.height, nullptr, nullptr, wc.hInstance, nullptr);
        UpdateWindow(window_);
        pump();
    }
    ~PaintedScreen() {
        if (window_) DestroyWindow(window_);
        UnregisterClassW(L"VorlixCaptureTestPaint", GetModuleHandleW(nullptr));
        DeleteObject(brush_);
    }
    bool ok() const { return window_ != nullptr; }
    static void pump() {
        for (int round = 0; round < 20; ++round) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            Sleep(10);
        }
    }

private:
    HBRUSH brush_;
    HWND window_ = nullptr;
};

}  // namespace vorlix::test
