#include "win/system/keep_awake.h"

#include <windows.h>

#include <thread>

#include "app/keep_awake.h"
#include "host/log.h"
#include "util/thread_name.h"

namespace vorlix {

std::optional<Sender<bool>> start_keep_awake() {
    auto [sender, receiver] = make_channel<bool>();
    try {
        std::thread([receiver = std::move(receiver)]() mutable {
            set_current_thread_name("vorlix-awake");
            run_keep_awake(receiver, [](std::uint32_t flags) {
                return SetThreadExecutionState(static_cast<EXECUTION_STATE>(flags)) != 0;
            });
        }).detach();
    } catch (const std::system_error& e) {
        log_line(std::string("keep awake: could not start its thread: ") + e.what());
        return std::nullopt;
    }
    return std::move(sender);
}

}  // namespace vorlix
