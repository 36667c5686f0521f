// A web link split into what the HTTP client needs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vorlix {

struct WebLink {
    std::string host;  // as written; the brackets of an IPv6 literal removed
    std::uint16_t port = 0;
    bool secure = false;
    std::string path;  // from the first "/" after the host, query included
    bool operator==(const WebLink&) const = default;
};

// "http://" or "https://" (any case), an authority without "@" of host or
// host ":" port (host may be a bracketed IPv6 literal), then the path.
std::optional<WebLink> parse_web_link(std::string_view text);

}  // namespace vorlix
