// The "vorlix-awake" thread: the one thread that sets the system's
// execution state while a device needs the PC and its display awake.
#pragma once

#include <memory>

#include "app/keep_awake.h"

namespace vorlix {

// Starts the thread (not kept: it ends when the returned sending end is
// released); none, logged, when it cannot start.
std::unique_ptr<KeepAwakeSender> start_keep_awake();

}  // namespace vorlix
