#include "reach/wake_targets.h"

#include <algorithm>

#include "host/text_checks.h"
#include "net/ip_address.h"

namespace vorlix {

namespace {

bool is_private_v4(const std::array<std::uint8_t, 4>& a) {
    return a[0] == 10 || (a[0] == 172 && a[1] >= 16 && a[1] <= 31) || (a[0] == 192 && a[1] == 168);
}

}  // namespace

WakeTargets collect_wake_targets(const std::vector<std::string>& mac_addresses,
                                 const std::vector<std::string>& addresses) {
    WakeTargets targets;
    for (const std::string& text : mac_addresses) {
        auto mac = parse_mac_address(text);
        if (!mac) continue;
        if (std::find(targets.mac_addresses.begin(), targets.mac_addresses.end(), *mac) !=
            targets.mac_addresses.end()) {
            continue;
        }
        if (targets.mac_addresses.size() == kMaxWakeMacAddresses) break;
        targets.mac_addresses.push_back(*mac);
    }
    for (const std::string& text : addresses) {
        if (text.size() > 15) continue;
        auto parsed = IpAddress::parse(text);
        if (!parsed || !parsed->is_v4()) continue;
        std::array<std::uint8_t, 4> v4{parsed->bytes[0], parsed->bytes[1], parsed->bytes[2], parsed->bytes[3]};
        if (!is_private_v4(v4)) continue;
        if (std::find(targets.addresses.begin(), targets.addresses.end(), v4) != targets.addresses.end()) continue;
        if (targets.addresses.size() == kMaxWakeAddresses) break;
        targets.addresses.push_back(v4);
    }
    return targets;
}

}  // namespace vorlix
