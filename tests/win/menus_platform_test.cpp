// The menus thread under a real desktop: a window with a classic menu bar
// is brought to the front; the thread lists its menus (the drop-down that
// fills itself on WM_INITMENUPOPUP included) and runs the entry the device
// picks, which reaches the window as WM_COMMAND. After a front-app change to
// a window without a menu bar, UI Automation is tried (its absence logged)
// and one empty list follows the retries. The window lives in this process
// (Wine keeps menus process-local), so the thread is started without
// leaving this process's windows out.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "storage/log_capture.h"
#include "support/wait.h"
#include "win/menus/menus_thread.h"
#include "win/menus/uia_client.h"

namespace vorlix {
namespace {

using namespace std::chrono_literals;

// A top-level window on its own message-loop thread; its "Recent" drop-down
// fills itself only when initialised, as many applications' menus do.
class TestWindow {
public:
    explicit TestWindow(bool with_menu) {
        thread_ = std::thread([this, with_menu] {
            WNDCLASSW window_class{};
            window_class.lpfnWndProc = window_proc;
            window_class.hInstance = GetModuleHandleW(nullptr);
            window_class.lpszClassName = L"VorlixMenusTestWindow";
            RegisterClassW(&window_class);
            HWND window = CreateWindowExW(0, window_class.lpszClassName, L"Menus", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                          100, 100, 400, 300, nullptr, with_menu ? make_menu_bar() : nullptr,
                                          window_class.hInstance, nullptr);
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
            window_ = window;
            MSG message;
            while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
        });
        wait_until([&] { return window_.load() != nullptr; });
    }
    ~TestWindow() {
        PostMessageW(window_, WM_CLOSE, 0, 0);
        thread_.join();
    }
    bool bring_to_front() {
        return wait_until([&] {
            SetForegroundWindow(window_);
            return GetForegroundWindow() == window_;
        });
    }
    std::atomic<int> command{0};

private:
    static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
        auto* self = reinterpret_cast<TestWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message == WM_INITMENUPOPUP && self && reinterpret_cast<HMENU>(wparam) == self->recent_ &&
            GetMenuItemCount(self->recent_) == 0) {
            AppendMenuW(self->recent_, MF_STRING, 111, L"a.txt");
            return 0;
        }
        if (message == WM_DESTROY) PostQuitMessage(0);
        if (message == WM_COMMAND && self) {
            self->command = LOWORD(wparam);
            return 0;
        }
        return DefWindowProcW(window, message, wparam, lparam);
    }
    HMENU make_menu_bar() {
        HMENU file = CreatePopupMenu();
        recent_ = CreatePopupMenu();
        AppendMenuW(file, MF_STRING, 101, L"&New\tCtrl+N");
        AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(file, MF_POPUP, reinterpret_cast<UINT_PTR>(recent_), L"&Recent");
        AppendMenuW(file, MF_STRING | MF_GRAYED, 102, L"Save &As...");
        HMENU deep = CreatePopupMenu();
        AppendMenuW(deep, MF_STRING, 299, L"Hidden");
        HMENU format = CreatePopupMenu();
        AppendMenuW(format, MF_STRING, 211, L"&Bold");
        AppendMenuW(format, MF_POPUP, reinterpret_cast<UINT_PTR>(deep), L"Deep");
        HMENU edit = CreatePopupMenu();
        AppendMenuW(edit, MF_STRING, 201, L"&Undo\tCtrl+Z");
        AppendMenuW(edit, MF_POPUP, reinterpret_cast<UINT_PTR>(format), L"&Format");
        HMENU bar = CreateMenu();
        AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&File");
        AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(edit), L"&Edit");
        return bar;
    }

    std::thread thread_;
    std::atomic<HWND> window_{nullptr};
    HMENU recent_ = nullptr;
};

struct MenuLists {
    std::mutex mutex;
    std::vector<std::vector<MenuCommand>> lists;
    std::size_t count() {
        std::lock_guard lock(mutex);
        return lists.size();
    }
    std::vector<MenuCommand> last() {
        std::lock_guard lock(mutex);
        return lists.back();
    }
};

TEST(MenusThread, ReadsTheFrontWindowsMenuBarAndRunsThePickedEntry) {
    test::LogCapture log;
    auto slot = std::make_shared<EventSlot>();
    auto seen = std::make_shared<MenuLists>();
    slot->handler = std::make_shared<PlatformEventHandler>([seen](PlatformEvent event) {
        auto* message = std::get_if<ControlMessage>(&event);
        if (auto* menus = message ? std::get_if<control::MenuCommands>(message) : nullptr) {
            std::lock_guard lock(seen->mutex);
            seen->lists.push_back(menus->commands);
        }
    });
    std::shared_ptr<MenusSender> menus = start_menus_thread(slot, 0);

    TestWindow window(true);
    ASSERT_TRUE(window.bring_to_front());
    send_menus_active(*menus, true);
    ASSERT_TRUE(wait_until([&] { return seen->count() >= 1; }));
    const std::string sep = " \u25B8 ";
    const std::vector<MenuCommand> want = {
        {0, "New", "File", "Ctrl+N", true},
        {1, "a.txt", "File" + sep + "Recent", {}, true},
        {2, "Save As\u2026", "File", {}, false},
        {3, "Undo", "Edit", "Ctrl+Z", true},
        {4, "Bold", "Edit" + sep + "Format", {}, true},
    };
    EXPECT_EQ(seen->last(), want);
    EXPECT_NE(log.messages().find("menus: 5 commands ("), std::string::npos);

    send_menu_run(*menus, 2);   // greyed: nothing reaches the window
    send_menu_run(*menus, 99);  // unknown: nothing runs
    send_menu_run(*menus, 1);
    EXPECT_TRUE(wait_until([&] { return window.command != 0; }));
    EXPECT_EQ(window.command, 111);
    EXPECT_NE(log.messages().find("menus: command 111\n"), std::string::npos);
    std::this_thread::sleep_for(700ms);  // the rescan after the run finds the same list: nothing sent
    EXPECT_EQ(seen->count(), 1u);

    TestWindow bare(false);
    ASSERT_TRUE(bare.bring_to_front());
    notify_front_app_change();
    EXPECT_TRUE(wait_until([&] { return seen->count() == 2; }));
    if (seen->count() == 2) {
        EXPECT_TRUE(seen->last().empty());
    }
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
}

}  // namespace
}  // namespace vorlix
