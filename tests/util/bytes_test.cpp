#include "util/bytes.h"
#include "util/result.h"

#include <gtest/gtest.h>

namespace vorlix {
namespace {

TEST(Bytes, BigEndianRoundTripsAtTheExtremes) {
    std::uint8_t b[8];
    put_u32_be(b, 0x01020304u);
    EXPECT_EQ(b[0], 1);
    EXPECT_EQ(b[3], 4);
    EXPECT_EQ(get_u32_be(b), 0x01020304u);
    put_u64_be(b, 0xFFEEDDCCBBAA9988ull);
    EXPECT_EQ(b[0], 0xFF);
    EXPECT_EQ(b[7], 0x88);
    EXPECT_EQ(get_u64_be(b), 0xFFEEDDCCBBAA9988ull);
    put_u16_be(b, 0xBEEF);
    EXPECT_EQ(get_u16_be(b), 0xBEEF);
}

TEST(Bytes, HexIsLowerCaseWithLeadingZeros) {
    const Bytes data{0x00, 0x0A, 0xFF, 0x10};
    EXPECT_EQ(hex_lower(data), "000aff10");
    EXPECT_EQ(hex_lower({}), "");
}

TEST(Result, CarriesValueOrErrorText) {
    Result<int> good = 5;
    Result<int> bad = Error("the relay did not join the link");
    ASSERT_TRUE(good.ok());
    EXPECT_EQ(*good, 5);
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error().text, "the relay did not join the link");
    Status fine;
    Status failed = Error("x");
    EXPECT_TRUE(fine.ok());
    EXPECT_FALSE(failed.ok());
}

}  // namespace
}  // namespace vorlix
