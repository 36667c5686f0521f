#include <windows.h>
#include <wtsapi32.h>

#include <cwctype>
#include <string>

#include "win/capture/win_capture.h"
#include "win/system/system_function.h"

namespace vorlix {

namespace {

// The session information of class WTSSessionInfoEx, which MinGW's headers lack.
struct WtsInfoExLevel1 {
    ULONG session_id;
    INT session_state;
    LONG session_flags;
    WCHAR win_station_name[33];
    WCHAR user_name[21];
    WCHAR domain_name[18];
    LARGE_INTEGER logon_time;
    LARGE_INTEGER connect_time;
    LARGE_INTEGER disconnect_time;
    LARGE_INTEGER last_input_time;
    LARGE_INTEGER current_time;
    DWORD incoming_bytes;
    DWORD outgoing_bytes;
    DWORD incoming_frames;
    DWORD outgoing_frames;
    DWORD incoming_compressed_bytes;
    DWORD outgoing_compressed_bytes;
};

struct WtsInfoEx {
    DWORD level;
    union {
        WtsInfoExLevel1 level1;
    } data;
};
static_assert(sizeof(WtsInfoEx) == 232, "WTSINFOEXW is 232 bytes on x64");

constexpr int kWtsSessionInfoEx = 25;
constexpr LONG kWtsSessionStateLock = 0;

using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);

GetDpiForMonitorFn dpi_function() {
    static const auto fn = system_function<GetDpiForMonitorFn>(L"shcore.dll", "GetDpiForMonitor");
    return fn;
}

bool session_locked() {
    LPWSTR buffer = nullptr;
    DWORD bytes = 0;
    if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION,
                                     static_cast<WTS_INFO_CLASS>(kWtsSessionInfoEx), &buffer, &bytes))
        return false;
    bool locked = false;
    if (buffer && bytes >= sizeof(WtsInfoEx)) {
        const auto* info = reinterpret_cast<const WtsInfoEx*>(buffer);
        locked = info->level == 1 && info->data.level1.session_flags == kWtsSessionStateLock;
    }
    if (buffer) WTSFreeMemory(buffer);
    return locked;
}

}  // namespace

MonitorInfo primary_monitor() {
    MonitorInfo info;
    HMONITOR monitor = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    info.monitor = reinterpret_cast<std::uintptr_t>(monitor);
    MONITORINFO mi{};
    mi.cbSize = sizeof(mi);
    if (GetMonitorInfoW(monitor, &mi)) {
        info.left = mi.rcMonitor.left;
        info.top = mi.rcMonitor.top;
        info.width = mi.rcMonitor.right - mi.rcMonitor.left;
        info.height = mi.rcMonitor.bottom - mi.rcMonitor.top;
    }
    info.dpi = 96;
    if (auto fn = dpi_function()) {
        UINT x = 0, y = 0;
        if (SUCCEEDED(fn(monitor, 0 /* MDT_EFFECTIVE_DPI */, &x, &y))) info.dpi = x;
    }
    return info;
}

ScreenBlock screen_block_reason() {
    if (session_locked()) return ScreenBlock::screen_locked;
    HDESK desk = OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS);
    if (!desk) return ScreenBlock::secure_desktop;
    WCHAR name[64] = {};
    DWORD needed = 0;
    const BOOL read = GetUserObjectInformationW(desk, UOI_NAME, name, sizeof(name), &needed);
    CloseDesktop(desk);
    if (!read) return ScreenBlock::none;
    name[63] = 0;
    const wchar_t* expected = L"default";
    std::size_t i = 0;
    for (; name[i] != 0 && expected[i] != 0; ++i) {
        wchar_t c = name[i];
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c != expected[i]) return ScreenBlock::secure_desktop;
    }
    return name[i] == 0 && expected[i] == 0 ? ScreenBlock::none : ScreenBlock::secure_desktop;
}

std::optional<std::string> read_environment(const wchar_t* name) {
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) return std::nullopt;
    std::wstring value(size, L'\0');
    const DWORD got = GetEnvironmentVariableW(name, value.data(), size);
    if (got == 0 || got >= size) return std::nullopt;
    value.resize(got);
    const int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, value.data(),
                                      static_cast<int>(value.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return value.empty() ? std::optional<std::string>(std::string()) : std::nullopt;
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, value.data(), static_cast<int>(value.size()),
                        out.data(), n, nullptr, nullptr);
    return out;
}

}  // namespace vorlix
