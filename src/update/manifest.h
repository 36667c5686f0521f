// The update manifest ("update.json"): the newest version and, per kind of
// PC, where its signed update archive lies. Reading it with every rule the
// host applies, the version text rule and the version comparison.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_version.h"
#include "util/bytes.h"
#include "util/result.h"

namespace vorlix {

// This build's key in the manifest's downloads.
inline constexpr std::string_view kUpdateBuildKey = "x64";
inline constexpr std::size_t kManifestLimit = 65536;
inline constexpr std::uint64_t kArchiveLimit = 67108864;

struct Download {
    std::string url;
    std::uint64_t size = 0;
    std::string sha256;
    std::string signature;
    bool operator==(const Download&) const = default;
};

struct Manifest {
    std::string version;
    std::map<std::string, Download> downloads;
};

// A newer version found in the manifest: the version as written there and
// this build's download.
struct PendingUpdate {
    std::string version;
    Download download;
    bool operator==(const PendingUpdate&) const = default;
};

Result<Manifest> parse_manifest(ByteView text);

// 1 to 4 dot-separated parts of an optional "+" and 1 to 9 characters in
// all, white space at both ends ignored.
std::optional<std::vector<std::uint32_t>> parse_version(std::string_view text);
// a newer than b; false when either is not a version.
bool is_newer_version(std::string_view a, std::string_view b);
// a and b name the same version (1.2 and 1.2.0 do); false when either is
// not a version.
bool is_same_version(std::string_view a, std::string_view b);

std::optional<PendingUpdate> pick_newer_download(const Manifest& manifest, std::string_view own_version,
                                                 std::string_view key);

// A download link as the manifest allows it: "http://" or "https://" (any
// case), no white space and no control character.
bool is_manifest_link(std::string_view url);

}  // namespace vorlix
