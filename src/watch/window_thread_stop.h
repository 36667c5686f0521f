// The stop of a thread that makes its window some time after it starts. A
// stop asked for before the window exists is kept, and the thread finds it as
// soon as it has its window; a stop asked for later names the window to post
// it to. Either way exactly one of the two sides acts on it.
#pragma once

#include <cstdint>
#include <mutex>

namespace vorlix {

class WindowThreadStop {
public:
    using Window = std::uintptr_t;  // 0: none

    // The stopper: the window to post the stop to, or 0 when the thread has
    // no window (not yet, or no longer); it then ends by itself.
    Window request();
    // The thread, once its window exists: true when a stop was asked for
    // before, and the thread is to end at once.
    bool window_made(Window window);
    // The thread, as its window goes: later stops find none.
    void window_gone();

private:
    std::mutex mutex_;
    Window window_ = 0;
    bool stopping_ = false;
};

}  // namespace vorlix
