// The keep-awake wish: a queue of booleans from any thread to the one thread
// that owns the system's execution state, and that thread's loop.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace vorlix {

constexpr std::uint32_t kStateContinuous = 0x80000000u;
constexpr std::uint32_t kStateAwake = 0x80000003u;  // continuous | system | display required

class KeepAwakeQueue {
public:
    void send(bool awake);
    // Ends the receiver's loop once the values already sent are taken.
    void close();
    // The next value, waiting for it; none once closed and drained.
    std::optional<bool> receive();

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<bool> values_;
    bool closed_ = false;
};

// The sending end: closes the queue when released.
class KeepAwakeSender {
public:
    explicit KeepAwakeSender(std::shared_ptr<KeepAwakeQueue> queue) : queue_(std::move(queue)) {}
    ~KeepAwakeSender();
    KeepAwakeSender(const KeepAwakeSender&) = delete;
    KeepAwakeSender& operator=(const KeepAwakeSender&) = delete;

    void send(bool awake) { queue_->send(awake); }

private:
    std::shared_ptr<KeepAwakeQueue> queue_;
};

// Applies each change of the wish with `set_state` (the execution-state
// flags; false when the system refused) and logs it; when the queue closes
// it lets the PC sleep again and returns.
void run_keep_awake(KeepAwakeQueue& queue, const std::function<bool(std::uint32_t)>& set_state);

}  // namespace vorlix
