// The keyboard layout of the window in front, as the device labels its own
// keyboard with it: a display name, the language's locale name, the kind of
// input method, and the text 47 character keys type plain and with Shift.
// The rules are here; the system calls they need come through LayoutSystem.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/platform.h"

namespace vorlix::input {

// The Mac key codes probed, row by row of the keyboard.
extern const std::array<std::uint16_t, 47> LAYOUT_KEYS;

class LayoutSystem {
public:
    virtual ~LayoutSystem() = default;
    // LCIDToLocaleName of the language id, or none.
    virtual std::optional<std::string> locale_name(std::uint16_t language) = 0;
    // A string value under HKEY_LOCAL_MACHINE, or none.
    virtual std::optional<std::string> registry_value(const std::string& subkey, const std::string& value) = 0;
    // The names of the subkeys of the layouts' registry key, in order.
    virtual std::vector<std::string> layout_subkeys() = 0;
    // SHLoadIndirectString of a text, or none.
    virtual std::optional<std::string> indirect_string(const std::string& text) = 0;
    // GetLocaleInfoEx (LOCALE_SLOCALIZEDDISPLAYNAME) of a locale name, or none.
    virtual std::optional<std::string> localized_name(const std::string& language) = 0;
    // What ToUnicodeEx gives for the virtual key, plain or with Shift: its
    // result and the units written (a dead key is cleared by the system side).
    virtual std::pair<int, std::u16string> key_units(std::uint16_t vk, bool shift) = 0;
};

constexpr const char* LAYOUTS_KEY = "SYSTEM\\CurrentControlSet\\Control\\Keyboard Layouts";

// The text of one probed key: a dead key gives its own character; units
// that do not form UTF-16 become U+FFFD; control characters are dropped;
// nothing or only white space gives an empty text.
std::string key_text(int result, const std::u16string& units);

// The layout of a keyboard layout handle (its low 32 bits).
KeyboardLayout build_keyboard_layout(std::uint32_t handle, LayoutSystem& system);

}  // namespace vorlix::input
