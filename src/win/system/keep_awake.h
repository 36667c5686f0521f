// The "vorlix-awake" thread: the one thread that sets the system's
// execution state while a device needs the PC and its display awake.
#pragma once

#include <optional>

#include "host/channel.h"

namespace vorlix {

// Starts the thread (detached: it ends when the returned sending end and
// its copies are released); none, logged, when it cannot start.
std::optional<Sender<bool>> start_keep_awake();

}  // namespace vorlix
