#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "win/reach/reach_windows.h"
#include "win/system/wide.h"

namespace vorlix {

namespace {

constexpr ULONG kAdapterFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;

std::optional<IpAddress> address_of(const SOCKET_ADDRESS& socket_address) {
    const sockaddr* address = socket_address.lpSockaddr;
    if (!address) return std::nullopt;
    if (address->sa_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(address);
        const auto* b = reinterpret_cast<const std::uint8_t*>(&in->sin_addr);
        return IpAddress::v4(b[0], b[1], b[2], b[3]);
    }
    if (address->sa_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
        std::array<std::uint8_t, 16> bytes{};
        std::memcpy(bytes.data(), &in6->sin6_addr, 16);
        return IpAddress::v6(bytes);
    }
    return std::nullopt;
}

}  // namespace

std::vector<AdapterRecord> read_adapter_records() {
    const auto buffer = read_adapter_buffer([](std::uint64_t* words, std::uint32_t& size) {
        ULONG length = size;
        const ULONG answer = GetAdaptersAddresses(AF_UNSPEC, kAdapterFlags, nullptr,
                                                  reinterpret_cast<IP_ADAPTER_ADDRESSES*>(words), &length);
        size = length;
        return static_cast<std::uint32_t>(answer);
    });
    std::vector<AdapterRecord> adapters;
    if (!buffer) return adapters;
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer->data()); adapter;
         adapter = adapter->Next) {
        AdapterRecord record;
        record.up = adapter->OperStatus == IfOperStatusUp;
        record.if_type = adapter->IfType;
        const ULONG length = std::min<ULONG>(adapter->PhysicalAddressLength, MAX_ADAPTER_ADDRESS_LENGTH);
        record.physical_address.assign(adapter->PhysicalAddress, adapter->PhysicalAddress + length);
        if (adapter->Description) record.description = wide_to_string(adapter->Description, std::wcslen(adapter->Description));
        for (auto* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next) {
            if (auto address = address_of(unicast->Address)) record.unicast.push_back(*address);
        }
        adapters.push_back(std::move(record));
    }
    return adapters;
}

std::vector<IpAddress> list_local_addresses() { return local_addresses_of(read_adapter_records()); }

MacAddressList list_mac_addresses() { return mac_addresses_of(read_adapter_records()); }

}  // namespace vorlix
