#include "input/language_switch.h"

#include "host/log.h"

namespace vorlix::input {

std::optional<std::string> switch_input_language(LanguageSystem& system) {
    if (system.layout_count() < 2) return "input: one input language: Win+Space";
    const auto before = system.front_layout();
    if (!system.ask_front_window()) return "input: could not ask the window in front for the next input language: Win+Space";
    system.sleep(std::chrono::milliseconds(400));
    const auto after = system.front_layout();
    if (before == after) return "input: the window in front kept its input language: Win+Space";
    return std::nullopt;
}

void run_input_language_switch(LanguageSystem& system, InputQueue& input) {
    if (const auto fallback = switch_input_language(system)) {
        log_line(*fallback);
        input.send(PressWinSpace{});  // a closed queue drops it
    }
}

}  // namespace vorlix::input
