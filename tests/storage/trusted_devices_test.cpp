#include "host/trusted_devices.h"

#include <gtest/gtest.h>

#include "files/memory_file_system.h"
#include "host/identity.h"
#include "log_capture.h"
#include "temp_folder.h"

namespace vorlix {
namespace {

using test::LogCapture;
using test::read_file;
using test::TempFolder;
using test::write_file;

const std::string kKeyA = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=";
const std::string kKeyB = "ICEiIyQlJicoKSorLC0uLzAxMjM0NTY3ODk6Ozw9Pj8=";

const std::vector<TrustedDevice> kTwo = {
    {kKeyA, "Ada's \"phone\"\\", "iPhone15,2", 1'700'000'000, 1'700'000'100},
    {kKeyB, "Tablette \xC3\xA9t\xC3\xA9\t\x01", "iPad", 0, 18'446'744'073'709'551'615ull},
};

const std::string kTwoText =
    "[\n"
    "  {\n"
    "    \"key\": \"" + kKeyA + "\",\n"
    "    \"name\": \"Ada's \\\"phone\\\"\\\\\",\n"
    "    \"model\": \"iPhone15,2\",\n"
    "    \"added\": 1700000000,\n"
    "    \"last_seen\": 1700000100\n"
    "  },\n"
    "  {\n"
    "    \"key\": \"" + kKeyB + "\",\n"
    "    \"name\": \"Tablette \xC3\xA9t\xC3\xA9\\t\\u0001\",\n"
    "    \"model\": \"iPad\",\n"
    "    \"added\": 0,\n"
    "    \"last_seen\": 18446744073709551615\n"
    "  }\n"
    "]";

std::vector<std::string> names_in(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(TrustedDevicesFile, ExactLayoutAndRoundTrip) {
    TempFolder folder;
    ASSERT_TRUE(save_trusted_devices(folder.path(), kTwo).ok());
    EXPECT_EQ(read_file(folder / "devices.json"), kTwoText);
    EXPECT_EQ(names_in(folder.path()), std::vector<std::string>{"devices.json"});
    EXPECT_EQ(load_trusted_devices(folder.path()), kTwo);

    ASSERT_TRUE(save_trusted_devices(folder.path(), {}).ok());
    EXPECT_EQ(read_file(folder / "devices.json"), "[]");
    EXPECT_TRUE(load_trusted_devices(folder.path()).empty());
}

TEST(TrustedDevicesFile, SaveIntoAMissingFolderFailsAndLeavesNothing) {
    TempFolder folder;
    EXPECT_FALSE(save_trusted_devices(folder / "missing", kTwo).ok());
    EXPECT_FALSE(std::filesystem::exists(folder / "missing"));
}

TEST(TrustedDevicesParse, AcceptsAnyMemberOrderExtraMembersArrayRecordsAndTrailingWhiteSpace) {
    const std::string text = "[{\"last_seen\":5,\"note\":{\"x\":[1]},\"model\":\"m\",\"added\":4,\"name\":\"n\",\"key\":\"k\"},"
                             "[\"k2\",\"n2\",\"m2\",6,7]] \t\r\n";
    Result<std::vector<TrustedDevice>> devices = parse_trusted_devices(text);
    ASSERT_TRUE(devices.ok()) << devices.error().text;
    const std::vector<TrustedDevice> expected = {{"k", "n", "m", 4, 5}, {"k2", "n2", "m2", 6, 7}};
    EXPECT_EQ(*devices, expected);
    // The extra member is gone after the next save.
    EXPECT_EQ(trusted_devices_text(*devices)->find("note"), std::string::npos);
}

TEST(TrustedDevicesParse, RefusesTheWholeFileForOneBadRecord) {
    const std::string good = "{\"key\":\"k\",\"name\":\"n\",\"model\":\"m\",\"added\":1,\"last_seen\":2}";
    const char* bad_records[] = {
        "{\"key\":\"k\",\"name\":\"n\",\"model\":\"m\",\"added\":-1,\"last_seen\":2}",
        "{\"key\":\"k\",\"name\":\"n\",\"model\":\"m\",\"added\":1.5,\"last_seen\":2}",
        "{\"key\":\"k\",\"name\":\"n\",\"model\":\"m\",\"added\":1e3,\"last_seen\":2}",
        "{\"key\":\"k\",\"name\":\"n\",\"model\":\"m\",\"added\":18446744073709551616,\"last_seen\":2}",
        "{\"key\":\"k\",\"name\":\"n\",\"model\":\"m\",\"added\":1}",
        "{\"key\":\"k\",\"key\":\"k\",\"name\":\"n\",\"model\":\"m\",\"added\":1,\"last_seen\":2}",
        "{\"key\":5,\"name\":\"n\",\"model\":\"m\",\"added\":1,\"last_seen\":2}",
        "{\"key\":\"k\",\"name\":null,\"model\":\"m\",\"added\":1,\"last_seen\":2}",
        "[\"k\",\"n\",\"m\",1]",
        "[\"k\",\"n\",\"m\",1,2,3]",
        "\"k\"",
    };
    for (const char* bad : bad_records) {
        EXPECT_FALSE(parse_trusted_devices("[" + good + "," + bad + "]").ok()) << bad;
    }
    EXPECT_FALSE(parse_trusted_devices("[" + good + "] x").ok());
    EXPECT_FALSE(parse_trusted_devices(good).ok());
    EXPECT_FALSE(parse_trusted_devices("").ok());
    EXPECT_TRUE(parse_trusted_devices("[" + good + "]").ok());
    EXPECT_TRUE(parse_trusted_devices("[]")->empty());
}

TEST(TrustedDevicesLoad, MissingFileGivesAnEmptyListQuietly) {
    TempFolder folder;
    LogCapture log;
    EXPECT_TRUE(load_trusted_devices(folder.path()).empty());
    EXPECT_TRUE(names_in(folder.path()).empty());
    EXPECT_EQ(log.messages(), "");
}

TEST(TrustedDevicesLoad, UnreadableFileIsSetAsideSoThatTheNextSaveLosesNothing) {
    TempFolder folder;
    const std::string damaged = kTwoText.substr(0, kTwoText.size() - 1) +
                                ",\n  {\"key\": \"k\", \"name\": \"n\", \"model\": \"m\", \"added\": -1, \"last_seen\": 0}\n]";
    write_file(folder / "devices.json", damaged);
    LogCapture log;
    EXPECT_TRUE(load_trusted_devices(folder.path()).empty());
    std::vector<std::string> names = names_in(folder.path());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(names[0].starts_with("devices.json.") && names[0].ends_with(".unreadable")) << names[0];
    EXPECT_EQ(read_file(folder / names[0]), damaged);
    const std::string messages = log.messages();
    EXPECT_TRUE(messages.starts_with("devices.json could not be read (")) << messages;
    EXPECT_NE(messages.find("set aside as " + names[0]), std::string::npos) << messages;

    // A new pairing saves its list; the old devices are still in the set-aside file.
    std::vector<TrustedDevice> fresh;
    record_sign_in(fresh, kKeyB, "new", "phone", 10);
    ASSERT_TRUE(save_trusted_devices(folder.path(), fresh).ok());
    EXPECT_EQ(load_trusted_devices(folder.path()), fresh);
    EXPECT_EQ(read_file(folder / names[0]), damaged);
}

TEST(TrustedDevicesLoad, FileThatCannotBeReadAtAllIsSetAsideToo) {
    TempFolder folder;
    std::filesystem::create_directory(folder / "devices.json");
    LogCapture log;
    EXPECT_TRUE(load_trusted_devices(folder.path()).empty());
    EXPECT_FALSE(std::filesystem::exists(folder / "devices.json"));
    EXPECT_TRUE(log.messages().starts_with("devices.json could not be read ("));
    ASSERT_TRUE(save_trusted_devices(folder.path(), kTwo).ok());
    EXPECT_EQ(load_trusted_devices(folder.path()), kTwo);
}

TEST(TrustedDevicesSignIn, KnownKeyKeepsAddedAndNewKeyIsAppended) {
    std::vector<TrustedDevice> devices = kTwo;
    record_sign_in(devices, kKeyA, "Renamed", "iPhone16,1", 1'800'000'000);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0], (TrustedDevice{kKeyA, "Renamed", "iPhone16,1", 1'700'000'000, 1'800'000'000}));
    EXPECT_EQ(devices[1], kTwo[1]);

    record_sign_in(devices, "c29tZSBvdGhlciBrZXk=", "Other", "Pixel", 42);
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[2], (TrustedDevice{"c29tZSBvdGhlciBrZXk=", "Other", "Pixel", 42, 42}));

    // With two records of one key, only the first changes.
    devices.push_back(devices[0]);
    record_sign_in(devices, kKeyA, "Again", "x", 99);
    EXPECT_EQ(devices[0].name, "Again");
    EXPECT_EQ(devices[3].name, "Renamed");
}

}  // namespace
}  // namespace vorlix

namespace vorlix {
namespace {

TEST(DurableWrites, TheDataIsFlushedAndClosedBeforeItTakesThePlaceOfTheOldFile) {
    // devices.json directly, identity.key through its services.
    struct Case {
        const char* name;
        std::function<Status(test::MemoryFileSystem&)> write;
    } cases[] = {
        {"devices.json", [](test::MemoryFileSystem& files) { return save_trusted_devices("/data", kTwo, files); }},
        {"identity.key",
         [](test::MemoryFileSystem& files) {
             IdentityServices services;
             services.protect = [](ByteView bytes) { return Bytes(bytes.begin(), bytes.end()); };
             services.unprotect = [](ByteView bytes) { return std::optional<Bytes>(Bytes(bytes.begin(), bytes.end())); };
             services.new_key = [] { return ed25519_from_seed(Key32{7}); };
             services.files = files.shared_from_this();
             (void)load_identity("/data", services);
             return Status{};
         }},
    };
    for (const auto& c : cases) {
        auto files = std::make_shared<test::MemoryFileSystem>();
        files->put(std::string("/data/") + c.name, "old");
        ASSERT_TRUE(c.write(*files).ok()) << c.name;
        const std::string target = std::string("/data/") + c.name;
        EXPECT_EQ(files->journal, (std::vector<std::string>{"flush " + target + ".tmp", "close " + target + ".tmp",
                                                            "replace " + target + ".tmp " + target}))
            << c.name;
        EXPECT_NE(files->content(target), "old") << c.name;
        EXPECT_FALSE(files->exists(target + ".tmp")) << c.name;
    }
    // A flush that fails leaves the old file alone and no temporary file.
    auto files = std::make_shared<test::MemoryFileSystem>();
    files->put("/data/devices.json", "old");
    files->fail_flush = true;
    EXPECT_FALSE(save_trusted_devices("/data", kTwo, *files).ok());
    EXPECT_EQ(files->content("/data/devices.json"), "old");
    EXPECT_FALSE(files->exists("/data/devices.json.tmp"));
}

}  // namespace
}  // namespace vorlix
