#include "app/system_text.h"

#include <gtest/gtest.h>

namespace vorlix {
namespace {

TEST(ModelText, BiosPlaceholdersAndTrimming) {
    EXPECT_FALSE(clean_bios_text("To be filled by O.E.M."));
    EXPECT_FALSE(clean_bios_text("  System Product Name "));
    EXPECT_FALSE(clean_bios_text("Default string"));
    EXPECT_FALSE(clean_bios_text("System manufacturer"));
    EXPECT_FALSE(clean_bios_text(" \t"));
    // A placeholder in other letter case is a real value.
    EXPECT_EQ(clean_bios_text("to be filled by o.e.m."), "to be filled by o.e.m.");
    EXPECT_EQ(clean_bios_text(" Acme \n"), "Acme");
}

TEST(ModelText, ManufacturerAndProduct) {
    auto model = [](const char* m, const char* p) {
        return model_text(clean_bios_text(m), clean_bios_text(p));
    };
    EXPECT_EQ(model("To be filled by O.E.M.", "To be filled by O.E.M."), "Windows PC");
    EXPECT_EQ(model("Acme", ""), "Windows PC");
    EXPECT_EQ(model("Acme", "Acme Book 5"), "Windows PC (Acme Book 5)");
    EXPECT_EQ(model("  Acme ", "Acme Book 5"), "Windows PC (Acme Book 5)");
    EXPECT_EQ(model("Acme", "Book 5"), "Windows PC (Acme Book 5)");
    EXPECT_EQ(model("Acme Computers", "Acme"), "Windows PC (Acme Computers Acme)");
    EXPECT_EQ(model("acme", "Acme Book"), "Windows PC (acme Acme Book)");
    EXPECT_EQ(model("", "Book 5"), "Windows PC (Book 5)");
    EXPECT_EQ(model_text(std::nullopt, std::string("Book 5")), "Windows PC (Book 5)");
}

TEST(ComputerName, FirstUsableSource) {
    EXPECT_EQ(choose_computer_name({std::string("DESK"), std::string("OTHER")}), "DESK");
    EXPECT_EQ(choose_computer_name({std::string(""), std::nullopt, std::string("ENV")}), "ENV");
    EXPECT_EQ(choose_computer_name({std::nullopt, std::nullopt}), "Windows PC");
}

TEST(ShellFolders, DownloadsFallBacks) {
    using std::filesystem::path;
    EXPECT_EQ(downloads_folder_from(path("C:/Users/a/Downloads"), path("C:/Users/a")), path("C:/Users/a/Downloads"));
    EXPECT_EQ(downloads_folder_from(std::nullopt, path("C:/Users/a")), path("C:/Users/a") / "Downloads");
    EXPECT_EQ(downloads_folder_from(std::nullopt, std::nullopt), path("."));
}

TEST(ShellFolders, ScreenshotsFolders) {
    using std::filesystem::path;
    const path shots("S"), pictures("P"), videos("V");
    EXPECT_EQ(screenshots_folders_from(shots, pictures, videos),
              (std::vector<path>{shots, videos / "Screen Recordings", videos / "Captures"}));
    EXPECT_EQ(screenshots_folders_from(std::nullopt, pictures, std::nullopt),
              (std::vector<path>{pictures / "Screenshots"}));
    EXPECT_TRUE(screenshots_folders_from(std::nullopt, std::nullopt, std::nullopt).empty());
}

TEST(ShellFolders, RevealQuotesThePath) {
    EXPECT_EQ(reveal_parameters("C:\\My Files\\a b.txt"), "/select,\"C:\\My Files\\a b.txt\"");
}

}  // namespace
}  // namespace vorlix
