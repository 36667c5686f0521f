#include "util/thread_name.h"

#include <thread>

namespace vorlix {
namespace {

thread_local std::string t_thread_name;

// Static initialisation runs on the program's first thread.
const std::thread::id g_main_thread_id = std::this_thread::get_id();

}  // namespace

void set_current_thread_name(std::string_view name) {
    t_thread_name.assign(name);
    set_system_thread_name(name);
}

std::string current_thread_name() { return t_thread_name; }

bool is_main_thread() { return std::this_thread::get_id() == g_main_thread_id; }

}  // namespace vorlix
