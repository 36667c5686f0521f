// Time for the streaming rules. Every rule takes the current instant as an
// argument, so callers pass the real clock's reading and tests pass their own.
#pragma once

#include <chrono>

namespace vorlix {

using StreamClock = std::chrono::steady_clock;
using Instant = StreamClock::time_point;
using Duration = StreamClock::duration;

}  // namespace vorlix
