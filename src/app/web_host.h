// The maker's web host. Watch links open its watch page, updates come from
// its manifest, and the notice of a failed update sends people to it; all of
// them name this one host.
#pragma once

#include <string_view>

// A macro as well, so that the translation tables splice it into their texts.
#define VORLIX_WEB_HOST "vorlix.app"

namespace vorlix {

inline constexpr std::string_view kWebHost = VORLIX_WEB_HOST;
inline constexpr std::string_view kWatchPageUrl = "https://" VORLIX_WEB_HOST "/watch";
inline constexpr std::string_view kDefaultManifestLink = "https://" VORLIX_WEB_HOST "/download/windows/update.json";

}  // namespace vorlix
