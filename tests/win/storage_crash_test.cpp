// Faults that no handler takes reach the crash log through the process's
// unhandled-exception filter.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "../storage/temp_folder.h"
#include "crash/crash_log.h"
#include "crash/crash_system.h"
#include "util/thread_name.h"

namespace vorlix {
namespace {

std::filesystem::path shared_fault_folder() {
    const char* variable = "VORLIX_TEST_FAULT_FOLDER";
    if (const char* existing = std::getenv(variable)) return existing;
    static test::TempFolder* folder = new test::TempFolder();
    _putenv_s(variable, folder->path().string().c_str());
    return folder->path();
}

TEST(StorageCrashDeathTest, AccessViolationOnANamedThreadIsLogged) {
    const auto folder = shared_fault_folder();
    std::filesystem::remove(folder / "crash.log");
    EXPECT_EXIT(
        {
            set_up_crash_log(folder);
            std::thread worker([] {
                set_current_thread_name("vorlix-input");
                volatile int* nowhere = nullptr;
                *nowhere = 1;
            });
            worker.join();
        },
        [](int code) { return code != 0; }, "");
    const std::string log = test::read_file(folder / "crash.log");
    EXPECT_NE(log.find(" thread vorlix-input\npanicked at <unknown>:0:0:\naccess violation (exception 0xc0000005) at "
                       "test_win.exe+0x"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("\nbacktrace:\n  0: "), std::string::npos) << log;
}

TEST(StorageCrash, BacktraceNamesModulesAndOffsets) {
    const std::string trace = capture_backtrace_text(0);
    EXPECT_EQ(trace.rfind("  0: test_win.exe+0x", 0), 0u) << trace;
    EXPECT_NE(trace.find("\n  1: "), std::string::npos) << trace;
    EXPECT_NE(trace.find("kernel32.dll+0x"), std::string::npos) << trace;
}

}  // namespace
}  // namespace vorlix
