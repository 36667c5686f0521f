// What the stream thread needs of the PC's screen: the primary monitor,
// whether a locked screen or a secure desktop keeps the picture away, and
// the two ways of opening a capture back-end.
#pragma once

#include <string_view>

#include "capture/capture.h"
#include "util/result.h"

namespace vorlix {

enum class ScreenBlock { none, screen_locked, secure_desktop };

// The wire name of a block reason ("screenLocked", "secureDesktop"); "" for none.
std::string_view screen_block_name(ScreenBlock block);

class CaptureSystem {
public:
    virtual ~CaptureSystem() = default;
    virtual MonitorInfo primary_monitor() = 0;
    virtual ScreenBlock screen_block_reason() = 0;
    // Desktop Duplication, or GDI as the fallback; the error is GDI's.
    virtual Result<CaptureBackendPtr> open_capture(const MonitorInfo& monitor) = 0;
    // Desktop Duplication of the monitor's size, or none; never logs.
    virtual CaptureBackendPtr open_desktop_duplication(const MonitorInfo& monitor) = 0;
};

}  // namespace vorlix
