#include "app/keep_awake.h"

#include "host/log.h"

namespace vorlix {

void KeepAwakeQueue::send(bool awake) {
    {
        std::lock_guard lock(mutex_);
        if (closed_) return;
        values_.push_back(awake);
    }
    ready_.notify_one();
}

void KeepAwakeQueue::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    ready_.notify_all();
}

std::optional<bool> KeepAwakeQueue::receive() {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [&] { return closed_ || !values_.empty(); });
    if (values_.empty()) return std::nullopt;
    const bool value = values_.front();
    values_.pop_front();
    return value;
}

KeepAwakeSender::~KeepAwakeSender() { queue_->close(); }

void run_keep_awake(KeepAwakeQueue& queue, const std::function<bool(std::uint32_t)>& set_state) {
    bool applied = false;
    while (auto wanted = queue.receive()) {
        if (*wanted == applied) continue;
        if (set_state(*wanted ? kStateAwake : kStateContinuous)) {
            log_line(*wanted ? "keeping the PC and its display awake while a device is connected"
                             : "the PC may sleep again");
        } else {
            log_line("keep awake: Windows refused");
        }
        applied = *wanted;
    }
    set_state(kStateContinuous);
}

}  // namespace vorlix
