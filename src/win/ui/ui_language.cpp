#include "win/ui/ui_language.h"

#include <windows.h>

#include "win/system/wide.h"

namespace vorlix {
namespace {

// True when the UTF-16 units hold no unpaired surrogate.
bool is_valid_utf16(std::wstring_view units) {
    for (std::size_t i = 0; i < units.size(); ++i) {
        const wchar_t unit = units[i];
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 == units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return false;
            ++i;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

std::optional<std::string> language_variable() {
    const DWORD needed = GetEnvironmentVariableW(L"VORLIX_LANG", nullptr, 0);
    if (needed == 0) return std::nullopt;
    std::wstring value(needed, L'\0');
    const DWORD length = GetEnvironmentVariableW(L"VORLIX_LANG", value.data(), needed);
    if (length >= needed) return std::nullopt;
    value.resize(length);
    if (!is_valid_utf16(value)) return std::nullopt;
    return wide_to_string(value);
}

std::vector<std::string> preferred_ui_languages() {
    constexpr DWORD kLanguageName = 8;  // MUI_LANGUAGE_NAME
    ULONG count = 0;
    ULONG size = 0;
    std::vector<std::string> names;
    if (!GetUserPreferredUILanguages(kLanguageName, &count, nullptr, &size) || size == 0) {
        (void)GetLastError();
        return names;
    }
    std::wstring buffer(size, L'\0');
    if (!GetUserPreferredUILanguages(kLanguageName, &count, buffer.data(), &size)) {
        (void)GetLastError();
        return names;
    }
    std::wstring_view rest(buffer.data(), std::min<std::size_t>(size, buffer.size()));
    while (!rest.empty()) {
        const std::size_t end = rest.find(L'\0');
        const std::wstring_view name = rest.substr(0, end);
        if (!name.empty()) names.push_back(wide_to_string(name));
        if (end == std::wstring_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    return names;
}

}  // namespace

LanguageSources windows_language_sources() { return {language_variable, preferred_ui_languages}; }

}  // namespace vorlix
