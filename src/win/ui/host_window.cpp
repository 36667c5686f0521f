#include "win/ui/host_window.h"

#include <shellapi.h>

#include <array>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <vector>

#include "host/host_state.h"
#include "host/log.h"
#include "ui/host_view.h"
#include "win/system/shell.h"
#include "win/system/wide.h"
#include "win/ui/sign_in.h"

namespace vorlix {
namespace {

constexpr UINT kTrayIconId = 1;
constexpr UINT_PTR kRefreshTimer = 1;
constexpr int kFirstControl = 100;

std::atomic<HWND> g_main_window{nullptr};
std::atomic<bool> g_open_at_sign_in_allowed{false};

// The host of this window: set by run_window, released when its loop ends.
std::mutex g_host_mutex;
std::shared_ptr<HostState> g_host;

std::shared_ptr<HostState> window_host() {
    std::lock_guard<std::mutex> lock(g_host_mutex);
    return g_host;
}

std::mutex g_hooks_mutex;
TrayHooks g_hooks;

TrayHooks tray_hooks() {
    std::lock_guard<std::mutex> lock(g_hooks_mutex);
    return g_hooks;
}

// Fonts, the two caches and the closed-once flag. The window procedure runs
// inside the calls this thread makes to the window and its controls, so the
// lock is never held across such a call. The registered "TaskbarCreated"
// number is read by every message and needs no lock.
struct WindowState {
    std::mutex mutex;
    std::array<HFONT, 5> fonts{};
    bool fonts_made = false;
    std::optional<std::vector<DeviceRow>> rows;  // none: the list box was never filled
    std::wstring tooltip;
    std::atomic<UINT> taskbar_created{0};
    bool closed_once = false;
    // The tray icon, loaded once per window and freed when it is destroyed;
    // whether the shell has taken it (a refused add is tried again on the
    // refresh timer).
    HICON tray_icon = nullptr;
    bool tray_icon_owned = false;
    bool tray_added = false;
};
WindowState g_state;

struct TrayNotice {
    std::string title;
    std::string body;
};
std::mutex g_notice_mutex;
std::vector<TrayNotice> g_notices;

Language window_language() { return current_language(); }
bool arabic() { return window_language() == Language::Arabic; }

// A text into a fixed NOTIFYICONDATAW field, cut outside surrogate pairs.
template <std::size_t N>
void copy_field(wchar_t (&field)[N], const std::string& text) {
    const std::u16string units = cut_utf16(text, N - 1);
    std::copy(units.begin(), units.end(), field);
    field[units.size()] = L'\0';
}

std::mutex g_notify_mutex;
NotifyIconCall g_notify_call;

BOOL notify_icon(DWORD message, NOTIFYICONDATAW* data) {
    NotifyIconCall call;
    {
        std::lock_guard<std::mutex> lock(g_notify_mutex);
        call = g_notify_call;
    }
    return call ? call(message, data) : Shell_NotifyIconW(message, data);
}

NOTIFYICONDATAW icon_record(HWND window) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = window;
    data.uID = kTrayIconId;
    return data;
}

HICON load_program_icon(int size) {
    auto icon = static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    return icon ? icon : LoadIconW(nullptr, IDI_APPLICATION);
}

HICON tray_icon() {
    std::lock_guard<std::mutex> lock(g_state.mutex);
    if (!g_state.tray_icon) {
        g_state.tray_icon = load_program_icon(16);
        // The system's fall-back icon is shared and never freed.
        g_state.tray_icon_owned = g_state.tray_icon && g_state.tray_icon != LoadIconW(nullptr, IDI_APPLICATION);
    }
    return g_state.tray_icon;
}

// At start, after the shell restarted ("TaskbarCreated") and, while the
// shell has refused it (Explorer still starting at sign-in), on every tick
// of the refresh timer. The shell keeps its own copy of the icon.
void add_tray_icon(HWND window) {
    NOTIFYICONDATAW data = icon_record(window);
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = kTrayCallbackMessage;
    data.hIcon = tray_icon();
    copy_field(data.szTip, "Vorlix");
    bool added = notify_icon(NIM_ADD, &data) != FALSE;
    // "TaskbarCreated" also comes when the taskbar only changed its DPI, and
    // the shell refuses to add an icon it still shows.
    if (!added) added = notify_icon(NIM_MODIFY, &data) != FALSE;
    if (!added) (void)GetLastError();
    // The icon carries the plain tip now: the next refresh must send the status again.
    std::lock_guard<std::mutex> lock(g_state.mutex);
    g_state.tray_added = added;
    g_state.tooltip.clear();
}

void remove_tray_icon(HWND window) {
    NOTIFYICONDATAW data = icon_record(window);
    notify_icon(NIM_DELETE, &data);
    std::lock_guard<std::mutex> lock(g_state.mutex);
    if (g_state.tray_icon_owned) DestroyIcon(g_state.tray_icon);
    g_state.tray_icon = nullptr;
    g_state.tray_icon_owned = false;
    g_state.tray_added = false;
}

bool tray_icon_missing() {
    std::lock_guard<std::mutex> lock(g_state.mutex);
    return !g_state.tray_added;
}

// A shell that refuses a change no longer holds the icon (it restarted and
// its "TaskbarCreated" did not reach this window): the refresh timer adds it
// again.
void modify_tray_icon(NOTIFYICONDATAW& data) {
    if (notify_icon(NIM_MODIFY, &data)) return;
    (void)GetLastError();
    std::lock_guard<std::mutex> lock(g_state.mutex);
    g_state.tray_added = false;
}

void show_tray_balloon(const std::string& title, const std::string& body) {
    const HWND window = g_main_window.load();
    if (!window) return;
    NOTIFYICONDATAW data = icon_record(window);
    data.uFlags = NIF_INFO;
    data.dwInfoFlags = NIIF_INFO;
    copy_field(data.szInfoTitle, with_direction(window_language(), title));
    copy_field(data.szInfo, with_direction(window_language(), body));
    modify_tray_icon(data);
}

void show_queued_notices() {
    std::vector<TrayNotice> queued;
    {
        std::lock_guard<std::mutex> lock(g_notice_mutex);
        queued.swap(g_notices);
    }
    if (!queued.empty()) show_tray_balloon(queued.back().title, queued.back().body);
}

void set_control_text(HWND window, int id, const std::string& text) {
    SetDlgItemTextW(window, id, to_wide(text).c_str());
}

void show_main_window() {
    const HWND window = g_main_window.load();
    ShowWindow(window, SW_SHOW);
    ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
}

int window_dpi(HWND window) { return effective_dpi(static_cast<int>(GetDpiForWindow(window))); }

// Makes the five fonts for the DPI and lays the controls out. Moving a shown
// control and giving it a font send messages back to this window on this
// thread (WM_ERASEBKGND, WM_CTLCOLORSTATIC), so the lock only swaps the font
// handles; the previous fonts go once no control uses them.
void apply_window_fonts(HWND window, int dpi) {
    std::array<HFONT, 5> fonts{};
    for (std::size_t role = 0; role < fonts.size(); ++role) {
        const FontSpec spec = font_spec(static_cast<FontRole>(role), dpi, window_language());
        const std::wstring face(spec.face.begin(), spec.face.end());
        fonts[role] = CreateFontW(spec.height, 0, 0, 0, spec.weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH,
                                  face.c_str());
    }
    std::array<HFONT, 5> previous{};
    {
        std::lock_guard<std::mutex> lock(g_state.mutex);
        if (g_state.fonts_made) previous = g_state.fonts;
        g_state.fonts = fonts;
        g_state.fonts_made = true;
    }
    for (const ControlLayout& control : kControlLayout) {
        const HWND child = GetDlgItem(window, control.id);
        const ControlRect rect = scale_to_dpi(control.rect, dpi);
        SetWindowPos(child, nullptr, rect.x, rect.y, rect.width, rect.height, SWP_NOZORDER);
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(fonts[static_cast<std::size_t>(control.font)]), TRUE);
    }
    for (HFONT font : previous) {
        if (font) DeleteObject(font);
    }
}

