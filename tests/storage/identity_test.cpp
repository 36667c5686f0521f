#include "host/identity.h"

#include <gtest/gtest.h>

#include "log_capture.h"
#include "temp_folder.h"

namespace vorlix {
namespace {

using test::LogCapture;
using test::read_file;
using test::TempFolder;
using test::write_file;

const std::string kUnreadable =
    "identity.key could not be read; making a new identity (paired devices must pair again)\n";

// Protection as a marker and a mask, like a blob only this "user" can open.
struct FakeProtection {
    bool protect_works = true;
    int protects = 0;
    std::uint8_t next_seed = 1;
    IdentityServices services() {
        return IdentityServices{
            [this](ByteView plain) {
                ++protects;
                if (!protect_works) return Bytes(plain.begin(), plain.end());
                Bytes out = to_bytes("PROT");
                for (auto b : plain) out.push_back(static_cast<std::uint8_t>(b ^ 0x5A));
                return out;
            },
            [](ByteView stored) -> std::optional<Bytes> {
                if (stored.size() >= 4 && to_string(stored.first(4)) == "PROT") {
                    Bytes out;
                    for (auto b : stored.subspan(4)) out.push_back(static_cast<std::uint8_t>(b ^ 0x5A));
                    return out;
                }
                if (stored.size() == 32) return Bytes(stored.begin(), stored.end());
                return std::nullopt;
            },
            [this] {
                Key32 seed;
                seed.fill(next_seed++);
                return ed25519_from_seed(seed);
            }};
    }
};

Key32 filled(std::uint8_t value) {
    Key32 key;
    key.fill(value);
    return key;
}

std::string masked_seed_file(std::uint8_t value) {
    std::string out = "PROT";
    for (int i = 0; i < 32; ++i) out.push_back(static_cast<char>(value ^ 0x5A));
    return out;
}

std::size_t count_files(const std::filesystem::path& folder) {
    std::size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        (void)entry;
        ++n;
    }
    return n;
}

TEST(Sha256Hex, SixtyFourLowerCaseDigits) {
    EXPECT_EQ(sha256_hex({}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256_hex(to_bytes("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const IdentityKey identity(ed25519_from_seed(filled(7)));
    EXPECT_EQ(identity.fingerprint(), sha256_hex(identity.public_key()));
}

TEST(Identity, MissingFileMakesAndStoresAProtectedIdentityWithoutAMessage) {
    TempFolder folder;
    FakeProtection fake;
    LogCapture log;
    const IdentityKey made = load_identity(folder.path(), fake.services());
    EXPECT_EQ(made.public_key(), ed25519_from_seed(filled(1)).public_key);
    EXPECT_EQ(read_file(folder / "identity.key"), masked_seed_file(1));
    EXPECT_EQ(count_files(folder.path()), 1u);  // no temporary file left
    EXPECT_EQ(log.messages(), "");

    // The next start loads the same identity, without a message or a write.
    const IdentityKey loaded = load_identity(folder.path(), fake.services());
    EXPECT_EQ(loaded.public_key(), made.public_key());
    EXPECT_EQ(loaded.keys().secret_key, filled(1));
    EXPECT_EQ(fake.protects, 1);
    EXPECT_EQ(log.messages(), "");
}

TEST(Identity, PlainThirtyTwoByteFileLoadsAsTheSeedAndStaysAsItIs) {
    TempFolder folder;
    FakeProtection fake;
    const std::string plain(32, '\x09');
    write_file(folder / "identity.key", plain);
    LogCapture log;
    const IdentityKey loaded = load_identity(folder.path(), fake.services());
    EXPECT_EQ(loaded.public_key(), ed25519_from_seed(filled(9)).public_key);
    EXPECT_EQ(read_file(folder / "identity.key"), plain);
    EXPECT_EQ(fake.protects, 0);
    EXPECT_EQ(log.messages(), "");
}

TEST(Identity, UnusableFilesAreSetAsideAndReplacedWithAMessage) {
    // Another user's blob, an empty file, and a blob that opens to 31 bytes.
    const std::string another_users_blob = "DPAPI blob from another PC, longer than 32 bytes";
    std::string short_seed = "PROT";
    short_seed.append(31, 'x');
    for (const std::string& content : {another_users_blob, std::string(), short_seed}) {
        TempFolder folder;
        FakeProtection fake;
        write_file(folder / "identity.key", content);
        LogCapture log;
        const IdentityKey made = load_identity(folder.path(), fake.services());
        EXPECT_EQ(made.keys().secret_key, filled(1));
        EXPECT_EQ(read_file(folder / "identity.key"), masked_seed_file(1));

        std::filesystem::path aside;
        for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
            if (entry.path().filename() != "identity.key") aside = entry.path();
        }
        ASSERT_FALSE(aside.empty());
        EXPECT_EQ(count_files(folder.path()), 2u);
        const std::string name = aside.filename().string();
        EXPECT_TRUE(name.starts_with("identity.key.") && name.ends_with(".unusable")) << name;
        EXPECT_EQ(read_file(aside), content);
        EXPECT_EQ(log.messages(), kUnreadable + "identity.key set aside as " + name + "\n");
    }
}

TEST(Identity, FileThatIsThereButCannotBeReadIsSetAsideNotOverwritten) {
    TempFolder folder;
    FakeProtection fake;
    // A folder in the file's place cannot be read as a file.
    std::filesystem::create_directory(folder / "identity.key");
    test::write_file(folder / "identity.key" / "inside", "kept");
    LogCapture log;
    const IdentityKey made = load_identity(folder.path(), fake.services());
    EXPECT_EQ(read_file(folder / "identity.key"), masked_seed_file(1));
    std::filesystem::path aside;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        if (entry.path().filename() != "identity.key") aside = entry.path();
    }
    ASSERT_FALSE(aside.empty());
    EXPECT_TRUE(aside.filename().string().ends_with(".unreadable"));
    EXPECT_EQ(read_file(aside / "inside"), "kept");
    EXPECT_EQ(log.messages(), "identity.key could not be read; set aside as " + aside.filename().string() + "\n");
}

TEST(Identity, SecondUnusableFileInTheSameSecondGetsItsOwnName) {
    TempFolder folder;
    FakeProtection fake;
    write_file(folder / "identity.key", "first bad file, which is long enough");
    (void)load_identity(folder.path(), fake.services());
    write_file(folder / "identity.key", "second bad file, which is long enough");
    (void)load_identity(folder.path(), fake.services());
    // The first set-aside file may have been made a second earlier; either
    // way both bad files are kept beside the good one.
    EXPECT_EQ(count_files(folder.path()), 3u);
}

TEST(Identity, FailedProtectionStoresThePlainSeed) {
    TempFolder folder;
    FakeProtection fake;
    fake.protect_works = false;
    const IdentityKey made = load_identity(folder.path(), fake.services());
    EXPECT_EQ(read_file(folder / "identity.key"), std::string(32, '\x01'));
    fake.protect_works = true;
    EXPECT_EQ(load_identity(folder.path(), fake.services()).public_key(), made.public_key());
}

TEST(Identity, FolderThatCannotBeWrittenKeepsTheIdentityForThisRunOnly) {
    TempFolder folder;
    FakeProtection fake;
    LogCapture log;
    const IdentityKey first = load_identity(folder / "missing", fake.services());
    const IdentityKey second = load_identity(folder / "missing", fake.services());
    EXPECT_NE(first.public_key(), second.public_key());
    EXPECT_FALSE(std::filesystem::exists(folder / "missing"));
    EXPECT_NE(log.messages().find("identity.key could not be stored ("), std::string::npos);
}

}  // namespace
}  // namespace vorlix
