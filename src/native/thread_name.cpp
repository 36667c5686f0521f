#include "util/thread_name.h"

#include <pthread.h>

#include <string>

namespace vorlix {

void set_system_thread_name(std::string_view name) {
    // Linux keeps at most 15 bytes of a thread's name.
    std::string shortened(name.substr(0, 15));
    pthread_setname_np(pthread_self(), shortened.c_str());
}

}  // namespace vorlix
