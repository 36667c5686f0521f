#include "win/levels/levels_thread.h"

#include <windows.h>
#include <objbase.h>

#include <thread>

#include "host/log.h"
#include "util/thread_name.h"

namespace vorlix {

std::shared_ptr<LevelsSender> start_levels_thread(std::shared_ptr<EventSlot> slot) {
    auto [sender, receiver] = make_channel<LevelsRequest>();
    auto levels = std::make_shared<LevelsSender>();
    levels->sender = std::move(sender);
    try {
        std::thread([receiver = std::move(receiver), slot = std::move(slot),
                     notify = std::weak_ptr<LevelsSender>(levels)]() mutable {
            set_current_thread_name("vorlix-levels");
            const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
            {
                std::unique_ptr<LevelsDevices> devices = make_windows_levels_devices(notify);
                LevelsLoop loop(
                    *devices,
                    [&slot](const Levels& levels) { deliver_event(*slot, PlatformEvent{ControlMessage{levels}}); },
                    log_line);
                run_levels_loop(receiver, loop);
            }  // the audio and WMI objects go before COM does
            if (com) CoUninitialize();
        }).detach();
    } catch (const std::system_error&) {
        // Without the thread there are no levels: queries time out at once.
    }
    return levels;
}

void send_levels_request(LevelsSender& levels, LevelsRequest request) {
    std::lock_guard lock(levels.mutex);
    levels.sender.send(std::move(request));  // a thread that ended drops it
}

void send_level_set(LevelsSender& levels, std::string kind, double value) {
    std::lock_guard lock(levels.mutex);
    queue_level_set(levels.sender, levels.sets, std::move(kind), value);
}

std::optional<Levels> ask_levels(LevelsSender& levels) {
    Sender<LevelsRequest> sender;
    {
        std::lock_guard lock(levels.mutex);
        sender = levels.sender;
    }
    return ask_levels_thread(sender);  // waits without holding the lock
}

}  // namespace vorlix
