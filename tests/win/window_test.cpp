// The host window on its own thread with a host of two paired phones of one
// name: its controls follow the host state, Enter means the pair button, a
// second start raises it, closing hides it and the tray menu's quit ends it.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "../storage/temp_folder.h"
#include "support/fake_platform.h"
#include "support/test_host.h"
#include "support/wait.h"
#include "ui/host_view.h"
#include "win/system/wide.h"
#include "win/ui/host_window.h"

namespace vorlix {
namespace {

std::string control_text(HWND window, int id) {
    wchar_t text[512] = {};
    const int length = GetDlgItemTextW(window, id, text, 512);
    return wide_to_string(text, static_cast<std::size_t>(length));
}

std::string list_row(HWND window, LRESULT row) {
    wchar_t text[512] = {};
    const LRESULT length = SendDlgItemMessageW(window, kDeviceList, LB_GETTEXT, row, reinterpret_cast<LPARAM>(text));
    return length < 0 ? std::string() : wide_to_string(text, static_cast<std::size_t>(length));
}

// Whether the control's text, drawn in its font, fits its client area with
// each of its lines unbroken.
bool lines_fit_control(HWND control) {
    wchar_t text[512] = {};
    const int length = GetWindowTextW(control, text, 512);
    RECT client{};
    GetClientRect(control, &client);
    const HDC dc = GetDC(control);
    const HGDIOBJ old_font = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    RECT unbroken{0, 0, 0, 0}, wrapped{0, 0, client.right, 0};
    DrawTextW(dc, text, length, &unbroken, DT_CALCRECT | DT_NOPREFIX);
    DrawTextW(dc, text, length, &wrapped, DT_CALCRECT | DT_NOPREFIX | DT_WORDBREAK);
    SelectObject(dc, old_font);
    ReleaseDC(control, dc);
    return unbroken.right <= client.right && wrapped.bottom == unbroken.bottom && unbroken.bottom <= client.bottom;
}

TEST(Window, FollowsTheHostUntilQuitFromTheMenu) {
    test::TempFolder folder;
    auto host = HostState::create(test_host_config(std::make_shared<FakePlatform>(), folder.path(), 3,
                                                   {{"k1", "Phone", "P1"}, {"k2", "Phone", "P2"}}));
    const Language language = current_language();
    EXPECT_FALSE(activate_running_window());

    std::atomic<bool> returned{false};
    std::thread ui([&] {
        run_window(host, true, false);
        returned = true;
    });
    ASSERT_TRUE(wait_until([] { return main_window_handle() != nullptr; }));
    const HWND window = main_window_handle();
    EXPECT_EQ(FindWindowW(kHostWindowClass, nullptr), window);
    EXPECT_FALSE(IsWindowVisible(window));  // started hidden

    // The first refresh fills every control.
    EXPECT_TRUE(wait_until([&] { return !control_text(window, 109).empty(); }));
    EXPECT_EQ(control_text(window, 101), lookup_text(language, "status.not_listening"));
    EXPECT_EQ(control_text(window, 109),
              fill_placeholders(lookup_text(language, "footer"), TextArgs{{"name", "Desk PC"},
                                                                   {"port", "0"},
                                                                   {"id", host->host_id()},
                                                                   {"version", std::string(kAppVersion)}}));
    EXPECT_EQ(host->host_id().size(), 12u);
    EXPECT_TRUE(lines_fit_control(GetDlgItem(window, 109)));
    ASSERT_EQ(SendDlgItemMessageW(window, kDeviceList, LB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(list_row(window, 1), "Phone   (P2)");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, 107)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, 108)));

    // A change of the host reaches the window through its change callback.
    host->open_pairing();
    const std::string code = *host->snapshot_host_status().pairing_code;
    EXPECT_TRUE(wait_until([&] { return control_text(window, kCodeControl) == format_pairing_code(code); }));
    EXPECT_EQ(control_text(window, kPairButton), lookup_text(language, "button.stop_pairing"));

