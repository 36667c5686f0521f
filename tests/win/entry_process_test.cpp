// Start-up services against the system: the per-folder instance mutex, the
// wait for an old process and the package check.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <chrono>

#include "app/text.h"
#include "win/system/process.h"
#include "win/system/wide.h"

namespace vorlix {
namespace {

TEST(EntryProcess, OneInstancePerFolder) {
    const std::string name = instance_mutex_name(std::string("C:\\Vorlix Test\\Entry ") +
                                                 std::to_string(GetCurrentProcessId()));
    InstanceMutex first = claim_instance(name);
    ASSERT_EQ(first.claim, InstanceClaim::Claimed);
    // The same folder in other letter case is the same instance.
    InstanceMutex second = claim_instance(instance_mutex_name(std::string("c:\\vorlix test\\entry ") +
                                                              std::to_string(GetCurrentProcessId())));
    EXPECT_EQ(second.claim, InstanceClaim::AlreadyRunning);
    InstanceMutex other = claim_instance(name + "-other");
    EXPECT_EQ(other.claim, InstanceClaim::Claimed);
    for (HANDLE h : {first.handle, second.handle, other.handle}) CloseHandle(h);
    // Once every handle is closed the name is free again.
    InstanceMutex again = claim_instance(name);
    EXPECT_EQ(again.claim, InstanceClaim::Claimed);
    CloseHandle(again.handle);
}

TEST(EntryProcess, AMutexThatMayNotBeOpenedMeansAlreadyRunning) {
    // As an elevated copy makes it: this process is denied every access.
    const std::string name =
        instance_mutex_name("C:\\Vorlix Test\\Elevated " + std::to_string(GetCurrentProcessId()));
    PSECURITY_DESCRIPTOR denied = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(D;;GA;;;WD)", SDDL_REVISION_1, &denied,
                                                                     nullptr));
    SECURITY_ATTRIBUTES attributes{sizeof attributes, denied, FALSE};
    const HANDLE elevated = CreateMutexW(&attributes, FALSE, to_wide(name).c_str());
    LocalFree(denied);
    ASSERT_NE(elevated, nullptr);
    const InstanceMutex second = claim_instance(name);
    EXPECT_EQ(second.claim, InstanceClaim::AlreadyRunning);
    EXPECT_EQ(second.handle, nullptr);
    CloseHandle(elevated);
}

TEST(EntryProcess, WaitsForTheOldProcessOnlyWhenNamed) {
    const auto start = std::chrono::steady_clock::now();
    // A process id that is not running is not waited for, but still counts.
    AfterUpdateArgs a = wait_for_old_process({"Vorlix.exe", "--after-update", "4294967291", "--hidden"});
    EXPECT_TRUE(a.after_update());
    EXPECT_EQ(a.remaining, (ArgList{"Vorlix.exe", "--hidden"}));
    a = wait_for_old_process({"Vorlix.exe", "--after-update", "nope"});
    EXPECT_FALSE(a.after_update());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(EntryProcess, DataFolderTextIsUtf8) {
    // Command-line text arrives as UTF-8; the folder must not pass through
    // the ANSI code page on its way to the file system.
    const std::string text = "C:\\Temp\\Daten \u00fcber \u6587\U0001F600";
    const std::filesystem::path path = path_from_utf8(text);
    EXPECT_EQ(path.wstring(), to_wide(text));
    EXPECT_EQ(path.wstring(), std::wstring(L"C:\\Temp\\Daten \u00fcber \u6587\U0001F600"));
    EXPECT_EQ(path_to_utf8(path), text);
}

TEST(EntryProcess, NotAPackage) {
    EXPECT_FALSE(runs_from_package());
}

}  // namespace
}  // namespace vorlix
