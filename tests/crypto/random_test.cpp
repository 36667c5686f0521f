#include "crypto/random.h"

#include <gtest/gtest.h>

#include <set>

namespace vorlix {
namespace {

TEST(Random, DrawsDifferAndAreNotZero) {
    std::set<Key32> seen;
    for (int i = 0; i < 16; ++i) {
        const Key32 k = fresh_random32();
        EXPECT_NE(k, Key32{});
        seen.insert(k);
    }
    EXPECT_EQ(seen.size(), 16u);
}

TEST(Random, FillsLongBuffersToTheEnd) {
    // A buffer larger than one kernel read must be filled to its last byte.
    Bytes buffer(3 * 1024 * 1024 + 7, 0);
    random_bytes(buffer.data(), buffer.size());
    std::size_t zero_tail = 0;
    for (auto it = buffer.rbegin(); it != buffer.rend() && *it == 0; ++it) ++zero_tail;
    EXPECT_LT(zero_tail, 8u);
    random_bytes(nullptr, 0);  // nothing asked, nothing touched
}

TEST(Random, NewIdentityKeyIsAConsistentPair) {
    const Ed25519KeyPair keys = new_identity_key();
    EXPECT_EQ(ed25519_from_seed(keys.secret_key).public_key, keys.public_key);
    EXPECT_NE(new_identity_key().public_key, keys.public_key);
}

struct Calls {
    int preferred = 0;
    int fallback = 0;
};

TEST(RandomRule, OnlyNtSuccessCodesCountAsSuccess) {
    EXPECT_TRUE(nt_success(0));
    EXPECT_TRUE(nt_success(0x40000000));  // informational
    EXPECT_TRUE(nt_success(0x7FFFFFFF));
    EXPECT_FALSE(nt_success(0x80000005));  // a warning: the bytes may not be there
    EXPECT_FALSE(nt_success(0xC0000001));
}

TEST(RandomRule, FallbackOnlyWhenPreferredFails) {
    std::uint8_t buffer[4] = {};
    for (std::uint32_t status : {0x00000000u, 0x40000001u}) {
        Calls calls;
        const auto failure = fill_random_with_fallback(
            buffer, sizeof buffer, [&](std::uint8_t*, std::size_t) { ++calls.preferred; return status; },
            [&](std::uint8_t*, std::size_t) { ++calls.fallback; return true; });
        EXPECT_FALSE(failure) << status;
        EXPECT_EQ(calls.preferred, 1);
        EXPECT_EQ(calls.fallback, 0) << status;
    }
    for (std::uint32_t status : {0x80000005u, 0xC0000001u}) {
        Calls calls;
        const auto failure = fill_random_with_fallback(
            buffer, sizeof buffer, [&](std::uint8_t*, std::size_t) { ++calls.preferred; return status; },
            [&](std::uint8_t* data, std::size_t size) {
                ++calls.fallback;
                EXPECT_EQ(data, buffer);
                EXPECT_EQ(size, sizeof buffer);
                return true;
            });
        EXPECT_FALSE(failure) << status;
        EXPECT_EQ(calls.fallback, 1) << status;
    }
}

TEST(RandomRule, BothFailingReportsStatusWithTopBitCleared) {
    std::uint8_t buffer[4] = {};
    auto fails = [](std::uint8_t*, std::size_t) { return false; };
    EXPECT_EQ(fill_random_with_fallback(buffer, 4, [](std::uint8_t*, std::size_t) { return 0xC0000017u; }, fails),
              0x40000017u);
    // 0x80000000 clears to 0, which must still read as a failure.
    EXPECT_EQ(fill_random_with_fallback(buffer, 4, [](std::uint8_t*, std::size_t) { return 0x80000000u; }, fails),
              std::optional<std::uint32_t>(0u));
}

TEST(RandomRuleDeathTest, NoSourceStopsTheHostWithItsText) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(stop_without_random_source(0x40000017u), "the system has no random source");
}

}  // namespace
}  // namespace vorlix
