// The "vorlix-menus" thread: reads the menus of the window in front while a
// device session is active and runs the command the device picks.
#pragma once

#include <memory>
#include <mutex>

#include "host/channel.h"
#include "menus/menus_loop.h"
#include "win/platform.h"

namespace vorlix {

// The sending end of the menus queue behind its own lock, with the run
// waiting for the thread.
struct MenusSender {
    std::mutex mutex;
    Sender<MenuRequest> sender;
    std::shared_ptr<PendingMenuRun> run = std::make_shared<PendingMenuRun>();
};

// Starts the thread with the event slot. The thread ends when the returned
// sender is released; a thread that cannot start leaves requests unheard.
// Windows of the process `own_process` are never read: the platform passes
// its own, so the host's windows offer no menus.
std::shared_ptr<MenusSender> start_menus_thread(std::shared_ptr<EventSlot> slot, std::uint32_t own_process);

void send_menus_active(MenusSender& menus, bool active);
void send_menu_run(MenusSender& menus, std::uint64_t id);

// Asks for a scan 400 ms after the application in front changed: the
// front-app watcher calls it. Does nothing before a menus thread was
// started or after its platform went.
void notify_front_app_change();

}  // namespace vorlix
