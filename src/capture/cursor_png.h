// A pointer picture as PNG (8-bit RGBA, no interlace), for the `cursorShape`
// message.
#pragma once

#include <optional>

#include "cursor/cursor.h"
#include "util/bytes.h"

namespace vorlix {

// The PNG file of the picture, or nothing for an empty or inconsistent one.
std::optional<Bytes> cursor_png(const CursorImage& image);

}  // namespace vorlix
