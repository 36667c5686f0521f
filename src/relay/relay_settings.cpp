#include "relay/relay_settings.h"

#include "app/web_host.h"

namespace vorlix {

namespace {

constexpr const char* kMainHost = "relay.vorlix.net";
constexpr const char* kMainFallbackHost = "relay-direct.vorlix.net";
constexpr const char* kSecondHost = "relay-hk.vorlix.net";
constexpr const char* kSecondFallbackHost = "relay-hk-direct.vorlix.net";

std::string with_port(const char* host) { return std::string(host) + ":" + std::to_string(kRelayPort); }

}  // namespace

RelaySettings relay_defaults() {
    return RelaySettings{with_port(kMainHost), std::string("wss://") + kMainHost + "/watch",
                         std::string(kWatchPageUrl), std::nullopt};
}

std::vector<RelayEndpoint> builtin_relay_endpoints() {
    return {RelayEndpoint{"main", {with_port(kMainHost), with_port(kMainFallbackHost)}},
            RelayEndpoint{"hk", {with_port(kSecondHost), with_port(kSecondFallbackHost)}}};
}

RelayEndpoint first_builtin_relay() { return builtin_relay_endpoints().front(); }

std::vector<RelayEndpoint> relay_endpoints(const RelaySettings& settings) {
    if (settings.relay_address == relay_defaults().relay_address) return builtin_relay_endpoints();
    std::vector<RelayEndpoint> list{RelayEndpoint{"main", {settings.relay_address}}};
    append_second_relay(list, settings.second_relay_address);
    return list;
}

RelayEndpoint main_relay_endpoint(const RelaySettings& settings) {
    if (settings.relay_address == relay_defaults().relay_address) return first_builtin_relay();
    return RelayEndpoint{"main", {settings.relay_address}};
}

void append_second_relay(std::vector<RelayEndpoint>& list, const std::optional<std::string>& address) {
    if (address) list.push_back(RelayEndpoint{"hk", {*address}});
}

}  // namespace vorlix
