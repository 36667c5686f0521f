// Find data to listing entries: which reparse points count as links, and the
// 64-bit sizes and times put together from their halves.
#include "win/files/folder_listing.h"

#include <gtest/gtest.h>

#include <cwchar>

namespace vorlix {
namespace {

WIN32_FIND_DATAW find_data(const wchar_t* name, DWORD attributes, DWORD tag = 0) {
    WIN32_FIND_DATAW data{};
    std::wcsncpy(data.cFileName, name, MAX_PATH - 1);
    data.dwFileAttributes = attributes;
    data.dwReserved0 = tag;
    return data;
}

TEST(WindowsFolderEntry, OnlyNameSurrogateReparsePointsAreLinks) {
    const std::filesystem::path folder = L"C:\\Users\\me\\Pictures\\Screenshots";
    struct Case {
        DWORD attributes;
        DWORD tag;
        bool link;
        bool directory;
    };
    const Case cases[] = {
        {FILE_ATTRIBUTE_ARCHIVE, 0, false, false},
        {FILE_ATTRIBUTE_DIRECTORY, 0, false, true},
        {FILE_ATTRIBUTE_REPARSE_POINT, 0xA000000C, true, false},                             // symbolic link
        {FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY, 0xA0000003, true, true},  // junction
        {FILE_ATTRIBUTE_REPARSE_POINT, 0x9000601A, false, false},  // cloud placeholder (OneDrive)
        {FILE_ATTRIBUTE_REPARSE_POINT, 0x80000013, false, false},  // deduplicated file
        {FILE_ATTRIBUTE_ARCHIVE, 0xA000000C, false, false},        // a stale tag without the attribute
    };
    for (const auto& c : cases) {
        const auto entry = folder_entry_from(folder, find_data(L"Screenshot.png", c.attributes, c.tag));
        EXPECT_EQ(entry.link, c.link) << std::hex << c.attributes << " " << c.tag;
        EXPECT_EQ(entry.directory, c.directory) << std::hex << c.attributes << " " << c.tag;
    }
}

TEST(WindowsFolderEntry, NamePathSizeAndCreationTime) {
    const std::filesystem::path folder = L"C:\\Users\\me\\Videos\\Captures";
    auto data = find_data(L"Caf\u00e9 \u2013 clip.mp4", FILE_ATTRIBUTE_ARCHIVE);
    data.nFileSizeHigh = 0x2;
    data.nFileSizeLow = 0x80000001;
    data.ftCreationTime.dwHighDateTime = 0x01DC7B00;
    data.ftCreationTime.dwLowDateTime = 0xF0000000;
    const auto entry = folder_entry_from(folder, data);
    EXPECT_EQ(entry.name, "Caf\xC3\xA9 \xE2\x80\x93 clip.mp4");
    EXPECT_EQ(entry.path, folder / L"Caf\u00e9 \u2013 clip.mp4");
    EXPECT_EQ(entry.size, 0x280000001ull);
    EXPECT_EQ(entry.created, 0x01DC7B00F0000000ull);
}

}  // namespace
}  // namespace vorlix
