// The reach services on Windows: the adapter list (GetAdaptersAddresses),
// the process's one DNS-SD registration (the DNS-SD functions of Windows 10
// 1809, looked up at run time) and Wake-on-LAN over a UDP socket.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/platform.h"
#include "reach/adapters.h"
#include "reach/dns_sd.h"

namespace vorlix {

// The adapters as GetAdaptersAddresses lists them (unicast addresses only);
// empty when the call fails.
std::vector<AdapterRecord> read_adapter_records();
std::vector<IpAddress> list_local_addresses();
MacAddressList list_mac_addresses();

// The DNS-SD calls of this system; without them every registration answers
// Unavailable.
std::shared_ptr<DnsSdSystem> windows_dns_sd();
bool dns_sd_available();

// The process's registration slot. VORLIX_DNS_SD=off leaves the host
// unannounced (test runs of the program).
void start_advertising(const std::string& name, const std::string& host_name, std::uint16_t port,
                       const TxtPairs& pairs);
void stop_advertising();

// Sends the magic packets from a UDP socket. VORLIX_WAKE_TO ("a.b.c.d:port")
// sends every packet to that destination instead; a value that does not
// read as one sends nothing.
bool send_wake_packets_by_udp(const WakeTargets& targets);

}  // namespace vorlix