void refresh_main_window() {
    const auto host = window_host();
    const HWND window = g_main_window.load();
    if (!host || !window) return;
    const HostStatus status = host->snapshot_host_status();
    const HostView view = compose_host_view(status, window_language());

    set_control_text(window, 101, view.status);
    set_control_text(window, kCodeControl, view.code);
    set_control_text(window, 103, view.hint);
    set_control_text(window, kPairButton, view.pair_button);
    EnableWindow(GetDlgItem(window, kPairButton), view.pair_enabled);
    EnableWindow(GetDlgItem(window, 108), view.disconnect_enabled);

    const HWND list = GetDlgItem(window, kDeviceList);
    bool rebuild = false;
    {
        std::lock_guard<std::mutex> lock(g_state.mutex);
        if (g_state.rows != view.rows) {
            g_state.rows = view.rows;
            rebuild = true;
        }
    }
    if (rebuild) {
        SendMessageW(list, LB_RESETCONTENT, 0, 0);
        if (view.rows.empty()) {
            SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(to_wide(view.no_devices).c_str()));
        }
        for (const DeviceRow& row : view.rows) {
            SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(to_wide(row.text).c_str()));
        }
    }
    const LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
    EnableWindow(GetDlgItem(window, 107), selected >= 0 && !status.devices.empty());

    set_control_text(window, 109, view.footer);

    const std::u16string tip = cut_utf16(view.tooltip, 127);
    const std::wstring wide_tip(tip.begin(), tip.end());
    {
        std::lock_guard<std::mutex> lock(g_state.mutex);
        if (g_state.tooltip == wide_tip) return;
        g_state.tooltip = wide_tip;
    }
    NOTIFYICONDATAW data = icon_record(window);
    data.uFlags = NIF_TIP;
    std::copy(wide_tip.begin(), wide_tip.end(), data.szTip);
    modify_tray_icon(data);
}

