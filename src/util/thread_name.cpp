#include "util/thread_name.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace vorlix {
namespace {

// A plain buffer, not a std::string: a thread-local object with a destructor
// is destroyed at thread exit by MinGW's runtime after the thread's
// thread-local storage has already been freed.
constexpr std::size_t kLongestName = 63;
thread_local char t_thread_name[kLongestName + 1] = {};
thread_local std::size_t t_thread_name_size = 0;

// Static initialisation runs on the program's first thread.
const std::thread::id g_main_thread_id = std::this_thread::get_id();

}  // namespace

void set_current_thread_name(std::string_view name) {
    const std::size_t size = std::min(name.size(), kLongestName);
    std::memcpy(t_thread_name, name.data(), size);
    t_thread_name[size] = '\0';
    t_thread_name_size = size;
    set_system_thread_name(name);
}

std::string current_thread_name() { return std::string(t_thread_name, t_thread_name_size); }

bool is_main_thread() { return std::this_thread::get_id() == g_main_thread_id; }

}  // namespace vorlix
