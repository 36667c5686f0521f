#include "win/ui/host_window.h"

#include <atomic>

#include "host/log.h"

namespace vorlix {
namespace {

std::atomic<HWND> g_main_window{nullptr};
std::atomic<bool> g_open_at_sign_in_allowed{false};

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_CLOSE:
            // Closing only hides the window; the host keeps running.
            ShowWindow(window, SW_HIDE);
            return 0;
        case WM_COMMAND:
            if (lparam == 0) {
                switch (LOWORD(wparam)) {
                    case kMenuOpen:
                    case kMenuPair:
                        ShowWindow(window, SW_SHOW);
                        ShowWindow(window, SW_RESTORE);
                        SetForegroundWindow(window);
                        break;
                    case kMenuQuit:
                        DestroyWindow(window);
                        break;
                    default:
                        break;
                }
            }
            return 0;
        case kCloseForUpdateMessage:
            DestroyWindow(window);
            return 0;
        case WM_TIMER:
        case kRefreshMessage:
        case kShowNoticesMessage:
        case kTrayCallbackMessage:
            return 0;
        case WM_POWERBROADCAST:
            return TRUE;
        default:
            return DefWindowProcW(window, message, wparam, lparam);
    }
}

}  // namespace

HWND main_window_handle() { return g_main_window.load(); }

void set_open_at_sign_in_allowed(bool allowed) { g_open_at_sign_in_allowed = allowed; }

bool open_at_sign_in_allowed() { return g_open_at_sign_in_allowed.load(); }

void run_window(bool hidden, bool /*just_updated*/, const InstallChangeCallback& install_change_callback) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);

    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = window_proc;
    window_class.hInstance = instance;
    window_class.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    window_class.hIconSm = LoadIconW(nullptr, IDI_APPLICATION);
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
    window_class.lpszClassName = kHostWindowClass;
    RegisterClassExW(&window_class);  // a class left from an earlier run in this process is fine

    const HWND window = CreateWindowExW(0, kHostWindowClass, L"Vorlix",
                                        WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                                        CW_USEDEFAULT, 480, 600, nullptr, nullptr, instance, nullptr);
    if (!window) {
        log_line("the window could not be made");
        return;
    }
    g_main_window.store(window);

    if (install_change_callback) {
        install_change_callback([window] { PostMessageW(window, kRefreshMessage, 0, 0); });
    }
    SetTimer(window, 1, 1000, nullptr);
    if (!hidden) ShowWindow(window, SW_SHOW);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(window, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    g_main_window.store(nullptr);
}

bool activate_running_window() {
    const HWND window = FindWindowW(kHostWindowClass, nullptr);
    if (!window) return false;
    ShowWindow(window, SW_SHOW);
    ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
    return true;
}

}  // namespace vorlix
