// Which computer a `wakeOther` request wakes: the MAC addresses to put into
// magic packets and the private IPv4 addresses to send them to.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "host/platform.h"

namespace vorlix {

constexpr std::size_t kMaxWakeMacAddresses = 8;
constexpr std::size_t kMaxWakeAddresses = 8;

// Reads the device's texts in order: up to 8 distinct MAC addresses (colon,
// dash or plain hexadecimal forms), and up to 8 distinct private IPv4
// addresses (10/8, 172.16/12, 192.168/16) in dotted decimal. Everything else
// is skipped.
WakeTargets collect_wake_targets(const std::vector<std::string>& mac_addresses,
                                 const std::vector<std::string>& addresses);

}  // namespace vorlix
