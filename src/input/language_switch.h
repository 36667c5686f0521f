// Switching the PC to its next input language: the window in front is asked,
// and when that cannot be done or did not take after 400 ms, Win+Space is
// pressed through the input thread instead.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "input/input_queue.h"

namespace vorlix::input {

class LanguageSystem {
public:
    virtual ~LanguageSystem() = default;
    virtual int layout_count() = 0;
    // The layout of the window in front, when there is a window, its thread
    // and a valid layout.
    virtual std::optional<std::uintptr_t> front_layout() = 0;
    // Posts the request for the next input language to the window in front.
    virtual bool ask_front_window() = 0;
    virtual void sleep(std::chrono::milliseconds time) = 0;
};

// One attempt: nothing when the switch took, else the log line that says why
// Win+Space is pressed instead.
std::optional<std::string> switch_input_language(LanguageSystem& system);

// The body of "vorlix-input-language": one attempt, falling back on the queue.
void run_input_language_switch(LanguageSystem& system, InputQueue& input);

}  // namespace vorlix::input
