#include "win/system/shell.h"

#include <objbase.h>
#include <shellapi.h>

#include <thread>
#include <vector>

#include "app/system_text.h"
#include "util/thread_name.h"
#include "win/system/wide.h"

namespace vorlix {
namespace {

std::optional<std::filesystem::path> environment_path(const wchar_t* name) {
    const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0) return std::nullopt;
    std::vector<wchar_t> buffer(needed);
    const DWORD length = GetEnvironmentVariableW(name, buffer.data(), needed);
    if (length == 0 || length >= needed) return std::nullopt;
    return std::filesystem::path(std::wstring(buffer.data(), length));
}

}  // namespace

bool open_in_shell_thread(const std::wstring& file, const std::optional<std::wstring>& parameters) {
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const HINSTANCE result = ShellExecuteW(nullptr, L"open", file.c_str(),
                                           parameters ? parameters->c_str() : nullptr, nullptr, SW_SHOWNORMAL);
    if (SUCCEEDED(init)) CoUninitialize();
    return reinterpret_cast<INT_PTR>(result) > 32;
}

bool run_in_shell_thread(const std::wstring& file, const std::optional<std::wstring>& parameters) {
    bool accepted = false;
    try {
        std::thread thread([&] {
            set_current_thread_name("vorlix-shell");
            try {
                accepted = open_in_shell_thread(file, parameters);
            } catch (...) {
                accepted = false;
            }
        });
        thread.join();
    } catch (const std::system_error&) {
        return false;
    }
    return accepted;
}

bool open_url(const std::string& link) { return run_in_shell_thread(to_wide(link), std::nullopt); }

bool reveal_in_explorer(const std::filesystem::path& path) {
    return run_in_shell_thread(L"explorer.exe", L"/select,\"" + path.wstring() + L"\"");
}

bool reveal_crash_log(const std::filesystem::path& path) {
    if (run_in_shell_thread(L"notepad.exe", L"\"" + path.wstring() + L"\"")) return true;
    return reveal_in_explorer(path);
}

std::optional<std::filesystem::path> known_folder_path(REFKNOWNFOLDERID id) {
    PWSTR raw = nullptr;
    const HRESULT hr = SHGetKnownFolderPath(id, 0, nullptr, &raw);
    std::optional<std::filesystem::path> out;
    if (SUCCEEDED(hr) && raw) {
        // Through UTF-8 so that invalid UTF-16 is replaced, as everywhere else.
        const std::string text = wide_to_string(raw, wcslen(raw));
        if (!text.empty()) out = std::filesystem::path(to_wide(text));
    }
    if (raw) CoTaskMemFree(raw);
    return out;
}

std::filesystem::path downloads_folder() {
    return downloads_folder_from(known_folder_path(FOLDERID_Downloads), environment_path(L"USERPROFILE"));
}

std::vector<std::filesystem::path> find_screenshots_folder() {
    return screenshots_folders_from(known_folder_path(FOLDERID_Screenshots), known_folder_path(FOLDERID_Pictures),
                                    known_folder_path(FOLDERID_Videos));
}

}  // namespace vorlix
