// Asks running hosts to quit the way their tray menu's Quit entry does: posts
// the menu command to every top-level window of class "VorlixHostWindow"
// that belongs to a program named Vorlix.exe, once there are at least as many
// as the first argument says (default 1). A second argument names another
// menu command (5 installs the update the menu offers). Exits with 0 when they took the
// message, 1 when they did not all appear within 10 s.
#include <windows.h>

#include <cstdlib>
#include <vector>

#include "host_program.h"

namespace {

BOOL CALLBACK collect_host_window(HWND window, LPARAM found) {
    wchar_t name[64] = {};
    if (GetClassNameW(window, name, 64) > 0 && lstrcmpW(name, L"VorlixHostWindow") == 0 &&
        owned_by_host_program(window)) {
        reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    }
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t wanted = argc > 1 ? static_cast<std::size_t>(std::atoi(argv[1])) : 1;
    const WORD command = argc > 2 ? static_cast<WORD>(std::atoi(argv[2])) : 3;
    for (int attempt = 0; attempt < 200; ++attempt) {
        std::vector<HWND> windows;
        EnumWindows(collect_host_window, reinterpret_cast<LPARAM>(&windows));
        if (!windows.empty() && windows.size() >= wanted) {
            bool all = true;
            for (HWND window : windows) all = PostMessageW(window, WM_COMMAND, MAKEWPARAM(command, 0), 0) && all;
            return all ? 0 : 1;
        }
        Sleep(50);
    }
    return 1;
}
