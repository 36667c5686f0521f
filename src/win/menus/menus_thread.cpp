#include "win/menus/menus_thread.h"

#include <windows.h>
#include <objbase.h>

#include <thread>

#include "host/log.h"
#include "util/thread_name.h"
#include "win/menus/uia_menus.h"
#include "win/system/wide.h"

namespace vorlix {

namespace {

using namespace std::chrono_literals;

HMENU as_menu(MenuSource::Handle h) { return reinterpret_cast<HMENU>(h); }

// The classic menu calls, on a live window's menus.
class Win32Menus final : public MenuSource {
public:
    explicit Win32Menus(HWND window) : window_(window) {}

    int item_count(Handle menu) override { return GetMenuItemCount(as_menu(menu)); }
    std::uint32_t item_state(Handle menu, int i) override {
        return GetMenuState(as_menu(menu), static_cast<UINT>(i), MF_BYPOSITION);
    }
    std::string item_text(Handle menu, int i) override {
        wchar_t buffer[256];
        const int length = GetMenuStringW(as_menu(menu), static_cast<UINT>(i), buffer, 256, MF_BYPOSITION);
        if (length <= 0) return {};
        return wide_to_string(buffer, static_cast<std::size_t>(std::min(length, 255)));
    }
    Handle submenu(Handle menu, int i) override {
        return reinterpret_cast<Handle>(GetSubMenu(as_menu(menu), i));
    }
    std::uint32_t item_id(Handle menu, int i) override { return GetMenuItemID(as_menu(menu), i); }
    void init_popup(Handle sub, int i) override {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(window_, WM_INITMENUPOPUP, static_cast<WPARAM>(sub), static_cast<LPARAM>(i),
                            SMTO_BLOCK | SMTO_ABORTIFHUNG, 200, &ignored);
    }

private:
    HWND window_;
};

class WindowsMenus final : public MenusBackend {
public:
    explicit WindowsMenus(DWORD own_process) : own_process_(own_process) {}

    MenuScanResult scan(const OpenedMenuCache& cache) override {
        MenuScanResult result;
        HWND window = GetForegroundWindow();
        if (!window) return result;
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == own_process_) {
            result.final = true;
            return result;
        }
        HMENU bar = GetMenu(window);
        if (bar && bar != reinterpret_cast<HMENU>(-1) && GetMenuItemCount(bar) > 0) {
            Win32Menus menus(window);
            read_win32_menu_bar(menus, reinterpret_cast<std::uintptr_t>(window),
                                reinterpret_cast<MenuSource::Handle>(bar), result.scan);
        } else {
            uia_.read_bar(window, result.scan, cache);
        }
        return result;
    }
    bool window_exists(std::uintptr_t window) override { return IsWindow(reinterpret_cast<HWND>(window)); }
    void post_command(std::uintptr_t window, std::uint16_t command) override {
        PostMessageW(reinterpret_cast<HWND>(window), WM_COMMAND, command, 0);  // a failed post is ignored
    }
    bool invoke(const std::shared_ptr<void>& element) override { return uia_.invoke(element); }
    std::optional<std::vector<UiaMenuItem>> open_uia_menu(std::uintptr_t window, const std::string& name) override {
        return uia_.open_menu(reinterpret_cast<HWND>(window), name);
    }

private:
    DWORD own_process_;
    UiaMenus uia_;
};

// The sender for front-app changes: the latest menus thread's, held weakly
// so that it never keeps a thread alive past its platform.
std::mutex front_app_mutex;
std::weak_ptr<MenusSender> front_app_sender;

void send(MenusSender& menus, MenuRequest request) {
    std::lock_guard lock(menus.mutex);
    menus.sender.send(std::move(request));  // a thread that ended drops it
}

}  // namespace

std::shared_ptr<MenusSender> start_menus_thread(std::shared_ptr<EventSlot> slot, std::uint32_t own_process) {
    auto [sender, receiver] = make_channel<MenuRequest>();
    auto menus = std::make_shared<MenusSender>();
    menus->sender = std::move(sender);
    {
        std::lock_guard lock(front_app_mutex);
        front_app_sender = menus;
    }
    try {
        std::thread([receiver = std::move(receiver), slot = std::move(slot), own_process]() mutable {
            set_current_thread_name("vorlix-menus");
            const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
            {
                WindowsMenus backend(own_process);
                MenusLoop loop(
                    backend,
                    [&slot](std::vector<MenuCommand> commands) {
                        deliver_event(*slot, PlatformEvent{ControlMessage{control::MenuCommands{std::move(commands)}}});
                    },
                    log_line);
                run_menus_loop(receiver, loop);
            }  // every element reference goes before COM does
            if (com) CoUninitialize();
        }).detach();
    } catch (const std::system_error&) {
        // Nothing is logged; requests sent later are lost.
    }
    return menus;
}

void send_menus_active(MenusSender& menus, bool active) {
    send(menus, {.kind = MenuRequest::Kind::Active, .active = active});
}

void send_menu_run(MenusSender& menus, std::uint64_t id) {
    std::lock_guard lock(menus.mutex);
    queue_menu_run(menus.sender, menus.run, id);
}

void notify_front_app_change() {
    std::shared_ptr<MenusSender> menus;
    {
        std::lock_guard lock(front_app_mutex);
        menus = front_app_sender.lock();
    }
    if (menus) send(*menus, {.kind = MenuRequest::Kind::ScanAfter, .delay = 400ms});
}

}  // namespace vorlix
