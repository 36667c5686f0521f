// The "vorlix-levels" thread: volume and mute of the default output through
// Core Audio (its change notifications wake the thread) and the screen
// brightness through WMI.
#pragma once

#include <memory>
#include <mutex>
#include <optional>

#include "host/channel.h"
#include "levels/levels_loop.h"
#include "win/platform.h"

namespace vorlix {

// The sending end of the levels queue behind its own lock, with the sets
// waiting for the thread.
struct LevelsSender {
    std::mutex mutex;
    Sender<LevelsRequest> sender;
    std::shared_ptr<PendingLevelSets> sets = std::make_shared<PendingLevelSets>();
};

// Starts the thread with the event slot. It ends when the returned sender
// is released (change notifications hold it only weakly).
std::shared_ptr<LevelsSender> start_levels_thread(std::shared_ptr<EventSlot> slot);

// Queues a request; a thread that ended drops it.
void send_levels_request(LevelsSender& levels, LevelsRequest request);

// Queues a set of a level; sets of one kind not yet carried out give way to
// the newest.
void send_level_set(LevelsSender& levels, std::string kind, double value);

// The levels as the thread reads them now, waiting at most 3 s.
std::optional<Levels> ask_levels(LevelsSender& levels);

// The audio side of the levels thread (Core Audio); made and used on that
// thread only.
std::unique_ptr<LevelsDevices> make_windows_levels_devices(std::weak_ptr<LevelsSender> notify);

}  // namespace vorlix
