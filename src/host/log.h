// The process-wide log writer: every line carries the UTC time of day and
// goes to standard error and, once opened, to the log file.
#pragma once

#include <filesystem>
#include <string_view>

namespace vorlix {

// Writes one line; never fails. Any thread may call it.
void log_line(std::string_view message);

// Opens (or replaces) the log file; a file that cannot be opened leaves the
// writer as it was.
void open_log_file(const std::filesystem::path& path);

}  // namespace vorlix
