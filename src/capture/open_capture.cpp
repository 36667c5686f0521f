#include "capture/open_capture.h"

#include <string>

namespace vorlix {

namespace {

bool has_monitor_size(const CaptureBackend& backend, const MonitorInfo& monitor) {
    const PictureSize size = backend.size();
    return monitor.width >= 0 && monitor.height >= 0 &&
           size.width == static_cast<std::size_t>(monitor.width) &&
           size.height == static_cast<std::size_t>(monitor.height);
}

}  // namespace

bool capture_forced_to_gdi(const std::optional<std::string>& value) {
    return value.has_value() && *value == "gdi";
}

Result<CaptureBackendPtr> choose_capture(const MonitorInfo& monitor, bool forced_gdi,
                                         const CaptureOpeners& openers) {
    if (forced_gdi) return openers.open_gdi(monitor);
    CaptureResult<CaptureBackendPtr> duplication = openers.open_duplication(monitor);
    if (!duplication) {
        openers.log("Desktop Duplication unavailable (" + debug_form(duplication.error()) +
                    "); using GDI capture");
        return openers.open_gdi(monitor);
    }
    CaptureBackendPtr backend = std::move(duplication).value();
    if (has_monitor_size(*backend, monitor)) return backend;
    const PictureSize size = backend->size();
    openers.log("Desktop Duplication size " + std::to_string(size.width) + "x" +
                std::to_string(size.height) + " differs from the monitor " +
                std::to_string(monitor.width) + "x" + std::to_string(monitor.height) +
                " (rotated?); using GDI");
    backend.reset();
    return openers.open_gdi(monitor);
}

CaptureBackendPtr choose_desktop_duplication(const MonitorInfo& monitor, bool forced_gdi,
                                             const CaptureOpeners& openers) {
    if (forced_gdi) return nullptr;
    CaptureResult<CaptureBackendPtr> duplication = openers.open_duplication(monitor);
    if (!duplication) return nullptr;
    CaptureBackendPtr backend = std::move(duplication).value();
    if (!has_monitor_size(*backend, monitor)) return nullptr;
    return backend;
}

}  // namespace vorlix
