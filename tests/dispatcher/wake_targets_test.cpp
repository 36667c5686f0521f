#include "reach/wake_targets.h"

#include <gtest/gtest.h>

namespace vorlix {
namespace {

using Mac = std::array<std::uint8_t, 6>;
using V4 = std::array<std::uint8_t, 4>;

TEST(WakeTargets, AtMostEightDistinctMacAddressesInOrder) {
    std::vector<std::string> texts{"nonsense", "00:11:22:33:44:55", "00-11-22-33-44-55", "001122334455",
                                   "00:11-22:33:44:55"};
    for (int i = 1; i <= 9; ++i) texts.push_back("aa:bb:cc:dd:ee:0" + std::to_string(i));
    WakeTargets targets = collect_wake_targets(texts, {});
    ASSERT_EQ(targets.mac_addresses.size(), 8u);
    EXPECT_EQ(targets.mac_addresses[0], (Mac{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}));
    EXPECT_EQ(targets.mac_addresses[1], (Mac{0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0x01}));
    EXPECT_EQ(targets.mac_addresses[7], (Mac{0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0x07}));
    EXPECT_TRUE(targets.addresses.empty());

    // Eight kept, then a duplicate still counts as one.
    texts = {};
    for (int i = 1; i <= 8; ++i) texts.push_back("AA:BB:CC:DD:EE:0" + std::to_string(i));
    texts.push_back("aa-bb-cc-dd-ee-01");
    EXPECT_EQ(collect_wake_targets(texts, {}).mac_addresses.size(), 8u);
}

TEST(WakeTargets, OnlyPrivateDottedIpv4AddressesAreKept) {
    WakeTargets targets = collect_wake_targets(
        {}, {"192.168.1.20", "8.8.8.8", "fe80::1", "10.0.0.1", "172.16.0.1", "172.31.255.255", "172.32.0.1",
             "172.15.0.1", "192.169.0.1", "192.168.1.20", "010.0.0.1", "10.0.0.1 ", "192.168.001.020",
             "::ffff:10.0.0.2"});
    EXPECT_EQ(targets.addresses,
              (std::vector<V4>{{192, 168, 1, 20}, {10, 0, 0, 1}, {172, 16, 0, 1}, {172, 31, 255, 255}}));

    std::vector<std::string> many;
    for (int i = 1; i <= 10; ++i) many.push_back("10.1.1." + std::to_string(i));
    targets = collect_wake_targets({}, many);
    ASSERT_EQ(targets.addresses.size(), 8u);
    EXPECT_EQ(targets.addresses.back(), (V4{10, 1, 1, 8}));
}

}  // namespace
}  // namespace vorlix
