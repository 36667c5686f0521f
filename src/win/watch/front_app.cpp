#include "win/watch/front_app.h"

#include <windows.h>

#include <vector>

#include "watch/front_app_naming.h"
#include "win/system/wide.h"

namespace vorlix {

std::optional<std::string> read_version_string(const std::wstring& path, const std::string& key) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return std::nullopt;
    std::vector<std::uint8_t> block(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return std::nullopt;
    return version_block_string(ByteView(block), key);
}

std::optional<FrontApp> read_front_app() {
    HWND window = GetForegroundWindow();
    if (!window) return std::nullopt;
    DWORD process_id = 0;
    GetWindowThreadProcessId(window, &process_id);
    if (process_id == 0) return std::nullopt;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
    if (!process) return std::nullopt;
    wchar_t buffer[1024];
    DWORD length = 1024;
    const BOOL named = QueryFullProcessImageNameW(process, 0, buffer, &length);
    CloseHandle(process);
    if (!named) return std::nullopt;
    const std::string path = wide_to_string(buffer, length);
    const std::wstring wide_path = to_wide(path);
    return name_front_app(path, [&](const std::string& key) { return read_version_string(wide_path, key); });
}

}  // namespace vorlix
