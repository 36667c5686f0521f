// The host window on its own thread, run as the program runs it: its controls
// follow the host state, Enter means the pair button and Esc nothing, a
// second start raises it, closing hides it and the tray menu's quit ends it;
// a DPI change while it shows, and a shell that refuses or loses its icon.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
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

// The host window run on a thread of its own as the program's main thread
// runs it (`on_thread` first, on that thread), shown unless hidden, and quit
// from the tray menu at the end. A window that no longer answers cannot be
// joined: the test program then ends at once, failed.
class RunningWindow {
public:
    RunningWindow(std::shared_ptr<HostState> host, bool hidden, std::function<void()> on_thread = {})
        : thread_([host, hidden, on_thread] {
              if (on_thread) on_thread();
              run_window(host, hidden, false);
          }) {
        EXPECT_TRUE(wait_until([] { return main_window_handle() != nullptr; }));
        window = main_window_handle();
        EXPECT_TRUE(hidden || wait_until([this] { return IsWindowVisible(window) != FALSE; }));
    }
    ~RunningWindow() {
        if (window && !answers()) {
            ADD_FAILURE() << "the host window no longer answers";
            std::_Exit(1);
        }
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(kMenuQuit, 0), 0);
        thread_.join();
    }
    bool answers() const {
        DWORD_PTR ignored = 0;
        return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 3000, &ignored) != 0;
    }

    HWND window = nullptr;

private:
    std::thread thread_;
};

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

// Sends WM_DPICHANGED from the window's own thread, as the system does when
// the shown window moves to a monitor of other scaling: a thread timer of the
// window's thread picks up the wanted DPI.
std::atomic<UINT> g_dpi_to_send{0};
std::atomic<bool> g_dpi_sent{false};
RECT g_suggested{};

void CALLBACK send_dpi_change(HWND, UINT, UINT_PTR, DWORD) {
    const UINT dpi = g_dpi_to_send.exchange(0);
    if (dpi == 0) return;
    SendMessageW(main_window_handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&g_suggested));
    g_dpi_sent = true;
}

TEST(Window, FollowsADpiChangeWhileShownAndGoesOnAnswering) {
    RunningWindow shown(nullptr, false, [] { SetTimer(nullptr, 0, 10, send_dpi_change); });
    // The frame grown by a quarter, as a move to a monitor at 125 % suggests.
    RECT frame{};
    GetWindowRect(shown.window, &frame);
    g_suggested = {20, 20, 20 + (frame.right - frame.left) * 5 / 4, 20 + (frame.bottom - frame.top) * 5 / 4};
    g_dpi_sent = false;
    g_dpi_to_send = 120;
    EXPECT_TRUE(wait_until([] { return g_dpi_sent.load(); }, std::chrono::seconds(5)));
    ASSERT_TRUE(shown.answers());

    GetWindowRect(shown.window, &frame);
    EXPECT_TRUE(EqualRect(&frame, &g_suggested)) << frame.left << "," << frame.top << " " << frame.right << ","
                                                 << frame.bottom;
    struct Expected {
        int id;
        RECT rect;
        LONG font_height;
    };
    for (const Expected& control : {Expected{100, {30, 22, 520, 67}, -30}, Expected{102, {30, 147, 520, 227}, -56},
                                    Expected{109, {30, 632, 520, 692}, -15}}) {
        const HWND child = GetDlgItem(shown.window, control.id);
        RECT rect{};
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, shown.window, reinterpret_cast<POINT*>(&rect), 2);
        EXPECT_TRUE(EqualRect(&rect, &control.rect)) << control.id << ": " << rect.left << "," << rect.top << " "
                                                     << rect.right << "," << rect.bottom;
        LOGFONTW font{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0)), sizeof font, &font);
        EXPECT_EQ(font.lfHeight, control.font_height) << control.id;
    }
}

// Esc reaches the window through the dialog manager as a command without a
// control, like a tray-menu entry (IDCANCEL, 2, is "Pair a Device"): it opens
// no pairing. The menu's entry, chosen with the keyboard, still does.
TEST(Window, EscapeOpensNoPairingWhileTheMenuEntryDoes) {
    test::TempFolder folder;
    auto host = HostState::create(test_host_config(std::make_shared<FakePlatform>(), folder.path(), 3, {}));
    RunningWindow shown(host, false);
    const HWND button = GetDlgItem(shown.window, kPairButton);
    const HWND list = GetDlgItem(shown.window, kDeviceList);
    PostMessageW(button, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageW(button, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0010001u));
    // Once the list shows this selection, the key before it has been handled.
    PostMessageW(list, LB_SETCURSEL, 0, 0);
    ASSERT_TRUE(wait_until([&] { return SendMessageW(list, LB_GETCURSEL, 0, 0) == 0; }));
    EXPECT_FALSE(host->snapshot_host_status().pairing_code);

    // The menu holds Open, Pair a Device, a separator and Quit.
    PostMessageW(shown.window, kTrayCallbackMessage, 0, WM_RBUTTONUP);
    ASSERT_TRUE(wait_until([] {
        const HWND menu = FindWindowW(L"#32768", nullptr);
        return menu && IsWindowVisible(menu);
    }));
    for (const WPARAM key : {VK_DOWN, VK_DOWN, VK_RETURN}) PostMessageW(shown.window, WM_KEYDOWN, key, 0x00010001);
    EXPECT_TRUE(wait_until([&] { return host->snapshot_host_status().pairing_code.has_value(); }));
}

// A shell still starting at sign-in refuses the icon: it is added once the
// shell takes it. Each "TaskbarCreated" adds it again with the same icon,
// which is freed with the window; no earlier icon is left behind. A shell
// that lost the icon without a "TaskbarCreated" reaching the window (an
// elevated host) refuses the next change: the icon is added again.
TEST(Window, TrayIconIsRetriedUntilTakenAndReAddedWithoutLeaking) {
    struct Shell {
        std::mutex mutex;
        bool busy = true;
        bool holds = false;        // the icon, as the shell has it
        std::vector<HICON> taken;  // the icon of each accepted add
        int refused = 0;
    };
    auto shell = std::make_shared<Shell>();
    set_notify_icon_call([shell](DWORD message, NOTIFYICONDATAW* data) -> BOOL {
        std::lock_guard<std::mutex> lock(shell->mutex);
        if (shell->busy) return ++shell->refused, FALSE;
        if (message == NIM_ADD) shell->taken.push_back(data->hIcon), shell->holds = true;
        return message != NIM_MODIFY || shell->holds;
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
    EXPECT_EQ(seen().second.size(), 3u);
    {
        std::lock_guard<std::mutex> lock(shell->mutex);
        shell->holds = false;
    }
    post_tray_notice("Notice", "Text");
    EXPECT_TRUE(wait_until([&] { return seen().second.size() == 4; }, std::chrono::seconds(3)));
    const std::vector<HICON> taken = seen().second;
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
