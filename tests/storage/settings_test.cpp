#include "host/settings.h"

#include <gtest/gtest.h>

#include "temp_folder.h"

namespace vorlix {
namespace {

using test::read_file;
using test::TempFolder;
using test::write_file;

TEST(Settings, WithoutAFileAutoInstallIsOnAndSwitchingItOffWritesOneMember) {
    TempFolder folder;
    EXPECT_TRUE(read_settings(folder.path()).empty());
    EXPECT_TRUE(auto_install_updates(read_settings(folder.path())));
    ASSERT_TRUE(save_auto_install_setting(folder.path(), false).ok());
    EXPECT_EQ(read_file(folder / "settings.json"), "{\n  \"autoInstallUpdates\": false\n}");
    EXPECT_FALSE(std::filesystem::exists(folder / "settings.json.tmp"));
    EXPECT_FALSE(auto_install_updates(read_settings(folder.path())));
    ASSERT_TRUE(save_auto_install_setting(folder.path(), true).ok());
    EXPECT_TRUE(auto_install_updates(read_settings(folder.path())));
}

TEST(Settings, UnknownMembersSurviveSortedByteWise) {
    TempFolder folder;
    write_file(folder / "settings.json",
               "{\"beta\": {\"z\": [1, 2.50, 1e2]}, \"Zeta\": \"\xC3\xA9\", \"autoInstallUpdates\": \"false\", "
               "\"alpha\": 1, \"alpha\": 2}");
    const Json before = read_settings(folder.path());
    EXPECT_TRUE(auto_install_updates(before));  // a string is not a boolean
    EXPECT_EQ(before["alpha"], 2);              // the last of a repeated name
    ASSERT_TRUE(save_auto_install_setting(folder.path(), false).ok());
    EXPECT_EQ(read_file(folder / "settings.json"),
              "{\n"
              "  \"Zeta\": \"\xC3\xA9\",\n"
              "  \"alpha\": 2,\n"
              "  \"autoInstallUpdates\": false,\n"
              "  \"beta\": {\n"
              "    \"z\": [\n"
              "      1,\n"
              "      2.5,\n"
              "      100.0\n"
              "    ]\n"
              "  }\n"
              "}");
}

TEST(Settings, DocumentsThatAreNotOneObjectReadAsEmpty) {
    TempFolder folder;
    for (const char* text : {"[1,2]", "true", "null", "\"x\"", "{\"autoInstallUpdates\": false} x", "{", ""}) {
        write_file(folder / "settings.json", text);
        EXPECT_TRUE(read_settings(folder.path()).empty()) << text;
        EXPECT_TRUE(auto_install_updates(read_settings(folder.path()))) << text;
    }
    write_file(folder / "settings.json", "{\"autoInstallUpdates\": false}\r\n\t ");
    EXPECT_FALSE(auto_install_updates(read_settings(folder.path())));

    write_file(folder / "settings.json", "[1,2]");
    ASSERT_TRUE(save_auto_install_setting(folder.path(), true).ok());
    EXPECT_EQ(read_file(folder / "settings.json"), "{\n  \"autoInstallUpdates\": true\n}");
}

TEST(Settings, SavingCreatesTheFolderAndReportsFailures) {
    TempFolder folder;
    ASSERT_TRUE(save_auto_install_setting(folder / "a" / "b", false).ok());
    EXPECT_FALSE(auto_install_updates(read_settings(folder / "a" / "b")));

    write_file(folder / "blocker", "a file where a folder should be");
    Status failed = save_auto_install_setting(folder / "blocker" / "inner", true);
    EXPECT_FALSE(failed.ok());
}

}  // namespace
}  // namespace vorlix
