// The quit of the host, in order: "quitting" is logged, the device in
// control is told goodbye and every other link is sent away, the
// announcement is withdrawn, the goodbyes get their time to be written, the
// threads that hold the host state or the platform get a bounded time to end,
// the link logs are written, and the state and the platform are let go on
// the quitting thread.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace vorlix {

class HostState;
class Platform;

struct QuitLimits {
    // The goodbyes' time to be written; a link still writing after it (its
    // peer does not read) has its socket shut.
    std::chrono::milliseconds goodbye{250};
    // From the goodbyes on, the longest wait for the threads that hold the
    // host state or the platform (session threads, a screenshot being taken).
    std::chrono::milliseconds threads{3000};
};

// Quits the host. `host` and `platform` are let go here, each only once
// nothing else holds it, so that each is destroyed on this thread; answers
// whether both were. When not, the references that are left stay held: a
// thread still uses them, and the process must end without running its
// exit, which would tear down what that thread uses.
bool quit_host(std::shared_ptr<HostState>& host, std::shared_ptr<Platform>& platform,
               const std::function<void()>& stop_advertising, const QuitLimits& limits = {});

}  // namespace vorlix
