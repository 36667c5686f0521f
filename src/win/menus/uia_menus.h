// Menus that an application exposes only through UI Automation: reading the
// menu bar of the window in front, opening a top-level menu when the device
// asks, and running an item (Invoke, or the LegacyIAccessible default
// action). Used on the menus thread only, a multithreaded-apartment thread.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "menus/menus_loop.h"
#include "win/menus/uia_client.h"
#include "win/stream/com_ref.h"

namespace vorlix {

class UiaMenus {
public:
    // Appends the window's menu bar to the scan; leaves it as it is when UI
    // Automation is not available or the window has no menu bar.
    void read_bar(HWND window, MenuScan& scan, const OpenedMenuCache& cache);
    // Opens the named top-level menu and gives its items, or none.
    std::optional<std::vector<UiaMenuItem>> open_menu(HWND window, const std::string& name);
    // True when the element ran.
    bool invoke(const std::shared_ptr<void>& element);

private:
    // The thread's automation object, made on first use; none (logged) when
    // UI Automation cannot be started.
    uia::Automation* automation();

    ComRef<uia::Automation> automation_;
};

}  // namespace vorlix
