// Waiting in tests for something another thread does, with a limit: the
// condition is looked at every few milliseconds until it holds or the limit
// passes, and once more at the end.
#pragma once

#include <chrono>
#include <thread>

namespace vorlix {

template <typename Predicate>
bool wait_until(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(10),
                std::chrono::milliseconds step = std::chrono::milliseconds(2)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(step);
    }
    return done();
}

}  // namespace vorlix
