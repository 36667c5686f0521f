#include "util/thread_name.h"

#include <windows.h>

#include <string>

#include "win/system/system_function.h"

namespace vorlix {
namespace {

using SetThreadDescriptionFn = HRESULT(WINAPI*)(HANDLE, PCWSTR);

SetThreadDescriptionFn find_set_thread_description() {
    // Windows 10 1607 and later; looked up so that older systems still load us.
    return system_function<SetThreadDescriptionFn>(L"kernel32.dll", "SetThreadDescription");
}

}  // namespace

void set_system_thread_name(std::string_view name) {
    static const SetThreadDescriptionFn set_description = find_set_thread_description();
    if (!set_description || name.empty()) return;
    int length = MultiByteToWideChar(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
    if (length <= 0) return;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), wide.data(), length);
    set_description(GetCurrentThread(), wide.c_str());
}

}  // namespace vorlix
