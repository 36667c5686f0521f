// Reads the host window of a running Vorlix.exe for the end-to-end tests:
// waits up to 10 s for the window of class "VorlixHostWindow", posts the
// tray-menu command given as the first argument (if any; "forget" selects
// the first device, presses Forget and confirms the question), then prints, as
// UTF-8, whether it is visible, its extended style, the text of each
// control (100-109, line breaks as "\n") and each row of the device list.
// Exits with 1 when no window appeared.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string utf8(const wchar_t* text, int length) {
    if (length <= 0) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
    std::string escaped;
    for (char c : out) escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
    return escaped;
}

// Selects the first row of the device list, presses Forget and answers the
// question box with OK; false when no question box came within 10 s.
bool forget_first_device(HWND window) {
    HWND list = GetDlgItem(window, 106);
    SendMessageW(list, LB_SETCURSEL, 0, 0);
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(106, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    // The question is modal: the press is posted so that this program goes on.
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(107, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, 107)));
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (HWND box = FindWindowW(L"#32770", L"Vorlix")) {
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
            return true;
        }
        Sleep(50);
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    HWND window = nullptr;
    for (int attempt = 0; attempt < 200 && !window; ++attempt) {
        window = FindWindowW(L"VorlixHostWindow", nullptr);
        if (!window) Sleep(50);
    }
    if (!window) return 1;
    if (argc > 1 && std::strcmp(argv[1], "forget") == 0) {
        if (!forget_first_device(window)) return 2;
    } else if (argc > 1) {
        const DWORD_PTR command = static_cast<DWORD_PTR>(std::atoi(argv[1]));
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(window, WM_COMMAND, MAKEWPARAM(command, 0), 0, SMTO_NORMAL, 5000, &ignored);
    }
    std::printf("visible=%d\n", IsWindowVisible(window) ? 1 : 0);
    std::printf("exstyle=%08lx\n", static_cast<unsigned long>(GetWindowLongW(window, GWL_EXSTYLE)));
    for (int id = 100; id <= 109; ++id) {
        wchar_t text[1024] = {};
        const int length = GetDlgItemTextW(window, id, text, 1024);
        std::printf("c%d=%s\n", id, utf8(text, length).c_str());
    }
    const LRESULT rows = SendDlgItemMessageW(window, 106, LB_GETCOUNT, 0, 0);
    for (LRESULT row = 0; row < rows && row < 64; ++row) {
        wchar_t text[1024] = {};
        if (SendDlgItemMessageW(window, 106, LB_GETTEXTLEN, row, 0) >= 1024) continue;
        const LRESULT length = SendDlgItemMessageW(window, 106, LB_GETTEXT, row, reinterpret_cast<LPARAM>(text));
        std::printf("row=%s\n", utf8(text, static_cast<int>(length)).c_str());
    }
    return 0;
}
