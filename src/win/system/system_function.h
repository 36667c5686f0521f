// A function of a system library found at run time: for functions newer
// than the oldest Windows we run on, and for libraries that cost memory
// from the moment they load (Direct3D pulls in a whole graphics stack), so
// that they load only when first used. The library stays loaded.
#pragma once

#include <windows.h>

namespace vorlix {

template <typename Fn>
Fn system_function(const wchar_t* module, const char* name) {
    HMODULE handle = GetModuleHandleW(module);
    if (!handle) handle = LoadLibraryExW(module, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!handle) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(handle, name)));
}

}  // namespace vorlix