void toggle_pairing(const std::shared_ptr<HostState>& host) {
    if (host->snapshot_host_status().pairing_code) {
        host->close_pairing();
    } else {
        host->open_pairing();
    }
}

std::optional<std::filesystem::path> crash_log_path(const std::shared_ptr<HostState>& host) {
    if (!host) return std::nullopt;
    const DataFolder folder = host->platform->data_dir();
    if (folder.path.empty()) return std::nullopt;
    return folder.path / "crash.log";
}

bool crash_log_offered(const std::shared_ptr<HostState>& host) {
    const auto path = crash_log_path(host);
    std::error_code error;
    return path && std::filesystem::is_regular_file(*path, error) && std::filesystem::file_size(*path, error) > 0 &&
           !error;
}

void show_tray_menu(HWND window) {
    const HMENU menu = CreatePopupMenu();
    if (!menu) return;
    const TrayHooks hooks = tray_hooks();
    const bool update_state = hooks.update_state_exists && hooks.update_state_exists();
    TrayMenuState state;
    if (update_state && hooks.update_after_session) state.update_after_session = hooks.update_after_session();
    if (update_state && hooks.pending_update) state.pending_update = hooks.pending_update();
    state.camera_available = hooks.camera_menu_available && hooks.camera_menu_available();
    state.crash_log_available = crash_log_offered(window_host());
    state.open_at_sign_in_allowed = g_open_at_sign_in_allowed.load();
    state.open_at_sign_in_on = state.open_at_sign_in_allowed && sign_in_state();
    state.update_state_exists = update_state;
    state.auto_install_on = update_state && hooks.auto_install_on && hooks.auto_install_on();

    const UINT direction = arabic() ? MFT_RIGHTORDER : 0;
    for (const MenuEntry& entry : tray_menu_entries(state, window_language())) {
        if (entry.separator) {
            AppendMenuW(menu, MF_SEPARATOR | direction, 0, nullptr);
            continue;
        }
        const UINT flags =
            MF_STRING | direction | (entry.grayed ? MF_GRAYED : 0) | (entry.checked ? MF_CHECKED : 0);
        AppendMenuW(menu, flags, static_cast<UINT_PTR>(entry.command), to_wide(entry.text).c_str());
    }
    POINT cursor{};
    GetCursorPos(&cursor);
    SetForegroundWindow(window);
    const UINT track = arabic() ? (TPM_LAYOUTRTL | TPM_RIGHTALIGN | TPM_RIGHTBUTTON) : TPM_RIGHTBUTTON;
    TrackPopupMenu(menu, track, cursor.x, cursor.y, 0, window, nullptr);
    // Without a message after it the menu may stay up after a click elsewhere.
    PostMessageW(window, WM_NULL, 0, 0);
    DestroyMenu(menu);
}

