#include "reach/adapters.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "app/text.h"

namespace vorlix {

namespace {

// Descriptions of adapters that are virtual, tunnels or Bluetooth.
constexpr std::array<std::string_view, 10> kSkippedAdapterWords = {
    "hyper-v", "virtualbox", "vmware", "virtual ethernet", "tap-",
    "wintun",  "wireguard",  "tailscale", "zerotier", "bluetooth"};

constexpr std::uint32_t kBufferTooSmall = 111;

template <typename T>
void append_once(std::vector<T>& list, T value) {
    if (std::find(list.begin(), list.end(), value) == list.end()) list.push_back(std::move(value));
}

bool is_physical(const AdapterRecord& adapter) {
    if (!adapter.up) return false;
    if (adapter.if_type != kIfTypeEthernet && adapter.if_type != kIfTypeWireless) return false;
    if (adapter.physical_address.size() != 6) return false;
    const std::string description = unicode_lower(adapter.description);
    return std::none_of(kSkippedAdapterWords.begin(), kSkippedAdapterWords.end(),
                        [&](std::string_view word) { return description.find(word) != std::string::npos; });
}

std::string mac_text(const std::vector<std::uint8_t>& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t byte : bytes) {
        if (!text.empty()) text += ':';
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

bool wakes_nothing(const IpAddress& address) {
    if (address.is_v4()) return false;
    const auto& b = address.bytes;
    const bool loopback = std::all_of(b.begin(), b.end() - 1, [](std::uint8_t x) { return x == 0; }) && b[15] == 1;
    const bool link_local = b[0] == 0xFE && (b[1] & 0xC0) == 0x80;
    return loopback || link_local;
}

}  // namespace

std::vector<IpAddress> local_addresses_of(const std::vector<AdapterRecord>& adapters) {
    std::vector<IpAddress> addresses;
    for (const AdapterRecord& adapter : adapters) {
        if (!adapter.up) continue;
        for (const IpAddress& address : adapter.unicast) append_once(addresses, address);
    }
    return addresses;
}

MacAddressList mac_addresses_of(const std::vector<AdapterRecord>& adapters) {
    MacAddressList list;
    for (const AdapterRecord& adapter : adapters) {
        if (!is_physical(adapter)) continue;
        append_once(list.mac_addresses, mac_text(adapter.physical_address));
        for (const IpAddress& address : adapter.unicast) {
            if (!wakes_nothing(address)) append_once(list.addresses, address.to_text());
        }
    }
    return list;
}

std::optional<std::vector<std::uint64_t>> read_adapter_buffer(const AdapterListCall& call) {
    std::uint32_t size = kAdapterBufferBytes;
    for (int calls = 0; calls < kAdapterListCalls; ++calls) {
        std::vector<std::uint64_t> buffer((size + 7) / 8);
        size = static_cast<std::uint32_t>(buffer.size() * 8);
        const std::uint32_t answer = call(buffer.data(), size);
        if (answer == 0) return buffer;
        if (answer != kBufferTooSmall) return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace vorlix
