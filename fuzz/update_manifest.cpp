// Arbitrary update.json texts through the manifest reader and the pick of
// this build's download; every accepted entry must keep the manifest's rules.
#include <cstdint>
#include <cstdlib>

#include "update/manifest.h"

using namespace vorlix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Result<Manifest> manifest = parse_manifest(ByteView(data, size));
    if (!manifest) return 0;
    if (!parse_version(manifest->version)) std::abort();
    for (const auto& [key, d] : manifest->downloads) {
        if (d.size < 1 || d.size > kArchiveLimit || d.sha256.size() != 64 || !is_manifest_link(d.url)) std::abort();
    }
    if (auto pending = pick_newer_download(*manifest, kAppVersion, kUpdateBuildKey)) {
        if (!is_newer_version(pending->version, kAppVersion)) std::abort();
    }
    return 0;
}
