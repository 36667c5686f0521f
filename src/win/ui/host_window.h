// The host window: class "VorlixHostWindow", made and run on the main
// thread until the user quits; other threads reach it only by posting. It
// shows the pairing code, the status, the paired devices and a footer, keeps
// the notification-area icon, its tip and its menu, and shows notices as
// balloons.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vorlix {

class HostState;

constexpr UINT kTrayCallbackMessage = WM_APP + 1;
constexpr UINT kRefreshMessage = WM_APP + 2;
constexpr UINT kShowNoticesMessage = WM_APP + 3;
constexpr UINT kCloseForUpdateMessage = WM_APP + 4;

// The tray menu's Quit (WM_COMMAND, low word of wParam, lParam 0); the other
// entries are TrayCommand (ui/host_view.h).
constexpr WORD kMenuQuit = 3;

// Control identifiers.
constexpr int kCodeControl = 102;
constexpr int kPairButton = 104;
constexpr int kDeviceList = 106;

constexpr wchar_t kHostWindowClass[] = L"VorlixHostWindow";

// What the tray menu and the window ask of the self-update and the camera.
// Unset entries mean the feature is not there: its entries do not show and
// its commands do nothing.
struct TrayHooks {
    std::function<bool()> update_state_exists;
    std::function<std::optional<std::string>()> update_after_session;  // version waiting for the session
    std::function<std::optional<std::string>()> pending_update;        // version ready to install
    std::function<bool()> auto_install_on;
    std::function<void()> install_update_now;
    std::function<void(bool)> set_auto_install;
    std::function<void(const std::string& reason)> restart_no_device_wait;  // after the PC woke
    std::function<bool()> camera_menu_available;
    std::function<void()> start_camera_setup;
};
// Installed by the program entry before run_window (or by the feature itself).
void set_tray_hooks(TrayHooks hooks);
// Changes some entries, keeping the others (for a feature that installs its own).
void change_tray_hooks(const std::function<void(TrayHooks&)>& change);

// Makes the window (hidden when asked), installs the host's change callback,
// runs the message loop on the calling thread and returns when the window
// has been destroyed (quit) or could not be made.
void run_window(std::shared_ptr<HostState> host, bool hidden, bool just_updated);

// The host window once made, else null. Any thread may read it.
HWND main_window_handle();

// Queues a notice shown as a balloon (any thread); only the newest queued
// one is shown.
void post_tray_notice(const std::string& title, const std::string& body);

// The shell call behind the notification-area icon (Shell_NotifyIconW when
// unset); a test puts its own in place to play a busy shell.
using NotifyIconCall = std::function<BOOL(DWORD message, NOTIFYICONDATAW* data)>;
void set_notify_icon_call(NotifyIconCall call);

// Whether the tray menu may offer opening at sign-in: set once by the
// program entry (only for the default data folder outside an app package).
void set_open_at_sign_in_allowed(bool allowed);
bool open_at_sign_in_allowed();

// Shows, restores and raises the window of an already running host; false
// when there is none.
bool activate_running_window();

}  // namespace vorlix
