#include "reach/adapters.h"

#include <gtest/gtest.h>

namespace vorlix {
namespace {

IpAddress ip(const char* text) { return *IpAddress::parse(text); }

TEST(Adapters, PhysicalAdaptersThatAreUpGiveMacAddressesAndAddresses) {
    const std::vector<std::uint8_t> wired{0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f};
    const std::vector<AdapterRecord> adapters{
        {true, kIfTypeEthernet, wired, "Intel(R) Ethernet", {ip("192.168.1.20"), ip("fe80::1"), ip("2001:db8::20")}},
        {true, kIfTypeWireless, {0, 1, 2, 3, 4, 5}, "", {ip("10.0.0.7"), ip("::1")}},
        {true, kIfTypeEthernet, {9, 9, 9, 9, 9, 1}, "HYPER-V Virtual Switch", {ip("172.20.0.1")}},
        {true, kIfTypeEthernet, {9, 9, 9, 9, 9, 2}, "Bluetooth Device (Personal Area Network)", {}},
        {true, kIfTypeEthernet, {9, 9, 9, 9, 9, 3}, "TAP-Windows Adapter V9", {}},
        {false, kIfTypeEthernet, {9, 9, 9, 9, 9, 4}, "Realtek PCIe GbE", {ip("192.168.5.5")}},
        {true, 24, {}, "Software Loopback Interface 1", {ip("127.0.0.1"), ip("::1")}},
        {true, 131, {9, 9, 9, 9, 9, 5}, "Teredo Tunneling", {ip("2001:0:1::5")}},
        {true, kIfTypeEthernet, {9, 9, 9, 9, 9, 6, 0, 0}, "FireWire", {}},
        // The same card twice: one MAC text, both adapters' addresses.
        {true, kIfTypeEthernet, wired, "Intel(R) Ethernet #2", {ip("192.168.1.21"), ip("192.168.1.20")}},
    };
    const MacAddressList list = mac_addresses_of(adapters);
    EXPECT_EQ(list.mac_addresses, (std::vector<std::string>{"0a:1b:2c:3d:4e:5f", "00:01:02:03:04:05"}));
    EXPECT_EQ(list.addresses, (std::vector<std::string>{"192.168.1.20", "2001:db8::20", "10.0.0.7", "192.168.1.21"}));
    // Every adapter that is up, loopback and link-local included, each address once.
    EXPECT_EQ(local_addresses_of(adapters),
              (std::vector<IpAddress>{ip("192.168.1.20"), ip("fe80::1"), ip("2001:db8::20"), ip("10.0.0.7"),
                                      ip("::1"), ip("172.20.0.1"), ip("127.0.0.1"), ip("2001:0:1::5"),
                                      ip("192.168.1.21")}));
}

TEST(Adapters, TheListBufferGrowsAtMostFourCalls) {
    const std::pair<std::vector<std::uint32_t>, bool> cases[] = {  // answers per call; read or not
        {{0}, true}, {{111, 111, 111, 0}, true}, {{111, 111, 111, 111}, false}, {{232}, false}, {{111, 87}, false}};
    for (const auto& [answers, read] : cases) {
        std::vector<std::uint32_t> sizes;
        const auto buffer = read_adapter_buffer([&, &answers = answers](std::uint64_t* words, std::uint32_t& size) {
            sizes.push_back(size);
            words[size / 8 - 1] = 1;  // the whole buffer is there
            if (answers[sizes.size() - 1] == 111) size += 20'001;
            return answers[sizes.size() - 1];
        });
        EXPECT_EQ(buffer.has_value(), read);
        ASSERT_EQ(sizes.size(), answers.size());
        EXPECT_EQ(sizes[0], kAdapterBufferBytes);
        // A grown buffer holds what was asked for, in whole 8-byte words.
        for (std::size_t i = 1; i < sizes.size(); ++i) EXPECT_EQ(sizes[i], (sizes[i - 1] + 20'001 + 7) / 8 * 8);
    }
}

}  // namespace
}  // namespace vorlix
