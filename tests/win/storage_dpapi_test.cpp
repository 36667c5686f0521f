#include <gtest/gtest.h>

#include "../storage/temp_folder.h"
#include "crypto/random.h"
#include "host/identity.h"
#include "win/dpapi.h"

namespace vorlix {
namespace {

TEST(StorageDpapi, ProtectedSeedRoundTripsAndIsNotStoredInTheClear) {
    Bytes seed(32);
    for (std::size_t i = 0; i < seed.size(); ++i) seed[i] = static_cast<std::uint8_t>(i * 7 + 1);
    const Bytes blob = protect_identity(seed);
    EXPECT_GT(blob.size(), 32u);
    EXPECT_EQ(std::search(blob.begin(), blob.end(), seed.begin(), seed.end()), blob.end());
    EXPECT_EQ(unprotect_identity(blob), seed);
}

TEST(StorageDpapi, RefusedInputIsThePlainSeedOnlyAtThirtyTwoBytes) {
    const Bytes plain(32, 0x42);
    EXPECT_EQ(unprotect_identity(plain), plain);
    EXPECT_EQ(unprotect_identity(Bytes(33, 0x42)), std::nullopt);
    EXPECT_EQ(unprotect_identity(Bytes{}), std::nullopt);
    EXPECT_EQ(unprotect_identity(to_bytes("a blob that is longer than thirty-two bytes")), std::nullopt);
}

TEST(StorageDpapi, IdentityKeptAcrossStartsInAProtectedFile) {
    test::TempFolder folder;
    const IdentityServices services{protect_identity, unprotect_identity, new_identity_key};
    const IdentityKey made = load_identity(folder.path(), services);
    const std::string stored = test::read_file(folder / "identity.key");
    EXPECT_GT(stored.size(), 32u);
    const IdentityKey loaded = load_identity(folder.path(), services);
    EXPECT_EQ(loaded.public_key(), made.public_key());
    EXPECT_EQ(test::read_file(folder / "identity.key"), stored);
}

}  // namespace
}  // namespace vorlix
