#include "reach/adapters.h"

#include <gtest/gtest.h>

namespace vorlix {
namespace {

IpAddress ip(const char* text) { return *IpAddress::parse(text); }

AdapterRecord adapter(bool up, std::uint32_t type, std::vector<std::uint8_t> mac, std::string description,
                      std::vector<IpAddress> unicast) {
    return AdapterRecord{up, type, std::move(mac), std::move(description), std::move(unicast)};
}

TEST(Adapters, PhysicalAdaptersThatAreUpGiveMacAddressesAndAddresses) {
    const std::vector<std::uint8_t> wired{0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f};
    const std::vector<AdapterRecord> adapters{
        adapter(true, kIfTypeEthernet, wired, "Intel(R) Ethernet Connection",
                {ip("192.168.1.20"), ip("fe80::1"), ip("2001:db8::20")}),
        adapter(true, kIfTypeWireless, {0, 1, 2, 3, 4, 5}, "", {ip("10.0.0.7"), ip("::1")}),
        adapter(true, kIfTypeEthernet, {9, 9, 9, 9, 9, 1}, "HYPER-V Virtual Switch", {ip("172.20.0.1")}),
        adapter(true, kIfTypeEthernet, {9, 9, 9, 9, 9, 2}, "Bluetooth Device (Personal Area Network)", {}),
        adapter(true, kIfTypeEthernet, {9, 9, 9, 9, 9, 3}, "TAP-Windows Adapter V9", {}),
        adapter(false, kIfTypeEthernet, {9, 9, 9, 9, 9, 4}, "Realtek PCIe GbE", {ip("192.168.5.5")}),
        adapter(true, 24, {}, "Software Loopback Interface 1", {ip("127.0.0.1"), ip("::1")}),
        adapter(true, 131, {9, 9, 9, 9, 9, 5}, "Teredo Tunneling", {ip("2001:0:1::5")}),
        adapter(true, kIfTypeEthernet, {9, 9, 9, 9, 9, 6, 0, 0}, "FireWire", {}),
        // The same card twice: one MAC text, both adapters' addresses.
        adapter(true, kIfTypeEthernet, wired, "Intel(R) Ethernet Connection #2", {ip("192.168.1.21"), ip("192.168.1.20")}),
    };
    const MacAddressList list = mac_addresses_of(adapters);
    EXPECT_EQ(list.mac_addresses, (std::vector<std::string>{"0a:1b:2c:3d:4e:5f", "00:01:02:03:04:05"}));
    EXPECT_EQ(list.addresses,
              (std::vector<std::string>{"192.168.1.20", "2001:db8::20", "10.0.0.7", "192.168.1.21"}));

    // Every adapter that is up, loopback and link-local included, each address once.
    EXPECT_EQ(local_addresses_of(adapters),
              (std::vector<IpAddress>{ip("192.168.1.20"), ip("fe80::1"), ip("2001:db8::20"), ip("10.0.0.7"),
                                      ip("::1"), ip("172.20.0.1"), ip("127.0.0.1"), ip("2001:0:1::5"),
                                      ip("192.168.1.21")}));
    EXPECT_TRUE(mac_addresses_of({}).mac_addresses.empty());
}

TEST(Adapters, TheListBufferGrowsAtMostFourCalls) {
    struct Case {
        std::vector<std::uint32_t> answers;  // per call; 111 asks for 20,001 bytes more each time
        bool read;
        std::size_t calls;
    } cases[] = {{{0}, true, 1}, {{111, 0}, true, 2}, {{111, 111, 111, 0}, true, 4},
                 {{111, 111, 111, 111}, false, 4}, {{232}, false, 1}, {{111, 87}, false, 2}};
    for (const Case& c : cases) {
        std::vector<std::uint32_t> sizes;
        const auto buffer = read_adapter_buffer([&](std::uint64_t* words, std::uint32_t& size) {
            sizes.push_back(size);
            words[size / 8 - 1] = 1;  // the whole buffer is there
            const std::uint32_t answer = c.answers[sizes.size() - 1];
            if (answer == 111) size += 20'001;
            return answer;
        });
        EXPECT_EQ(buffer.has_value(), c.read);
        ASSERT_EQ(sizes.size(), c.calls);
        EXPECT_EQ(sizes[0], kAdapterBufferBytes);
        // A grown buffer holds what was asked for, in whole 8-byte words.
        for (std::size_t i = 1; i < sizes.size(); ++i) EXPECT_EQ(sizes[i], (sizes[i - 1] + 20'001 + 7) / 8 * 8);
    }
}

}  // namespace
}  // namespace vorlix
