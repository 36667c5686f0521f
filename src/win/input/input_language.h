// "vorlix-input-language": one switch to the next input language on a short
// thread of its own, so that the 400 ms check holds up nobody.
#pragma once

#include "host/channel.h"
#include "input/injector.h"

namespace vorlix {

// Starts the switch with a clone of the input queue's sender; when the
// thread cannot start, Win+Space is pressed at once.
void start_input_language_thread(const Sender<input::InputCommand>& input);

}  // namespace vorlix
