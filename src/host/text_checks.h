// Checks on texts that come from a device before the host acts on them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vorlix {

using MacAddress = std::array<std::uint8_t, 6>;

// True for a link that may be handed to the shell: 1 to 8192 bytes, no
// control, space, white-space or double-quote character, and beginning with
// "http://", "https://" or "mailto:" in any letter case.
bool is_openable_link(std::string_view text);

// Six bytes from "aa:bb:cc:dd:ee:ff", "AA-BB-CC-DD-EE-FF" or "aabbccddeeff";
// nothing for any other form.
std::optional<MacAddress> parse_mac_address(std::string_view text);

}  // namespace vorlix
