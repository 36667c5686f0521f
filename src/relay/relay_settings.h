// Where the relays are: the relay settings the host holds (fixed in the
// program; nothing changes them) and the list of relays they give.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vorlix {

// The relay port, the same on every relay host.
inline constexpr unsigned kRelayPort = 47920;

struct RelaySettings {
    std::string relay_address;  // host:port
    std::string watch_relay_url;
    std::string watch_page_url;
    std::optional<std::string> second_relay_address;
};

// One relay: its name ("main" or "hk") and the host:port texts tried in turn.
struct RelayEndpoint {
    std::string name;
    std::vector<std::string> addresses;
    bool operator==(const RelayEndpoint&) const = default;
};

RelaySettings relay_defaults();
std::vector<RelayEndpoint> builtin_relay_endpoints();
RelayEndpoint first_builtin_relay();

// The relays of the session registration: the built-in list while
// relay_address is the default, else "main" with that one address and "hk"
// with the second address when there is one.
std::vector<RelayEndpoint> relay_endpoints(const RelaySettings& settings);

// The relay of the watch-link registration; the second relay never carries
// watch links.
RelayEndpoint main_relay_endpoint(const RelaySettings& settings);

void append_second_relay(std::vector<RelayEndpoint>& list, const std::optional<std::string>& address);

}  // namespace vorlix
