#include "win/system/keep_awake.h"

#include <windows.h>

#include <thread>

#include "host/log.h"
#include "util/thread_name.h"

namespace vorlix {

std::unique_ptr<KeepAwakeSender> start_keep_awake() {
    auto queue = std::make_shared<KeepAwakeQueue>();
    try {
        std::thread([queue] {
            set_current_thread_name("vorlix-awake");
            run_keep_awake(*queue, [](std::uint32_t flags) {
                return SetThreadExecutionState(static_cast<EXECUTION_STATE>(flags)) != 0;
            });
        }).detach();
    } catch (const std::system_error& e) {
        log_line(std::string("keep awake: could not start its thread: ") + e.what());
        return nullptr;
    }
    return std::make_unique<KeepAwakeSender>(std::move(queue));
}

}  // namespace vorlix
