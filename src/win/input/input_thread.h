// The Windows side of input injection: the "vorlix-input" thread, which
// turns the injector's records into SendInput and synthetic pen input.
#pragma once

#include <memory>

#include "host/channel.h"
#include "input/injector.h"

namespace vorlix {

struct EventSlot;

// Starts "vorlix-input" and gives the sending end of its queue. When the
// thread cannot start, it logs so and commands sent are dropped. The thread
// ends when every sender is gone.
Sender<input::InputCommand> start_input_thread(std::shared_ptr<EventSlot> events);

// The input system of this PC, for the thread and for tests.
std::unique_ptr<input::InputSystem> make_windows_input_system();

}  // namespace vorlix
