// The system's side of the crash log (src/win, src/native).
#pragma once

#include <cstdint>
#include <string>

namespace vorlix {

// The calling thread's stack as multi-line text, one frame a line, leaving out
// the `skip` innermost frames besides this function's own.
std::string capture_backtrace_text(int skip);

// Installs the system's fault hooks that lead to write_crash_report (called
// once, by set_up_crash_log).
void install_system_crash_hooks();

std::uint32_t current_process_id();

}  // namespace vorlix
