// Opening links and files with the shell, showing a file in Explorer, and
// the user's known folders.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vorlix {

// Runs the shell's "open" on `file` (with `parameters`) on a new thread
// "vorlix-shell" and waits for it; true when the shell accepted it.
bool run_in_shell_thread(const std::wstring& file, const std::optional<std::wstring>& parameters);

// The body of the "vorlix-shell" thread.
bool open_in_shell_thread(const std::wstring& file, const std::optional<std::wstring>& parameters);

// Opens a link or a path (UTF-8) with the shell.
bool open_url(const std::string& link);

// Opens Explorer on the folder with the file selected.
bool reveal_in_explorer(const std::filesystem::path& path);

// Opens the crash log in Notepad, else shows it in Explorer.
bool reveal_crash_log(const std::filesystem::path& path);

// The path of a known folder; none when the system has none.
std::optional<std::filesystem::path> known_folder_path(REFKNOWNFOLDERID id);

// Where received files land; never fails.
std::filesystem::path downloads_folder();

// The zero to three folders where screenshots and screen recordings land.
std::vector<std::filesystem::path> find_screenshots_folder();

}  // namespace vorlix
