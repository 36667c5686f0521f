// Looks at the host's ink overlay the way a person at the PC would see it:
//   vorlix_ink_probe shown|hidden <x> <y> <RRGGBB>
// x and y are fractions of the primary monitor. "shown" waits for a visible
// overlay window of Vorlix.exe (layered, topmost, transparent to clicks,
// never active) and for a screen grab that has the colour at that point;
// "hidden" waits for the window to be hidden and the colour gone. Exits 0
// when that came within 10 s, else 1, printing what it saw.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host_program.h"

namespace {

HWND find_overlay() {
    for (HWND w = FindWindowExW(nullptr, nullptr, L"VorlixInk", nullptr); w;
         w = FindWindowExW(nullptr, w, L"VorlixInk", nullptr)) {
        if (owned_by_host_program(w)) return w;
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) return 2;
    const bool want_shown = std::strcmp(argv[1], "shown") == 0;
    const COLORREF colour = std::strtoul(argv[4], nullptr, 16);
    const COLORREF wanted = RGB((colour >> 16) & 255, (colour >> 8) & 255, colour & 255);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &info);
    const RECT& m = info.rcMonitor;
    const int x = m.left + static_cast<int>(std::atof(argv[2]) * (m.right - m.left));
    const int y = m.top + static_cast<int>(std::atof(argv[3]) * (m.bottom - m.top));

    const DWORD needed = WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOPMOST | WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW;
    for (int attempt = 0; attempt < 200; ++attempt) {
        HWND overlay = find_overlay();
        const bool visible = overlay && IsWindowVisible(overlay);
        HDC screen = GetDC(nullptr);
        const COLORREF seen = GetPixel(screen, x, y);
        ReleaseDC(nullptr, screen);
        if (want_shown && visible && seen == wanted) {
            const auto style = static_cast<DWORD>(GetWindowLongW(overlay, GWL_EXSTYLE));
            const LRESULT hit = SendMessageW(overlay, WM_NCHITTEST, 0, MAKELPARAM(x, y));
            const bool active = GetForegroundWindow() == overlay || GetActiveWindow() == overlay;
            std::printf("overlay shown, style %08lx, hit test %ld, active %d\n", style, static_cast<long>(hit), active);
            return (style & needed) == needed && hit == HTTRANSPARENT && !active ? 0 : 1;
        }
        if (!want_shown && !visible && seen != wanted) return 0;
        if (attempt == 199) std::printf("overlay %p visible %d, colour at %d,%d is %06lx\n", static_cast<void*>(overlay),
                                        visible, x, y, static_cast<unsigned long>(seen));
        Sleep(50);
    }
    return 1;
}
