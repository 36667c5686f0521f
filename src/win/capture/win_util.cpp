#include "win/capture/win_util.h"

#include <cstdio>

namespace vorlix::capture_detail {

namespace {

std::string narrow(const wchar_t* text, int length) {
    if (length <= 0) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return {};
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
    return out;
}

}  // namespace

std::string hresult_text(HRESULT hr) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, static_cast<DWORD>(hr), 0,
                                   reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text = buffer ? narrow(buffer, static_cast<int>(n)) : std::string();
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                             text.back() == '.'))
        text.pop_back();
    char code[32];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    if (text.empty()) return std::string("system error ") + code;
    return text + " (" + code + ")";
}

std::string last_error_text() { return hresult_text(HRESULT_FROM_WIN32(GetLastError())); }

}  // namespace vorlix::capture_detail
