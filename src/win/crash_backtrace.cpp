#include <windows.h>

#include <cstdio>

#include "crash/crash_log.h"
#include "crash/crash_system.h"

namespace vorlix {
namespace {

// Exception codes the GCC runtime raises for its own C++ exceptions and
// unwinding; they are not faults and go straight to the earlier filter.
constexpr DWORD kGccThrow = 0x20474343;
constexpr DWORD kGccUnwind = 0x21474343;
constexpr DWORD kGccForcedUnwind = 0x22474343;

LPTOP_LEVEL_EXCEPTION_FILTER g_previous_filter = nullptr;

// Whether `address` lies inside the image of `module`.
bool inside_image(HMODULE module, const void* address) {
    const auto base = reinterpret_cast<std::uintptr_t>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return false;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + static_cast<std::uintptr_t>(dos->e_lfanew));
    if (nt->Signature != IMAGE_NT_SIGNATURE) return false;
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    return at >= base && at - base < nt->OptionalHeader.SizeOfImage;
}

// "Vorlix.exe+0x1a2b" for an address inside a loaded module, else the address.
std::string module_place(const void* address) {
    HMODULE module = nullptr;
    char text[MAX_PATH + 64];
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCWSTR>(address), &module) &&
        module && inside_image(module, address)) {
        wchar_t path[MAX_PATH];
        DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            const wchar_t* name = path;
            for (DWORD i = 0; i < length; ++i) {
                if (path[i] == L'\\' || path[i] == L'/') name = path + i + 1;
            }
            char narrow[MAX_PATH * 3];
            int bytes = WideCharToMultiByte(CP_UTF8, 0, name, -1, narrow, sizeof narrow, nullptr, nullptr);
            if (bytes > 0) {
                std::snprintf(text, sizeof text, "%s+0x%llx", narrow,
                              static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(address) -
                                                              reinterpret_cast<std::uintptr_t>(module)));
                return text;
            }
        }
    }
    std::snprintf(text, sizeof text, "0x%016llx",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(address)));
    return text;
}

const char* exception_name(DWORD code) {
    switch (code) {
        case EXCEPTION_ACCESS_VIOLATION: return "access violation";
        case EXCEPTION_STACK_OVERFLOW: return "stack overflow";
        case EXCEPTION_ILLEGAL_INSTRUCTION: return "illegal instruction";
        case EXCEPTION_INT_DIVIDE_BY_ZERO: return "integer division by zero";
        case EXCEPTION_ARRAY_BOUNDS_EXCEEDED: return "array bounds exceeded";
        case EXCEPTION_IN_PAGE_ERROR: return "page error";
        case EXCEPTION_PRIV_INSTRUCTION: return "privileged instruction";
        case EXCEPTION_DATATYPE_MISALIGNMENT: return "misaligned data";
        case EXCEPTION_BREAKPOINT: return "breakpoint";
        default: return "system exception";
    }
}

LONG WINAPI on_unhandled_exception(EXCEPTION_POINTERS* info) {
    const DWORD code = info && info->ExceptionRecord ? info->ExceptionRecord->ExceptionCode : 0;
    if (code != kGccThrow && code != kGccUnwind && code != kGccForcedUnwind) {
        char message[MAX_PATH + 160];
        std::snprintf(message, sizeof message, "%s (exception 0x%08lx) at %s", exception_name(code),
                      static_cast<unsigned long>(code),
                      module_place(info && info->ExceptionRecord ? info->ExceptionRecord->ExceptionAddress
                                                                 : nullptr)
                          .c_str());
        // A stack overflow leaves too little stack for the report.
        if (code != EXCEPTION_STACK_OVERFLOW) write_crash_report(message, "<unknown>:0:0");
    }
    return g_previous_filter ? g_previous_filter(info) : EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

std::string capture_backtrace_text(int skip) {
    void* frames[62];
    const USHORT count = RtlCaptureStackBackTrace(static_cast<DWORD>(1 + skip), 62, frames, nullptr);
    std::string text;
    for (USHORT i = 0; i < count; ++i) {
        text += "  " + std::to_string(i) + ": " + module_place(frames[i]) + '\n';
    }
    if (!text.empty()) text.pop_back();
    return text;
}

void install_system_crash_hooks() { g_previous_filter = SetUnhandledExceptionFilter(on_unhandled_exception); }

std::uint32_t current_process_id() { return GetCurrentProcessId(); }

}  // namespace vorlix
