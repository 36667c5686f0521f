// The keep-awake loop: the one thread that owns the system's execution
// state applies each change of the wish it receives from any thread.
#pragma once

#include <cstdint>
#include <functional>

#include "host/channel.h"

namespace vorlix {

constexpr std::uint32_t kStateContinuous = 0x80000000u;
constexpr std::uint32_t kStateAwake = 0x80000003u;  // continuous | system | display required

// Applies each change of the wish with `set_state` (the execution-state
// flags; false when the system refused) and logs it; when every sender is
// gone it lets the PC sleep again and returns.
void run_keep_awake(Receiver<bool>& wishes, const std::function<bool(std::uint32_t)>& set_state);

}  // namespace vorlix
