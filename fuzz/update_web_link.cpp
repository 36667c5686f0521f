// Arbitrary link texts through the web-link parser.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "update/web_link.h"

using namespace vorlix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<WebLink> link = parse_web_link(text);
    if (!link) return 0;
    if (link->path.empty() || link->path.front() != '/' || link->host.empty() ||
        link->host.find('@') != std::string::npos) {
        std::abort();
    }
    return 0;
}
