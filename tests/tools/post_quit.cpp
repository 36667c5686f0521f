// Asks running hosts to quit the way their tray menu's Quit entry does: posts
// the menu command to every top-level window of class "VorlixHostWindow".
// Exits with 0 when at least one window took the message, 1 when none
// appeared within 10 s.
#include <windows.h>

namespace {

BOOL CALLBACK post_quit(HWND window, LPARAM posted) {
    wchar_t name[64] = {};
    if (GetClassNameW(window, name, 64) > 0 && lstrcmpW(name, L"VorlixHostWindow") == 0) {
        if (PostMessageW(window, WM_COMMAND, MAKEWPARAM(3, 0), 0)) ++*reinterpret_cast<int*>(posted);
    }
    return TRUE;
}

}  // namespace

int main() {
    for (int attempt = 0; attempt < 200; ++attempt) {
        int posted = 0;
        EnumWindows(post_quit, reinterpret_cast<LPARAM>(&posted));
        if (posted > 0) return 0;
        Sleep(50);
    }
    return 1;
}
