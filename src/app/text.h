// Small text helpers of the program entry and the system services: UTF-8
// and UTF-16 conversion with replacement of invalid sequences, Unicode
// lower-casing, white-space trimming and paths from UTF-8 text.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace vorlix {

// The UTF-16 units up to the first NUL (or all `count` units when there is
// none) as UTF-8; unpaired surrogates become U+FFFD.
std::string utf16_to_utf8(const char16_t* units, std::size_t count);
std::string utf16_to_utf8(std::u16string_view units);

// UTF-8 text as UTF-16; invalid sequences become U+FFFD.
std::u16string utf8_to_utf16(std::string_view text);

// True when the bytes are well-formed UTF-8.
bool is_valid_utf8(std::string_view text);

// The full Unicode lower-case mapping of UTF-8 text (one code point may
// become several, and a capital sigma at the end of a word becomes the
// final small sigma). Invalid sequences become U+FFFD.
std::string unicode_lower(std::string_view text);

// The text without Unicode white space at either end.
std::string_view trim_unicode_space(std::string_view text);

// A path from UTF-8 text, and the UTF-8 text of a path, on every system
// (on Windows a plain std::string would be read in the ANSI code page).
std::filesystem::path path_from_utf8(std::string_view text);
std::string path_to_utf8(const std::filesystem::path& path);

}  // namespace vorlix
