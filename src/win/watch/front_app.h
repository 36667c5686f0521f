// The app in front: the foreground window's process, named by its
// executable's version resource or file name.
#pragma once

#include <optional>
#include <string>

#include "host/platform.h"

namespace vorlix {

// The app owning the foreground window; none when there is no such window or
// its process cannot be opened or named.
std::optional<FrontApp> read_front_app();

// One text of an executable's version resource, trimmed; none when absent.
std::optional<std::string> read_version_string(const std::wstring& path, const std::string& key);

}  // namespace vorlix