void run_menu_command(WORD id) {
    const auto host = window_host();
    const TrayHooks hooks = tray_hooks();
    switch (static_cast<TrayCommand>(id)) {
        case TrayCommand::Open:
            show_main_window();
            break;
        case TrayCommand::Pair:
            show_main_window();
            if (host && !host->snapshot_host_status().pairing_code) host->open_pairing();
            break;
        case TrayCommand::Quit:
            DestroyWindow(g_main_window.load());
            break;
        case TrayCommand::Camera:
            if (hooks.start_camera_setup) hooks.start_camera_setup();
            break;
        case TrayCommand::Update:
            if (hooks.install_update_now) hooks.install_update_now();
            break;
        case TrayCommand::CrashLog:
            if (const auto path = crash_log_path(host)) reveal_crash_log(*path);
            break;
        case TrayCommand::OpenAtSignIn:
            if (g_open_at_sign_in_allowed.load()) sign_in_set(!sign_in_state());
            break;
        case TrayCommand::AutoUpdate:
            if (hooks.set_auto_install) {
                const bool exists = hooks.update_state_exists && hooks.update_state_exists();
                hooks.set_auto_install(!(exists && hooks.auto_install_on && hooks.auto_install_on()));
            }
            break;
        default:
            break;
    }
}

void forget_selected_device(HWND window, const std::shared_ptr<HostState>& host) {
    const LRESULT index = SendMessageW(GetDlgItem(window, kDeviceList), LB_GETCURSEL, 0, 0);
    const HostStatus status = host->snapshot_host_status();
    if (index < 0 || static_cast<std::size_t>(index) >= status.devices.size()) return;
    const TrustedDevice device = status.devices[static_cast<std::size_t>(index)];
    const std::string question = with_direction(
        window_language(), fill_placeholders(lookup_text(window_language(), "forget.confirm"), {{"name", device.name}}));
    const UINT style = MB_OKCANCEL | MB_ICONQUESTION | (arabic() ? MB_RIGHT | MB_RTLREADING : 0);
    if (MessageBoxW(window, to_wide(question).c_str(), L"Vorlix", style) == IDOK) host->forget_trusted_device(device.key);
}

void run_control_command(HWND window, int id, int code) {
    const auto host = window_host();
    if (!host) return;
    switch (id) {
        case kPairButton:
            toggle_pairing(host);
            break;
        case kDeviceList:
            if (code == LBN_SELCHANGE) refresh_main_window();
            break;
        case 107:
            forget_selected_device(window, host);
            break;
        case 108:
            host->say_goodbye_and_close();
            break;
        default:
            break;
    }
}

