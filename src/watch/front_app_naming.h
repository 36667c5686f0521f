// How the app in front is named: its bundle id is the executable's file name
// in lower case; its name is the version resource's FileDescription, else its
// ProductName, else the file name without ".exe" (or ".EXE").
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "app/version_resource.h"
#include "control/messages.h"

namespace vorlix {

// Reads one text of the executable's version resource by key; none when absent.
using VersionReader = std::function<std::optional<std::string>(const std::string& key)>;

// The front app of the executable at `path` (UTF-8, "\" separated).
control::FrontApp name_front_app(std::string_view path, const VersionReader& version);

// Remembers the front app last reported, behind its own lock.
class FrontAppMemory {
public:
    // Stores it without reporting (a session's starting point).
    void set(std::optional<control::FrontApp> app);
    // True (and stored) when it differs from the one last stored.
    bool replace_if_changed(const control::FrontApp& app);

private:
    std::mutex mutex_;
    std::optional<control::FrontApp> app_;
};

}  // namespace vorlix
