#include "h264/encoder_thread_name.h"

#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace vorlix {

void name_current_thread(const char* name) {
#if defined(_WIN32)
    // SetThreadDescription is newer than the oldest Windows 10 builds.
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (!kernel) return;
    auto set_description =
        reinterpret_cast<SetDescription>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetThreadDescription")));
    if (!set_description) return;
    std::wstring wide;
    for (const char* c = name; *c; ++c) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
    set_description(GetCurrentThread(), wide.c_str());
#else
    // Linux keeps at most 15 characters.
    std::string short_name(name);
    if (short_name.size() > 15) short_name.resize(15);
    pthread_setname_np(pthread_self(), short_name.c_str());
#endif
}

}  // namespace vorlix
