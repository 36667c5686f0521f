// The reach operations of WindowsPlatform on this system: the adapter list,
// the DNS-SD announcement where the system has no DNS-SD (Wine), and magic
// packets sent to a UDP listener of the test's own on loopback.
#include <windows.h>

#include <gtest/gtest.h>

#include "reach/wake_on_lan.h"
#include "storage/log_capture.h"
#include "support/udp_listener.h"
#include "win/platform.h"
#include "win/reach/reach_windows.h"

namespace vorlix {
namespace {

using namespace std::chrono_literals;

TEST(ReachPlatform, AddressesAndMacAddressesComeFromTheAdapterList) {
    auto platform = platform_new(DataFolder{"C:\\x", 0});
    const std::vector<AdapterRecord> adapters = read_adapter_records();
    EXPECT_FALSE(adapters.empty());
    EXPECT_EQ(platform->local_addresses(), local_addresses_of(adapters));
    const MacAddressList macs = platform->mac_addresses();
    EXPECT_EQ(macs.mac_addresses, mac_addresses_of(adapters).mac_addresses);
    EXPECT_EQ(macs.addresses, mac_addresses_of(adapters).addresses);
}

TEST(ReachPlatform, WithoutDnsSdTheHostIsNotAnnouncedAndRunsOn) {
    // Where the system has DNS-SD this would announce on the local network.
    if (dns_sd_available()) GTEST_SKIP() << "this system has DNS-SD";
    SetEnvironmentVariableW(L"VORLIX_DNS_SD", nullptr);
    test::LogCapture log;
    auto platform = platform_new(DataFolder{"C:\\x", 0});
    platform->advertise("Test PC", 47910, {{"id", "0123456789ab"}, {"model", "Test"}});
    stop_advertising();
    EXPECT_EQ(log.messages(), "Bonjour: DnsServiceConstructInstance failed (Windows 10 1809 or later is needed)\n");
}

struct WakeTo {
    explicit WakeTo(const std::wstring& value) { SetEnvironmentVariableW(L"VORLIX_WAKE_TO", value.c_str()); }
    ~WakeTo() { SetEnvironmentVariableW(L"VORLIX_WAKE_TO", nullptr); }
};

TEST(ReachPlatform, MagicPacketsReachALoopbackListenerWhole) {
    test::UdpListener listener;
    ASSERT_NE(listener.port(), 0);
    auto platform = platform_new(DataFolder{"C:\\x", 0});
    const WakeTargets targets{{{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}}, {{192, 168, 1, 20}}};
    {
        WakeTo to(L"127.0.0.1:" + std::to_wstring(listener.port()));
        EXPECT_TRUE(platform->send_wake_packets(targets));
    }
    const std::vector<Bytes> received = listener.receive(18, 2s);
    ASSERT_EQ(received.size(), 18u);
    for (const Bytes& datagram : received) EXPECT_EQ(datagram, magic_packet(targets.mac_addresses[0]));

    // A destination that does not read sends nothing at all.
    WakeTo broken(L"localhost");
    EXPECT_FALSE(platform->send_wake_packets(targets));
    EXPECT_TRUE(listener.receive(1, 300ms).empty());
}

}  // namespace
}  // namespace vorlix
