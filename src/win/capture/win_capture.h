// The Windows side of screen capture: the primary monitor, the locked-screen
// and secure-desktop test, GDI capture and Desktop Duplication capture.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "capture/capture.h"
#include "capture/capture_system.h"
#include "capture/cursor_report.h"
#include "util/result.h"

namespace vorlix {

using CaptureLog = std::function<void(std::string_view)>;

MonitorInfo primary_monitor();
ScreenBlock screen_block_reason();

// GDI capture of the monitor's rectangle ("CreateDIBSection: ..." on failure).
Result<CaptureBackendPtr> open_gdi_capture(const MonitorInfo& monitor);
// Desktop Duplication of the output that shows the monitor.
CaptureResult<CaptureBackendPtr> create_duplication(const MonitorInfo& monitor);

// Desktop Duplication, or GDI (when VORLIX_CAPTURE is "gdi", when the
// duplication cannot be opened or has another size); lines go to `log`.
Result<CaptureBackendPtr> open_capture(const MonitorInfo& monitor, const CaptureLog& log);
CaptureBackendPtr open_desktop_duplication(const MonitorInfo& monitor);

// The capture system the stream thread uses on this PC.
std::unique_ptr<CaptureSystem> make_windows_capture_system(CaptureLog log);

// Draws the showing system pointer into a device context whose origin is the
// screen point (left, top), at its hot spot; draws nothing on any failure.
void draw_cursor_into(HDC dc, LONG left, LONG top);

// The picture of a cursor handle, from its icon's colour and mask bitmaps.
std::optional<CursorImage> cursor_icon_to_rgba(std::uintptr_t cursor);

// The system pointer for the cursor reporter; `last_move` tells when the
// device last moved the pointer relatively (none when nothing tells).
std::unique_ptr<PointerSource> make_windows_pointer_source(std::function<std::optional<Instant>()> last_move);

// The value of an environment variable, when it is set and valid text.
std::optional<std::string> read_environment(const wchar_t* name);

}  // namespace vorlix
