// The switch to the next input language and its Win+Space fall-backs.
#include <gtest/gtest.h>

#include <deque>

#include "input/language_switch.h"

namespace vorlix::input {
namespace {

class ScriptedLanguages final : public LanguageSystem {
public:
    int layouts = 2;
    std::deque<std::optional<std::uintptr_t>> front;  // before, after
    bool window = true;
    bool asked = false;
    int slept_ms = 0;

    int layout_count() override { return layouts; }
    std::optional<std::uintptr_t> front_layout() override {
        auto layout = front.front();
        front.pop_front();
        return layout;
    }
    bool ask_front_window() override { return asked = window; }
    void sleep(std::chrono::milliseconds time) override { slept_ms += static_cast<int>(time.count()); }
};

TEST(LanguageSwitch, AsksTheWindowInFrontAndFallsBackOnWinSpace) {
    struct Case {
        int layouts;
        bool window;
        std::optional<std::uintptr_t> before, after;
        const char* fallback;  // nullptr: the switch took
    };
    const Case cases[] = {
        {1, true, 1, 2, "input: one input language: Win+Space"},
        {2, false, std::nullopt, std::nullopt,
         "input: could not ask the window in front for the next input language: Win+Space"},
        {2, true, 0x4090409, 0x4090409, "input: the window in front kept its input language: Win+Space"},
        {2, true, std::nullopt, std::nullopt, "input: the window in front kept its input language: Win+Space"},
        {2, true, 0x4090409, 0x4070407, nullptr},
        {2, true, std::nullopt, 0x4070407, nullptr},
    };
    for (const Case& c : cases) {
        ScriptedLanguages system;
        system.layouts = c.layouts;
        system.window = c.window;
        system.front = {c.before, c.after};
        const auto fallback = switch_input_language(system);
        EXPECT_EQ(fallback, c.fallback ? std::optional<std::string>(c.fallback) : std::nullopt);
        EXPECT_EQ(system.asked, c.layouts > 1 && c.window);
        EXPECT_EQ(system.slept_ms, system.asked ? 400 : 0);
    }

    // A fall-back presses Win+Space through the input queue.
    InputQueue queue;
    ScriptedLanguages single;
    single.layouts = 1;
    run_input_language_switch(single, queue);
    const auto command = queue.receive_for(std::chrono::milliseconds(0));
    ASSERT_TRUE(command.has_value());
    EXPECT_TRUE(std::holds_alternative<PressWinSpace>(command->command));
}

}  // namespace
}  // namespace vorlix::input
