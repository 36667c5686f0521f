#include "win/system/process.h"

#include "win/system/system_function.h"
#include "win/system/wide.h"

namespace vorlix {

AfterUpdateArgs wait_for_old_process(ArgList args) {
    AfterUpdateArgs out = take_after_update(std::move(args));
    if (out.old_process) {
        if (HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, *out.old_process)) {
            WaitForSingleObject(process, 30000);
            CloseHandle(process);
        }
    }
    return out;
}

bool declare_dpi_awareness() {
    using SetContextFn = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
    static const auto set_context = system_function<SetContextFn>(L"user32.dll", "SetProcessDpiAwarenessContext");
    return set_context && set_context(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
}

InstanceMutex claim_instance(const std::string& mutex_name) {
    InstanceMutex out;
    SetLastError(ERROR_SUCCESS);
    out.handle = CreateMutexW(nullptr, FALSE, to_wide(mutex_name).c_str());
    const DWORD error = GetLastError();
    if (!out.handle) {
        // A copy running elevated (or as another user in this session) made
        // the mutex with a security that does not let this one open it.
        if (error == ERROR_ACCESS_DENIED) out.claim = InstanceClaim::AlreadyRunning;
        return out;
    }
    out.claim = error == ERROR_ALREADY_EXISTS ? InstanceClaim::AlreadyRunning : InstanceClaim::Claimed;
    return out;
}

bool runs_from_package() {
    // Windows 8 and later; absent means no package.
    using GetPackageNameFn = LONG(WINAPI*)(UINT32*, PWSTR);
    static const auto get_name = system_function<GetPackageNameFn>(L"kernel32.dll", "GetCurrentPackageFullName");
    if (!get_name) return false;
    UINT32 length = 0;
    return get_name(&length, nullptr) != 15700;  // APPMODEL_ERROR_NO_PACKAGE
}

}  // namespace vorlix
