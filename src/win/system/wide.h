// UTF-16 text of the system calls and the program's UTF-8 text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vorlix {

// The units up to the first NUL (or all of them) as UTF-8, invalid
// sequences replaced with U+FFFD.
std::string wide_to_string(const wchar_t* units, std::size_t count);
std::string wide_to_string(std::wstring_view text);

// UTF-8 text as UTF-16 for the system (invalid sequences replaced).
std::wstring to_wide(std::string_view text);

// The system's message text for an error code, without the trailing line
// break, e.g. "Access is denied. (os error 5)".
std::string system_error_text(unsigned long code);

}  // namespace vorlix
