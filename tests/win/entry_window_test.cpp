// The host window on its own thread: found by class, raised, refreshed on
// request, hidden by closing, and ended by the tray menu's quit.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "win/ui/host_window.h"
#include "support/wait.h"

namespace vorlix {
namespace {

TEST(EntryWindow, RunsUntilQuitFromTheMenu) {
    EXPECT_FALSE(activate_running_window());

    std::function<void()> change_callback;
    std::atomic<bool> installed{false};
    std::atomic<bool> returned{false};
    std::thread ui([&] {
        run_window(true, false, [&](std::function<void()> callback) {
            change_callback = std::move(callback);
            installed = true;
        });
        returned = true;
    });
    ASSERT_TRUE(wait_until([&] { return installed.load(); }));
    const HWND window = main_window_handle();
    EXPECT_EQ(FindWindowW(L"VorlixHostWindow", nullptr), window);
    EXPECT_FALSE(IsWindowVisible(window));  // started hidden

    // Another start raises it.
    EXPECT_TRUE(activate_running_window());
    EXPECT_TRUE(wait_until([&] { return IsWindowVisible(window) != FALSE; }));

    // The change callback posts to the window from any thread.
    change_callback();

    // Closing only hides it.
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(wait_until([&] { return !IsWindowVisible(window); }));
    EXPECT_FALSE(returned);
    EXPECT_TRUE(IsWindow(window));

    PostMessageW(window, WM_COMMAND, MAKEWPARAM(kMenuQuit, 0), 0);
    EXPECT_TRUE(wait_until([&] { return returned.load(); }));
    ui.join();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(main_window_handle(), nullptr);
    EXPECT_FALSE(activate_running_window());
}

TEST(EntryWindow, ClosesForAnUpdate) {
    std::thread ui([] { run_window(true, true, nullptr); });
    ASSERT_TRUE(wait_until([] { return main_window_handle() != nullptr; }));
    PostMessageW(main_window_handle(), kCloseForUpdateMessage, 0, 0);
    ui.join();
    EXPECT_EQ(main_window_handle(), nullptr);
}

}  // namespace
}  // namespace vorlix
