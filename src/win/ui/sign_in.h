// Open at sign-in: the per-user Run value "VorLix" that starts the program
// hidden when the user signs in, and Windows' own switch-off of it
// (StartupApproved). Every question reads the registry afresh.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace vorlix {

// Windows switched the entry off in its start-up settings.
bool sign_in_disabled();
// The Run value's text; none when missing, of another type or too long.
std::optional<std::string> read_run_value();
// "\"<this program's path>\" --hidden"; none without a path.
std::optional<std::string> expected_run_data();
// On: the Run value exists and is not switched off.
bool sign_in_state();
// Writes the Run value with the expected data; false (and logged) on failure.
bool sign_in_write();
// Turns the entry on (clearing a switch-off) or off.
void sign_in_set(bool on);
// At start-up: on for a new install, re-pointed when the program moved.
void sign_in_repoint(const std::filesystem::path& data_folder, bool new_install);

}  // namespace vorlix
