// Choosing a capture back-end: Desktop Duplication normally, GDI when it is
// asked for, when the duplication cannot be opened, or when its size is not
// the monitor's; and the quiet attempt to go back to Desktop Duplication.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "capture/capture.h"
#include "util/result.h"

namespace vorlix {

struct CaptureOpeners {
    std::function<Result<CaptureBackendPtr>(const MonitorInfo&)> open_gdi;
    std::function<CaptureResult<CaptureBackendPtr>(const MonitorInfo&)> open_duplication;
    std::function<void(std::string_view)> log;
};

// Whether the value of VORLIX_CAPTURE forces GDI: only "gdi" exactly does.
bool capture_forced_to_gdi(const std::optional<std::string>& value);

// The back-end for the monitor, or the GDI opening's error.
Result<CaptureBackendPtr> choose_capture(const MonitorInfo& monitor, bool forced_gdi,
                                         const CaptureOpeners& openers);

// A Desktop Duplication back-end of the monitor's size, or none; never logs.
CaptureBackendPtr choose_desktop_duplication(const MonitorInfo& monitor, bool forced_gdi,
                                             const CaptureOpeners& openers);

}  // namespace vorlix
