// The host window: class "VorlixHostWindow", made and run on the main
// thread until the user quits; other threads reach it only by posting.
#pragma once

#include <windows.h>

#include <functional>

namespace vorlix {

constexpr UINT kTrayCallbackMessage = WM_APP + 1;
constexpr UINT kRefreshMessage = WM_APP + 2;
constexpr UINT kShowNoticesMessage = WM_APP + 3;
constexpr UINT kCloseForUpdateMessage = WM_APP + 4;

// Tray menu command identifiers (WM_COMMAND, low word of wParam, lParam 0).
constexpr WORD kMenuOpen = 1;
constexpr WORD kMenuPair = 2;
constexpr WORD kMenuQuit = 3;

constexpr wchar_t kHostWindowClass[] = L"VorlixHostWindow";

// Hands the host a callable that any thread may call to have the window
// refresh itself (it posts the refresh message).
using InstallChangeCallback = std::function<void(std::function<void()>)>;

// Makes the window (hidden when asked), runs its message loop on the calling
// thread and returns when the window has been destroyed (quit) or could not
// be made.
void run_window(bool hidden, bool just_updated, const InstallChangeCallback& install_change_callback);

// The host window once made, else null. Any thread may read it.
HWND main_window_handle();

// Whether the tray menu may offer opening at sign-in: set once by the
// program entry (only for the default data folder outside an app package).
void set_open_at_sign_in_allowed(bool allowed);
bool open_at_sign_in_allowed();

// Shows, restores and raises the window of an already running host; false
// when there is none.
bool activate_running_window();

}  // namespace vorlix
