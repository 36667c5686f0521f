// The Windows side of input injection: the "vorlix-input" thread, which
// turns the injector's records into SendInput and synthetic pen input.
#pragma once

#include <memory>

#include "input/input_queue.h"

namespace vorlix {

struct EventSlot;

// Starts "vorlix-input" and gives its queue. When the thread cannot start,
// it logs so and the queue is closed, so commands sent are dropped. The
// thread ends when the queue is closed.
std::shared_ptr<input::InputQueue> start_input_thread(std::shared_ptr<EventSlot> events);

// The input system of this PC, for the thread and for tests.
std::unique_ptr<input::InputSystem> make_windows_input_system();

}  // namespace vorlix