// Set on the window's thread while the dialog manager handles a key: a
// command without a control made then (Esc gives IDCANCEL, which is also the
// menu's "Pair a Device") is the dialog manager's, not the tray menu's.
thread_local bool t_dialog_key = false;

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    const UINT taskbar_created = g_state.taskbar_created.load();
    if (taskbar_created != 0 && message == taskbar_created) {
        add_tray_icon(window);
        return 0;
    }
    switch (message) {
        case WM_DESTROY:
            remove_tray_icon(window);
            PostQuitMessage(0);
            return 0;
        case WM_CLOSE: {
            ShowWindow(window, SW_HIDE);
            bool first = false;
            {
                std::lock_guard<std::mutex> lock(g_state.mutex);
                first = !g_state.closed_once;
                g_state.closed_once = true;
            }
            if (first) {
                const NoticeTexts notice =
                    compose_notice(window_language(), "still_running.title", "still_running.text");
                show_tray_balloon(notice.title, notice.body);
            }
            return 0;
        }
        case WM_COMMAND:
            if (lparam != 0) {
                run_control_command(window, LOWORD(wparam), HIWORD(wparam));
            } else if (!t_dialog_key) {
                run_menu_command(LOWORD(wparam));
            }
            return 0;
        case DM_GETDEFID:
            // Enter presses the pair button (a plain window has no dialog default).
            return MAKELRESULT(kPairButton, DC_HASDEFID);
        case kCloseForUpdateMessage:
            DestroyWindow(window);
            return 0;
        case WM_TIMER:
            if (tray_icon_missing()) add_tray_icon(window);
            refresh_main_window();
            return 0;
        case kRefreshMessage:
            refresh_main_window();
            return 0;
        case WM_CTLCOLORSTATIC: {
            const HDC dc = reinterpret_cast<HDC>(wparam);
            const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lparam));
            SetTextColor(dc, id == kCodeControl ? RGB(91, 74, 224)
                                                : GetSysColor(id == 109 ? COLOR_GRAYTEXT : COLOR_WINDOWTEXT));
            SetBkColor(dc, GetSysColor(COLOR_WINDOW));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
        }
        case WM_POWERBROADCAST:
            if (wparam == PBT_APMRESUMESUSPEND || wparam == PBT_APMRESUMEAUTOMATIC) {
                const TrayHooks hooks = tray_hooks();
                if (hooks.update_state_exists && hooks.update_state_exists() && hooks.restart_no_device_wait) {
                    hooks.restart_no_device_wait("the PC woke from sleep");
                }
            }
            return TRUE;
        case WM_DPICHANGED: {
            const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
            SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                         suggested->bottom - suggested->top, SWP_NOACTIVATE | SWP_NOZORDER);
            // The message carries the new DPI (what GetDpiForWindow gives from now on).
            apply_window_fonts(window, effective_dpi(LOWORD(wparam)));
            return 0;
        }
        case kTrayCallbackMessage:
            switch (LOWORD(lparam)) {
                case WM_CONTEXTMENU:
                case WM_RBUTTONUP:
                    show_tray_menu(window);
                    break;
                case WM_LBUTTONUP:
                case WM_LBUTTONDBLCLK:
                    show_main_window();
                    break;
                default:
                    break;
            }
            return 0;
        case kShowNoticesMessage:
            show_queued_notices();
            return 0;
        default:
            return DefWindowProcW(window, message, wparam, lparam);
    }
}

struct ControlClass {
    const wchar_t* name;
    DWORD style;
};

ControlClass control_class(int id) {
    switch (id) {
        case 102:
        case 103:
            return {L"STATIC", SS_CENTER};
        case kPairButton:
            return {L"BUTTON", WS_TABSTOP | BS_DEFPUSHBUTTON};
        case kDeviceList:
            return {L"LISTBOX", WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY};
        case 107:
        case 108:
            return {L"BUTTON", WS_TABSTOP};
        default:
            return {L"STATIC", 0};
    }
}

}  // namespace

HWND main_window_handle() { return g_main_window.load(); }

void set_tray_hooks(TrayHooks hooks) {
    std::lock_guard<std::mutex> lock(g_hooks_mutex);
    g_hooks = std::move(hooks);
}

void change_tray_hooks(const std::function<void(TrayHooks&)>& change) {
    std::lock_guard<std::mutex> lock(g_hooks_mutex);
    change(g_hooks);
}

void set_notify_icon_call(NotifyIconCall call) {
    std::lock_guard<std::mutex> lock(g_notify_mutex);
    g_notify_call = std::move(call);
}

void set_open_at_sign_in_allowed(bool allowed) { g_open_at_sign_in_allowed = allowed; }

