#include "watch/window_thread_stop.h"

namespace vorlix {

WindowThreadStop::Window WindowThreadStop::request() {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    return window_;
}

bool WindowThreadStop::window_made(Window window) {
    std::lock_guard lock(mutex_);
    if (stopping_) return true;
    window_ = window;
    return false;
}

void WindowThreadStop::window_gone() {
    std::lock_guard lock(mutex_);
    window_ = 0;
}

}  // namespace vorlix
