#include "win/system/wide.h"

#include <windows.h>

#include "app/text.h"

namespace vorlix {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

std::string wide_to_string(const wchar_t* units, std::size_t count) {
    return utf16_to_utf8(reinterpret_cast<const char16_t*>(units), count);
}

std::string wide_to_string(std::wstring_view text) { return wide_to_string(text.data(), text.size()); }

std::wstring to_wide(std::string_view text) {
    const std::u16string units = utf8_to_utf16(text);
    return std::wstring(reinterpret_cast<const wchar_t*>(units.data()), units.size());
}

std::string system_error_text(unsigned long code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text;
    if (length > 0 && buffer) {
        text = wide_to_string(buffer, length);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    }
    if (buffer) LocalFree(buffer);
    if (text.empty()) return "os error " + std::to_string(code);
    return text + " (os error " + std::to_string(code) + ")";
}

}  // namespace vorlix
