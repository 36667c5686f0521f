// The program's own version: compared with the update manifest, sent as the
// downloads' user agent, shown in the window's footer and the crash log.
// (The protocol's host version, "1.2", is a different text.)
#pragma once

#include <string_view>

namespace vorlix {

inline constexpr std::string_view kAppVersion = "1.3.3";

}  // namespace vorlix
