// "vorlix-input-language": one switch to the next input language on a short
// thread of its own, so that the 400 ms check holds up nobody.
#pragma once

#include <memory>

#include "input/input_queue.h"

namespace vorlix {

// Starts the switch with the input queue; when the thread cannot start,
// Win+Space is pressed at once.
void start_input_language_thread(const std::shared_ptr<input::InputQueue>& input);

}  // namespace vorlix