bool open_at_sign_in_allowed() { return g_open_at_sign_in_allowed.load(); }

void post_tray_notice(const std::string& title, const std::string& body) {
    {
        std::lock_guard<std::mutex> lock(g_notice_mutex);
        g_notices.push_back({title, body});
    }
    if (const HWND window = g_main_window.load()) PostMessageW(window, kShowNoticesMessage, 0, 0);
}

void run_window(std::shared_ptr<HostState> host, bool hidden, bool just_updated) {
    {
        std::lock_guard<std::mutex> lock(g_host_mutex);
        g_host = host;
    }
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    const bool rtl = arabic();

    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = window_proc;
    window_class.hInstance = instance;
    window_class.hIcon = load_program_icon(32);
    window_class.hIconSm = load_program_icon(16);
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
    window_class.lpszClassName = kHostWindowClass;
    RegisterClassExW(&window_class);  // a class left from an earlier run in this process is fine

    constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    const DWORD ex_style = rtl ? WS_EX_LAYOUTRTL : 0;
    const HWND window = CreateWindowExW(ex_style, kHostWindowClass, L"Vorlix", kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                                        480, 600, nullptr, nullptr, instance, nullptr);
    if (!window) {
        log_line("the window could not be made");
        std::lock_guard<std::mutex> lock(g_host_mutex);
        g_host.reset();
        return;
    }
    g_main_window.store(window);

    const int dpi = window_dpi(window);
    RECT frame{0, 0, scale_to_dpi(kClientWidth, dpi), scale_to_dpi(kClientHeight, dpi)};
    AdjustWindowRectExForDpi(&frame, kStyle, FALSE, ex_style, static_cast<UINT>(dpi));
    SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top, SWP_NOMOVE | SWP_NOZORDER);

    for (const ControlLayout& control : kControlLayout) {
        const std::string text = initial_control_text(control.id, window_language());
        const ControlClass kind = control_class(control.id);
        const DWORD control_ex = rtl && control.id != kCodeControl ? WS_EX_RTLREADING : 0;
        CreateWindowExW(control_ex, kind.name, to_wide(text).c_str(), WS_CHILD | WS_VISIBLE | kind.style, 0, 0, 10,
                        10, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)), instance, nullptr);
    }
    apply_window_fonts(window, window_dpi(window));
    {
        const UINT taskbar_created = RegisterWindowMessageW(L"TaskbarCreated");
        // A host run as administrator hears from a restarted Explorer, which
        // runs at a lower integrity level, only when it lets the message in.
        if (taskbar_created != 0 && !ChangeWindowMessageFilterEx(window, taskbar_created, MSGFLT_ALLOW, nullptr)) {
            (void)GetLastError();
        }
        g_state.taskbar_created = taskbar_created;
        std::lock_guard<std::mutex> lock(g_state.mutex);
        g_state.rows.reset();
        g_state.closed_once = false;
    }
    add_tray_icon(window);
    if (just_updated) {
        const NoticeTexts notice =
            compose_notice(window_language(), "updated.title", "updated.text", {{"version", std::string(kAppVersion)}});
        post_tray_notice(notice.title, notice.body);
    }
    show_queued_notices();
    if (host) host->set_on_change([window] { PostMessageW(window, kRefreshMessage, 0, 0); });
    refresh_main_window();
    SetTimer(window, kRefreshTimer, 1000, nullptr);
    if (!hidden) ShowWindow(window, SW_SHOW);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        t_dialog_key = msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST;
        const BOOL handled = IsDialogMessageW(window, &msg);
        t_dialog_key = false;
        if (handled) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    g_main_window.store(nullptr);
    if (host) host->set_on_change(nullptr);
    std::lock_guard<std::mutex> lock(g_host_mutex);
    g_host.reset();
}

bool activate_running_window() {
    const HWND window = FindWindowW(kHostWindowClass, nullptr);
    if (!window) return false;
    ShowWindow(window, SW_SHOW);
    ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
    return true;
}

}  // namespace vorlix
