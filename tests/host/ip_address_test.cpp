#include "net/ip_address.h"

#include <gtest/gtest.h>

#include "host/platform.h"

namespace vorlix {
namespace {

TEST(IpAddress, TextForms) {
    EXPECT_EQ(IpAddress::v4(100, 64, 0, 1).to_text(), "100.64.0.1");
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"fd7a:115c:a1e0::1", "fd7a:115c:a1e0::1"},
        {"FD7A:115C:A1E0:0:0:0:0:1", "fd7a:115c:a1e0::1"},
        {"::", "::"},
        {"::1", "::1"},
        {"1:0:0:2:0:0:0:3", "1:0:0:2::3"},        // the longer run is compressed
        {"1:0:0:2:0:0:3:4", "1::2:0:0:3:4"},      // on a tie the first run
        {"1:0:2:3:4:5:6:7", "1:0:2:3:4:5:6:7"},   // a single zero group stays
        {"::ffff:10.0.0.1", "::ffff:10.0.0.1"},
        {"fe80::1:2", "fe80::1:2"},
    };
    for (const auto& c : cases) {
        auto parsed = IpAddress::parse(c.in);
        ASSERT_TRUE(parsed) << c.in;
        EXPECT_FALSE(parsed->is_v4());
        EXPECT_EQ(parsed->to_text(), c.out) << c.in;
    }
}

TEST(IpAddress, RefusesMalformedText) {
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "01.2.3.4", "1.2.3.4 ", "1::2::3",
                            "1:2:3:4:5:6:7:8:9", "12345::", "g::1", ":::", "1:2:3:4:5:6:7"}) {
        EXPECT_FALSE(IpAddress::parse(bad)) << bad;
    }
    auto v4 = IpAddress::parse("192.168.1.20");
    ASSERT_TRUE(v4);
    EXPECT_EQ(*v4, IpAddress::v4(192, 168, 1, 20));
}

}  // namespace
}  // namespace vorlix
