#include "win/input/keyboard_layout.h"

#include <windows.h>
#include <shlwapi.h>

#include <mutex>
#include <string>

#include "input/keyboard_layout.h"
#include "win/system/wide.h"

namespace vorlix {

namespace {

// Text from the system: none unless it is valid UTF-16 and not empty.
std::optional<std::string> valid_text(const wchar_t* units, std::size_t count) {
    std::wstring_view text(units, count);
    text = text.substr(0, text.find(L'\0'));
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t u = text[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            return std::nullopt;
        }
    }
    if (text.empty()) return std::nullopt;
    return wide_to_string(text);
}

class WindowsLayoutSystem final : public input::LayoutSystem {
public:
    explicit WindowsLayoutSystem(HKL layout) : layout_(layout) {}

    std::optional<std::string> locale_name(std::uint16_t language) override {
        wchar_t name[85] = {};
        const int length = LCIDToLocaleName(language, name, 85, LOCALE_ALLOW_NEUTRAL_NAMES);
        if (length < 2) return std::nullopt;
        return valid_text(name, static_cast<std::size_t>(length));
    }

    std::optional<std::string> registry_value(const std::string& subkey, const std::string& value) override {
        wchar_t buffer[512] = {};
        DWORD size = sizeof buffer;
        if (RegGetValueW(HKEY_LOCAL_MACHINE, to_wide(subkey).c_str(), to_wide(value).c_str(),
                         RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
            return std::nullopt;
        return valid_text(buffer, size / sizeof(wchar_t));
    }

    std::vector<std::string> layout_subkeys() override {
        std::vector<std::string> names;
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, to_wide(input::LAYOUTS_KEY).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return names;
        for (DWORD index = 0; index < 1024; ++index) {
            wchar_t name[65] = {};
            DWORD length = 65;
            const LONG status = RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (status == ERROR_NO_MORE_ITEMS) break;
            if (status == ERROR_SUCCESS) names.push_back(wide_to_string(name, length));
        }
        RegCloseKey(key);
        return names;
    }

    std::optional<std::string> indirect_string(const std::string& text) override {
        wchar_t buffer[256] = {};
        if (FAILED(SHLoadIndirectString(to_wide(text).c_str(), buffer, 256, nullptr))) return std::nullopt;
        return valid_text(buffer, 256);
    }

    std::optional<std::string> localized_name(const std::string& language) override {
        wchar_t buffer[256] = {};
        const int length = GetLocaleInfoEx(to_wide(language).c_str(), LOCALE_SLOCALIZEDDISPLAYNAME, buffer, 256);
        if (length < 2) return std::nullopt;
        return valid_text(buffer, static_cast<std::size_t>(length));
    }

    std::pair<int, std::u16string> key_units(std::uint16_t vk, bool shift) override {
        BYTE state[256] = {};
        if (shift) state[VK_SHIFT] = 0x80;
        const UINT scan = MapVirtualKeyExW(vk, MAPVK_VK_TO_VSC, layout_);
        wchar_t buffer[8] = {};
        // Flags 4 leave the thread's keyboard state alone.
        const int result = ToUnicodeEx(vk, scan, state, buffer, 8, 4, layout_);
        if (result < 0) {
            wchar_t clear[8] = {};
            ToUnicodeEx(vk, scan, state, clear, 8, 4, layout_);  // takes the dead key back out
        }
        return {result, std::u16string(reinterpret_cast<const char16_t*>(buffer), 8)};
    }

private:
    HKL layout_;
};

std::mutex cache_mutex;
std::optional<std::pair<HKL, KeyboardLayout>> layout_cache;

}  // namespace

std::optional<KeyboardLayout> read_keyboard_layout() {
    HWND front = GetForegroundWindow();
    if (!front) return std::nullopt;
    const DWORD thread = GetWindowThreadProcessId(front, nullptr);
    if (!thread) return std::nullopt;
    HKL layout = GetKeyboardLayout(thread);
    if (!layout || layout == reinterpret_cast<HKL>(static_cast<INT_PTR>(-1))) return std::nullopt;

    std::lock_guard lock(cache_mutex);
    if (layout_cache && layout_cache->first == layout) return layout_cache->second;
    WindowsLayoutSystem system(layout);
    KeyboardLayout read =
        input::build_keyboard_layout(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(layout)), system);
    layout_cache = std::make_pair(layout, read);
    return read;
}

}  // namespace vorlix
