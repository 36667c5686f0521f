// System information, DPAPI, known folders, the shell thread and keep-awake
// against the real system calls.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>


#include "win/dpapi.h"
#include "win/system/keep_awake.h"
#include "win/system/shell.h"
#include "win/system/system_info.h"
#include "win/system/wide.h"

namespace vorlix {
namespace {

TEST(EntrySystem, ComputerNameAndModel) {
    const std::string name = read_computer_name();
    EXPECT_FALSE(name.empty());
    wchar_t dns[256];
    DWORD size = 256;
    if (GetComputerNameExW(ComputerNamePhysicalDnsHostname, dns, &size) && size > 0) {
        EXPECT_EQ(name, wide_to_string(dns, size));
    }
    const std::string model = read_computer_model();
    EXPECT_EQ(model.rfind("Windows PC", 0), 0u) << model;
    // The BIOS key's values are read as the model rules want them.
    if (auto product = read_bios_value(L"SystemProductName")) {
        EXPECT_NE(model.find(*product), std::string::npos);
    }
    EXPECT_FALSE(read_bios_value(L"NoSuchValueAnywhere"));
}

TEST(EntrySystem, ProtectedIdentityRoundTrip) {
    Bytes seed(32);
    for (std::size_t i = 0; i < seed.size(); ++i) seed[i] = static_cast<std::uint8_t>(i * 7 + 1);
    const Bytes stored = protect_identity(seed);
    EXPECT_GT(stored.size(), 32u);
    EXPECT_NE(stored, seed);
    EXPECT_EQ(unprotect_identity(stored), seed);

    // A key stored unprotected comes back as it is; other bytes do not.
    EXPECT_EQ(unprotect_identity(seed), seed);
    EXPECT_FALSE(unprotect_identity(Bytes(31, 1)));
    EXPECT_FALSE(unprotect_identity(Bytes{}));
    // Bytes that are no DPAPI blob and not a plain key.
    EXPECT_FALSE(unprotect_identity(Bytes(stored.begin(), stored.begin() + 20)));
}

TEST(EntrySystem, KnownFolders) {
    const auto known = known_folder_path(FOLDERID_Downloads);
    ASSERT_TRUE(known);
    EXPECT_EQ(downloads_folder(), *known);
    // Each screenshot folder is one of the three places the system uses.
    const auto folders = find_screenshots_folder();
    EXPECT_LE(folders.size(), 3u);
    if (const auto videos = known_folder_path(FOLDERID_Videos)) {
        ASSERT_GE(folders.size(), 2u);
        EXPECT_EQ(folders[folders.size() - 2], *videos / "Screen Recordings");
        EXPECT_EQ(folders.back(), *videos / "Captures");
    }
}

TEST(EntrySystem, ShellThreadAnswersForItsRequest) {
    // A file that does not exist is refused by the shell, on its own thread.
    EXPECT_FALSE(open_url("C:\\no such folder\\no such file.vorlix-test"));
    EXPECT_FALSE(run_in_shell_thread(L"C:\\no such folder\\x.exe", std::wstring(L"-a")));
}

TEST(EntrySystem, KeepAwakeThreadEndsWhenReleased) {
    auto sender = start_keep_awake();
    ASSERT_TRUE(sender);
    EXPECT_FALSE(sender->send(true));
    EXPECT_FALSE(sender->send(false));
    sender.reset();  // closes the queue; the detached thread clears the state and ends
}

}  // namespace
}  // namespace vorlix
