// One entry of a Windows folder listing as the screenshots watcher sees it.
#pragma once

#include <windows.h>

#include <filesystem>

#include "files/screenshots_watch.h"

namespace vorlix {

// The entry for what FindFirstFileW/FindNextFileW found in `folder`. Only
// reparse points whose tag is a name surrogate (symbolic links, junctions)
// count as links; others, such as cloud placeholders, are plain files.
FolderEntry folder_entry_from(const std::filesystem::path& folder, const WIN32_FIND_DATAW& data);

}  // namespace vorlix
