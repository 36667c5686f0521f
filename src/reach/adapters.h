// The PC's network adapters as the system lists them, and the two answers
// the host gives about them: its unicast addresses, and the MAC addresses
// and addresses of its physical wired and wireless adapters (what a device
// needs to wake this PC later).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/platform.h"
#include "net/ip_address.h"

namespace vorlix {

// Interface types of wired Ethernet and of wireless adapters.
constexpr std::uint32_t kIfTypeEthernet = 6;
constexpr std::uint32_t kIfTypeWireless = 71;

// One adapter, in the system's order.
struct AdapterRecord {
    bool up = false;
    std::uint32_t if_type = 0;
    std::vector<std::uint8_t> physical_address;
    std::string description;  // UTF-8; empty when the system gives none
    std::vector<IpAddress> unicast;
};

// Every unicast address of the adapters that are up, each once.
std::vector<IpAddress> local_addresses_of(const std::vector<AdapterRecord>& adapters);

// The MAC texts ("0a:1b:2c:3d:4e:5f") of the physical adapters that are up
// and are not virtual, tunnel or Bluetooth adapters by their description,
// with the addresses of the same adapters (link-local and loopback IPv6
// left out), each text once.
MacAddressList mac_addresses_of(const std::vector<AdapterRecord>& adapters);

// The size of the first buffer and the most calls for the adapter list.
constexpr std::uint32_t kAdapterBufferBytes = 16'384;
constexpr int kAdapterListCalls = 4;

// Reads the adapter list into buffers of 8-byte words: `call` fills a
// buffer of `size` bytes and answers 0, or 111 (the buffer is too small,
// with the size it needs in `size`), or another error. The buffer grows to
// what the call asked for, at most four calls in all; none after any other
// error or a fourth overflow.
using AdapterListCall = std::function<std::uint32_t(std::uint64_t* buffer, std::uint32_t& size)>;
std::optional<std::vector<std::uint64_t>> read_adapter_buffer(const AdapterListCall& call);

}  // namespace vorlix
