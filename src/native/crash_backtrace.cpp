#include "crash/crash_system.h"

#include <execinfo.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace vorlix {

std::string capture_backtrace_text(int skip) {
    void* frames[64];
    const int count = ::backtrace(frames, 64);
    char** symbols = ::backtrace_symbols(frames, count);
    std::string text;
    int number = 0;
    for (int i = 1 + skip; i < count; ++i) {
        char address[32];
        std::snprintf(address, sizeof address, "%p", frames[i]);
        text += "  " + std::to_string(number++) + ": ";
        text += symbols ? symbols[i] : address;
        text += '\n';
    }
    std::free(symbols);
    if (!text.empty()) text.pop_back();
    return text;
}

// Signals are left to the runtime (and to the sanitizers in test builds);
// the native build logs what reaches std::terminate.
void install_system_crash_hooks() {}

std::uint32_t current_process_id() { return static_cast<std::uint32_t>(::getpid()); }

}  // namespace vorlix
