// What the PC is called and what it is, read from Windows on every call.
#pragma once

#include <optional>
#include <string>

namespace vorlix {

// The DNS host name, else COMPUTERNAME, else "Windows PC".
std::string read_computer_name();

// "Windows PC" with the BIOS manufacturer and product when they are real.
std::string read_computer_model();

// A text value of HKLM\HARDWARE\DESCRIPTION\System\BIOS, trimmed; none for
// a missing, too long, empty or placeholder value.
std::optional<std::string> read_bios_value(const wchar_t* name);

}  // namespace vorlix
