#include "win/input/input_language.h"

#include <windows.h>

#include <thread>

#include "input/language_switch.h"
#include "util/thread_name.h"

namespace vorlix {

namespace {

class WindowsLanguageSystem final : public input::LanguageSystem {
public:
    int layout_count() override { return GetKeyboardLayoutList(0, nullptr); }
    std::optional<std::uintptr_t> front_layout() override {
        HWND front = GetForegroundWindow();
        if (!front) return std::nullopt;
        const DWORD thread = GetWindowThreadProcessId(front, nullptr);
        if (!thread) return std::nullopt;
        const auto layout = reinterpret_cast<std::uintptr_t>(GetKeyboardLayout(thread));
        if (layout == 0 || layout == ~std::uintptr_t{0}) return std::nullopt;
        return layout;
    }
    bool ask_front_window() override {
        HWND front = GetForegroundWindow();
        return front && PostMessageW(front, WM_INPUTLANGCHANGEREQUEST, 0, HKL_NEXT);
    }
    void sleep(std::chrono::milliseconds time) override { std::this_thread::sleep_for(time); }
};

}  // namespace

void start_input_language_thread(const std::shared_ptr<input::InputQueue>& input) {
    try {
        std::thread([input]() {
            set_current_thread_name("vorlix-input-language");
            WindowsLanguageSystem system;
            input::run_input_language_switch(system, *input);
        }).detach();
    } catch (const std::system_error&) {
        input->send(input::PressWinSpace{});
    }
}

}  // namespace vorlix
