// The MAC and IP address texts of a device's `wakeOther` request: lines
// before a line "--" are MAC texts, the lines after it addresses. Whatever
// is kept must be at most eight distinct MAC addresses and at most eight
// distinct private IPv4 addresses. Nothing is sent: the target only parses
// the addresses and works out where a magic packet would go.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "reach/wake_on_lan.h"
#include "reach/wake_targets.h"

namespace {

template <typename T>
bool distinct(const std::vector<T>& list) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (std::find(list.begin() + static_cast<std::ptrdiff_t>(i) + 1, list.end(), list[i]) != list.end()) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> macs;
    std::vector<std::string> addresses;
    bool after = false;
    std::string line;
    const auto take = [&] {
        if (!after && line == "--") {
            after = true;
        } else {
            (after ? addresses : macs).push_back(line);
        }
        line.clear();
    };
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '\n') {
            take();
        } else {
            line += static_cast<char>(data[i]);
        }
    }
    take();
    const vorlix::WakeTargets targets = vorlix::collect_wake_targets(macs, addresses);
    if (targets.mac_addresses.size() > vorlix::kMaxWakeMacAddresses || !distinct(targets.mac_addresses)) std::abort();
    if (targets.addresses.size() > vorlix::kMaxWakeAddresses || !distinct(targets.addresses)) std::abort();
    for (const auto& a : targets.addresses) {
        const bool is_private = a[0] == 10 || (a[0] == 172 && a[1] >= 16 && a[1] <= 31) || (a[0] == 192 && a[1] == 168);
        if (!is_private) std::abort();
    }
    const auto destinations = vorlix::wake_broadcast_targets(targets.addresses);
    if (destinations.empty() || destinations.back() != vorlix::Ipv4Address{255, 255, 255, 255} ||
        destinations.size() > 2 * targets.addresses.size() + 1 || !distinct(destinations)) {
        std::abort();
    }
    return 0;
}
