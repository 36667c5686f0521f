// The rules behind the PC's model text and the shell's folders, kept apart
// from the system calls that feed them.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlix {

// A BIOS text as read (UTF-8): trimmed, and none when it is empty or one of
// the placeholders firmware vendors leave in.
std::optional<std::string> clean_bios_text(std::string_view raw);

// "Windows PC", "Windows PC (product)" or "Windows PC (manufacturer product)".
std::string model_text(const std::optional<std::string>& manufacturer, const std::optional<std::string>& product);

// The first non-empty candidate name, else "Windows PC".
std::string choose_computer_name(const std::vector<std::optional<std::string>>& candidates);

// Downloads: the known folder, else USERPROFILE\Downloads, else ".".
std::filesystem::path downloads_folder_from(const std::optional<std::filesystem::path>& known,
                                            const std::optional<std::filesystem::path>& user_profile);

// Where screenshots and screen recordings land: the Screenshots folder (or
// Pictures\Screenshots), then Videos\Screen Recordings and Videos\Captures.
std::vector<std::filesystem::path> screenshots_folders_from(const std::optional<std::filesystem::path>& screenshots,
                                                            const std::optional<std::filesystem::path>& pictures,
                                                            const std::optional<std::filesystem::path>& videos);

// The Explorer parameters that open a folder with the file selected.
std::string reveal_parameters(const std::string& path_utf8);

}  // namespace vorlix