    // Enter presses the pair button, which stops pairing.
    EXPECT_EQ(SendMessageW(window, DM_GETDEFID, 0, 0), MAKELRESULT(kPairButton, DC_HASDEFID));
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(kPairButton, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, kPairButton)));
    EXPECT_TRUE(wait_until([&] { return control_text(window, kCodeControl).empty(); }));
    EXPECT_FALSE(host->snapshot_host_status().pairing_code);

    // A selected device enables Forget; the selection survives refreshes.
    SendDlgItemMessageW(window, kDeviceList, LB_SETCURSEL, 1, 0);
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(kDeviceList, LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, kDeviceList)));
    EXPECT_TRUE(wait_until([&] { return IsWindowEnabled(GetDlgItem(window, 107)) != FALSE; }));
    PostMessageW(window, kRefreshMessage, 0, 0);
    EXPECT_TRUE(wait_until([&] { return SendDlgItemMessageW(window, kDeviceList, LB_GETCURSEL, 0, 0) == 1; }));

    // Another start raises it; closing only hides it.
    EXPECT_TRUE(activate_running_window());
    EXPECT_TRUE(wait_until([&] { return IsWindowVisible(window) != FALSE; }));
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(wait_until([&] { return !IsWindowVisible(window); }));
    EXPECT_FALSE(returned);

    PostMessageW(window, WM_COMMAND, MAKEWPARAM(kMenuQuit, 0), 0);
    EXPECT_TRUE(wait_until([&] { return returned.load(); }));
    ui.join();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(main_window_handle(), nullptr);
}

TEST(Window, ClosesForAnUpdate) {
    std::thread ui([] { run_window(nullptr, true, true); });
    ASSERT_TRUE(wait_until([] { return main_window_handle() != nullptr; }));
    PostMessageW(main_window_handle(), kCloseForUpdateMessage, 0, 0);
    ui.join();
    EXPECT_EQ(main_window_handle(), nullptr);
}

// A shell still starting at sign-in refuses the icon: it is added once the
// shell takes it. Each "TaskbarCreated" adds it again with the same icon,
// which is freed with the window; no earlier icon is left behind.
TEST(Window, TrayIconIsRetriedUntilTakenAndReAddedWithoutLeaking) {
    struct Shell {
        std::mutex mutex;
        bool busy = true;
        std::vector<HICON> taken;  // the icon of each accepted add
        int refused = 0;
    };
    auto shell = std::make_shared<Shell>();
    set_notify_icon_call([shell](DWORD message, NOTIFYICONDATAW* data) -> BOOL {
        std::lock_guard<std::mutex> lock(shell->mutex);
        if (shell->busy) return ++shell->refused, FALSE;
        if (message == NIM_ADD) shell->taken.push_back(data->hIcon);
        return TRUE;
    });
    auto seen = [&] {
        std::lock_guard<std::mutex> lock(shell->mutex);
        return std::pair(shell->refused, shell->taken);
    };
    std::thread ui([] { run_window(nullptr, true, false); });
    ASSERT_TRUE(wait_until([] { return main_window_handle() != nullptr; }));
    const HWND window = main_window_handle();
    EXPECT_TRUE(wait_until([&] { return seen().first >= 2; }));  // the add and the modify after it
    {
        std::lock_guard<std::mutex> lock(shell->mutex);
        shell->busy = false;
    }
    EXPECT_TRUE(wait_until([&] { return seen().second.size() == 1; }, std::chrono::seconds(3)));

    const UINT taskbar_created = RegisterWindowMessageW(L"TaskbarCreated");
    SendMessageW(window, taskbar_created, 0, 0);
    SendMessageW(window, taskbar_created, 0, 0);
    const std::vector<HICON> taken = seen().second;
    EXPECT_EQ(taken.size(), 3u);
    auto alive = [](HICON icon) {
        ICONINFO info{};
        if (!GetIconInfo(icon, &info)) return false;
        DeleteObject(info.hbmMask);
        DeleteObject(info.hbmColor);
        return true;
    };
    const HICON last = taken.empty() ? nullptr : taken.back();
    for (HICON icon : taken) EXPECT_TRUE(icon == last || !alive(icon));
    EXPECT_TRUE(alive(last));

    PostMessageW(window, WM_COMMAND, MAKEWPARAM(kMenuQuit, 0), 0);
    ui.join();
    EXPECT_FALSE(alive(last));
    set_notify_icon_call(nullptr);
}

}  // namespace
}  // namespace vorlix
