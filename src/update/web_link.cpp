#include "update/web_link.h"

#include <algorithm>
#include <charconv>

namespace vorlix {
namespace {

bool has_scheme(std::string_view text, std::string_view scheme) {
    return text.size() >= scheme.size() &&
           std::equal(scheme.begin(), scheme.end(), text.begin(), [](char want, char c) {
               return want == ((c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c);
           });
}

std::optional<std::uint16_t> parse_port(std::string_view text) {
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    unsigned value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    if (value > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

}  // namespace

std::optional<WebLink> parse_web_link(std::string_view text) {
    WebLink link;
    if (has_scheme(text, "https://")) {
        link.secure = true;
        link.port = 443;
        text.remove_prefix(8);
    } else if (has_scheme(text, "http://")) {
        link.port = 80;
        text.remove_prefix(7);
    } else {
        return std::nullopt;
    }
    const std::size_t slash = text.find('/');
    const std::string_view authority = text.substr(0, slash);
    link.path = slash == std::string_view::npos ? "/" : std::string(text.substr(slash));
    if (authority.empty() || authority.find('@') != std::string_view::npos) return std::nullopt;

    std::string_view host = authority;
    if (authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos || close == 1) return std::nullopt;
        host = authority.substr(1, close - 1);
        const std::string_view rest = authority.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return std::nullopt;
            const auto port = parse_port(rest.substr(1));
            if (!port) return std::nullopt;
            link.port = *port;
        }
    } else if (const std::size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        const auto port = parse_port(authority.substr(colon + 1));
        if (!port || host.empty() || host.find(':') != std::string_view::npos) return std::nullopt;
        link.port = *port;
    }
    link.host = std::string(host);
    return link;
}

}  // namespace vorlix
