#include "app/keep_awake.h"

#include "host/log.h"

namespace vorlix {

void run_keep_awake(Receiver<bool>& wishes, const std::function<bool(std::uint32_t)>& set_state) {
    bool applied = false;
    while (auto wanted = wishes.receive()) {
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
