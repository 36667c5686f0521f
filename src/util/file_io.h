// Whole-file reading and writing for the small files of the data folder.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "util/result.h"

namespace vorlix {

// The whole content of a file; an error when it does not exist or cannot be read.
Result<std::string> read_whole_file(const std::filesystem::path& path);

// Creates the file or replaces its whole content.
Status write_whole_file(const std::filesystem::path& path, std::string_view content);

// Moves `from` over `to`, replacing an existing `to`.
Status replace_file(const std::filesystem::path& from, const std::filesystem::path& to);

// The file name of a path as UTF-8 text, for messages.
std::string path_text(const std::filesystem::path& path);

}  // namespace vorlix

namespace vorlix {

// Renames a file that cannot be used to "{name}.{date}.{reason}" in the same
// folder (adding "-2", "-3", ... when that name is taken), so that nothing
// written later replaces it. Gives the new path.
Result<std::filesystem::path> set_file_aside(const std::filesystem::path& path, std::string_view reason);

}  // namespace vorlix
