// The user's lasting choices: "settings.json" in the data folder, one JSON
// object. The host knows one member, autoInstallUpdates; members it does not
// know are kept when it writes the file.
#pragma once

#include <filesystem>

#include "json/json.h"
#include "util/result.h"

namespace vorlix {

// The members of "settings.json" as an object (sorted by name; a name given
// twice keeps its last value). A missing, unreadable or malformed file, or one
// that is not an object, gives an empty object. Never fails.
Json read_settings(const std::filesystem::path& folder);

// autoInstallUpdates of the settings: its value when it is a boolean, else true.
bool auto_install_updates(const Json& settings);

// Sets autoInstallUpdates, keeping every other member, and writes the file
// (two-space indent) through "settings.json.tmp". Creates the folder when needed.
Status save_auto_install_setting(const std::filesystem::path& folder, bool on);

}  // namespace vorlix
