// The menus thread under a real desktop: a window with a classic menu bar
// is brought to the front; the thread lists its menus (the drop-down that
// fills itself on WM_INITMENUPOPUP included) and runs the entry the device
// picks, which reaches the window as WM_COMMAND. After a front-app change to
// a window without a menu bar, UI Automation is tried (its absence logged)
// and one empty list follows the retries. The windows live in this process
// (Wine keeps menus process-local), so the thread is started without
// leaving this process's windows out; this thread pumps their messages.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "storage/log_capture.h"
#include "support/wait.h"
#include "win/menus/menus_thread.h"
#include "win/menus/uia_client.h"
#include "win/system/wide.h"

namespace vorlix {
namespace {

HMENU recent = nullptr;
int command = 0;

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITMENUPOPUP && reinterpret_cast<HMENU>(wparam) == recent && GetMenuItemCount(recent) == 0) {
        AppendMenuW(recent, MF_STRING, 111, L"a.txt");  // filled only when initialised, as many applications do
    }
    if (message == WM_COMMAND) command = LOWORD(wparam);
    return DefWindowProcW(window, message, wparam, lparam);
}

HMENU popup(std::initializer_list<std::tuple<UINT, UINT_PTR, const wchar_t*>> items) {
    HMENU menu = CreatePopupMenu();
    for (auto [flags, id, text] : items) AppendMenuW(menu, flags, id, text);
    return menu;
}

HWND front_window(bool with_menu) {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = window_proc;
    window_class.lpszClassName = L"VorlixMenusTestWindow";
    RegisterClassW(&window_class);
    HMENU bar = nullptr;
    if (with_menu) {
        recent = CreatePopupMenu();
        auto sub = [](HMENU m) { return reinterpret_cast<UINT_PTR>(m); };
        HMENU deep = popup({{MF_STRING, 299, L"Hidden"}});
        HMENU format = popup({{MF_STRING, 211, L"&Bold"}, {MF_POPUP, sub(deep), L"Deep"}});
        bar = CreateMenu();
        AppendMenuW(bar, MF_POPUP, sub(popup({{MF_STRING, 101, L"&New\tCtrl+N"}, {MF_SEPARATOR, 0, nullptr},
                                               {MF_POPUP, sub(recent), L"&Recent"},
                                               {MF_STRING | MF_GRAYED, 102, L"Save &As..."}})), L"&File");
        AppendMenuW(bar, MF_POPUP, sub(popup({{MF_STRING, 201, L"&Undo\tCtrl+Z"}, {MF_POPUP, sub(format), L"&Format"}})),
                    L"&Edit");
        // Submenus of 8 and 24 items: their counts share bits with the separator flag.
        HMENU view = CreatePopupMenu();
        for (int count : {8, 24}) {
            HMENU items = CreatePopupMenu();
            for (int i = 0; i < count; ++i)
                AppendMenuW(items, MF_STRING, 300 + i, (L"Item " + std::to_wstring(i)).c_str());
            AppendMenuW(view, MF_POPUP, sub(items), std::to_wstring(count).c_str());
        }
        AppendMenuW(bar, MF_POPUP, sub(view), L"&View");
    }
    HWND window = CreateWindowExW(0, window_class.lpszClassName, L"Menus", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100,
                                  400, 300, nullptr, bar, nullptr, nullptr);
    SetForegroundWindow(window);
    return window;
}

// Waits while pumping this thread's window messages.
template <typename Predicate>
bool pump_until(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    return wait_until(
        [&] {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
            return done();
        },
        limit);
}

TEST(MenusThread, ReadsTheFrontWindowsMenuBarAndRunsThePickedEntry) {
    test::LogCapture log;
    auto slot = std::make_shared<EventSlot>();
    auto seen = std::make_shared<std::pair<std::mutex, std::vector<std::vector<MenuCommand>>>>();
    slot->handler = std::make_shared<PlatformEventHandler>([seen](PlatformEvent event) {
        std::lock_guard lock(seen->first);
        seen->second.push_back(std::get<control::MenuCommands>(std::get<ControlMessage>(event)).commands);
    });
    auto lists = [&] {
        std::lock_guard lock(seen->first);
        return seen->second;
    };
    std::shared_ptr<MenusSender> menus = start_menus_thread(slot, 0);

    HWND window = front_window(true);
    ASSERT_EQ(GetForegroundWindow(), window);
    send_menus_active(*menus, true);
    ASSERT_TRUE(pump_until([&] { return lists().size() == 1; }));
    const std::string sep = " \u25B8 ";
    std::vector<MenuCommand> expected{{0, "New", "File", "Ctrl+N", true},
                                      {1, "a.txt", "File" + sep + "Recent", {}, true},
                                      {2, "Save As\u2026", "File", {}, false},
                                      {3, "Undo", "Edit", "Ctrl+Z", true},
                                      {4, "Bold", "Edit" + sep + "Format", {}, true}};
    for (int count : {8, 24}) {
        for (int i = 0; i < count; ++i)
            expected.push_back({static_cast<std::int64_t>(expected.size()), "Item " + std::to_string(i),
                                "View" + sep + std::to_string(count), {}, true});
    }
    EXPECT_EQ(lists()[0], expected);

    send_menu_run(*menus, 2);   // greyed: nothing reaches the window
    send_menu_run(*menus, 99);  // unknown: nothing runs
    send_menu_run(*menus, 1);
    EXPECT_TRUE(pump_until([&] { return command != 0; }));
    EXPECT_EQ(command, 111);
    EXPECT_NE(log.messages().find("menus: command 111\n"), std::string::npos);
    // The rescan 600 ms after the run finds the same list and sends nothing.
    EXPECT_FALSE(pump_until([&] { return lists().size() > 1; }, std::chrono::milliseconds(900)));

    HWND bare = front_window(false);
    notify_front_app_change();
    ASSERT_TRUE(pump_until([&] { return lists().size() == 2; }));
    EXPECT_TRUE(lists()[1].empty());
    IUnknown* automation = nullptr;
    const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    if (FAILED(CoCreateInstance(uia::kClsidCUIAutomation, nullptr, CLSCTX_INPROC_SERVER, uia::kIidAutomation,
                                reinterpret_cast<void**>(&automation)))) {
        EXPECT_NE(log.messages().find("menus: UI Automation is not available\n"), std::string::npos);
    } else {
        automation->Release();
    }
    if (com) CoUninitialize();
    send_menus_active(*menus, false);
    DestroyWindow(bare);
    DestroyWindow(window);
}

}  // namespace
}  // namespace vorlix
