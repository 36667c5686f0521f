// Names of the host's own threads. A thread names itself once, first thing,
// with set_current_thread_name ("vorlix-input", "vorlix-session-3", ...);
// the name is kept for the crash log and handed to the system so that
// debuggers show it too.
#pragma once

#include <string>
#include <string_view>

namespace vorlix {

// Names the calling thread (the first 63 bytes are kept). Any later call
// replaces the name.
void set_current_thread_name(std::string_view name);

// The calling thread's name, or an empty text when it has none.
std::string current_thread_name();

// True on the thread that started the program (the one that ran static
// initialisation).
bool is_main_thread();

// The system's part of set_current_thread_name (src/win, src/native);
// failures are ignored.
void set_system_thread_name(std::string_view name);

}  // namespace vorlix
