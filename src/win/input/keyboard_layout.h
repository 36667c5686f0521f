// The keyboard layout of the window in front, read from the system and kept
// for the last layout handle seen.
#pragma once

#include <optional>

#include "host/platform.h"

namespace vorlix {

// None when there is no window in front or its layout cannot be told.
std::optional<KeyboardLayout> read_keyboard_layout();

}  // namespace vorlix
