// Grabs of the primary monitor through GDI and the two pictures made of
// them: the full-size PNG screenshot and the small JPEG preview.
#pragma once

#include <optional>

#include "capture/capture.h"
#include "pictures/pictures.h"

namespace vorlix {

// width x height BGRA pixels of the monitor's rectangle (scaled with
// HALFTONE when the size differs); the pointer is drawn in only when asked
// and the size is the monitor's own. Nothing for a size of 0 or a failed grab.
std::optional<Picture> grab_screen_with_cursor(const MonitorInfo& monitor, std::uint32_t width,
                                               std::uint32_t height, bool draw_cursor);

// The primary monitor at its size with the pointer, as a 24-bit PNG.
std::optional<Bytes> make_screenshot_png();
// The primary monitor at the preview size without the pointer, as JPEG 0.6.
std::optional<Bytes> make_preview_jpeg();

}  // namespace vorlix
