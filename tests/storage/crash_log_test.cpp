#include "crash/crash_log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "temp_folder.h"
#include "util/thread_name.h"

namespace vorlix {
namespace {

using test::read_file;
using test::TempFolder;
using test::write_file;

const std::string kDot = "\xC2\xB7";

std::string block_of(std::size_t size, char fill) {
    // "=== " + filler + "\n\n", `size` bytes in all.
    return "=== " + std::string(size - 6, fill) + "\n\n";
}

TEST(CrashLog, DateTexts) {
    EXPECT_EQ(format_utc_datetime(0), "1970-01-01T000000");
    EXPECT_EQ(format_utc_datetime(1'700'000'000), "2023-11-14T221320");
    EXPECT_EQ(format_utc_datetime(951'782'400), "2000-02-29T000000");
    EXPECT_EQ(format_utc_datetime(4'102'444'799), "2099-12-31T235959");
    EXPECT_EQ(format_utc_datetime(253'402'300'800), "10000-01-01T000000");
}

TEST(CrashLog, BlockLayout) {
    CrashReport report;
    report.unix_seconds = 1'700'000'000;
    report.thread = "main";
    report.place = "src/host/state.cpp:10:5";
    report.message = "the system has no random source";
    report.backtrace = "  0: a\n  1: b";
    EXPECT_EQ(crash_block_text(report),
              "=== 2023-11-14T221320 UTC " + kDot + " Vorlix 1.3.3 (host 1.2) for Windows " + kDot +
                  " thread main\npanicked at src/host/state.cpp:10:5:\nthe system has no random source\n"
                  "backtrace:\n  0: a\n  1: b\n\n");
}

TEST(CrashLog, MessageTextOfErrorPayloads) {
    auto payload = [](auto value) { return std::make_exception_ptr(value); };
    EXPECT_EQ(panic_message_text(payload(std::string("owned text"))), "owned text");
    EXPECT_EQ(panic_message_text(payload("static text")), "static text");
    EXPECT_EQ(panic_message_text(payload(std::runtime_error("from an exception"))), "from an exception");
    EXPECT_EQ(panic_message_text(payload(42)), "unknown");
    EXPECT_EQ(panic_message_text(nullptr), "unknown");
}

TEST(CrashLogTrim, ShortLogsGrowUnchanged) {
    const std::string old = block_of(100, 'a');
    EXPECT_EQ(crash_log_after_append(old, block_of(50, 'b')), old + block_of(50, 'b'));
}

TEST(CrashLogTrim, CutMovesToTheFirstBlockInTheKeptBytes) {
    // 999,900 bytes of old blocks (999 of 1,000 bytes and one of 900), then a 300-byte block.
    std::string old;
    for (int i = 0; i < 999; ++i) old += block_of(1000, 'a');
    old += block_of(900, 'c');
    ASSERT_EQ(old.size(), 999'900u);
    const std::string block = block_of(300, 'z');
    const std::string result = crash_log_after_append(old, block);
    // 1,000,200 bytes before the cut: the cut point (200) lies inside the first
    // block, so the whole first block goes.
    EXPECT_EQ(result.size(), 999'900u + 300u - 1000u);
    EXPECT_EQ(result.substr(0, 4), "=== ");
    EXPECT_EQ(result, old.substr(1000) + block);
}

TEST(CrashLogTrim, BlockStartingExactlyAtTheCutPointIsKept) {
    // The cut point is 1,000: exactly where the second block starts.
    std::string old = block_of(1000, 'a') + block_of(998'000, 'b');
    const std::string block = block_of(2000, 'z');
    const std::string result = crash_log_after_append(old, block);
    EXPECT_EQ(result.size(), 1'000'000u);
    EXPECT_EQ(result, block_of(998'000, 'b') + block);
}

TEST(CrashLogTrim, WithoutABlockHeaderExactlyTheLastMillionBytesRemain) {
    // The only header lies before the cut point; a header that would not fit
    // wholly at the very end does not count either.
    const std::string old = block_of(100, 'a') + std::string(999'950, 'x');
    const std::string block = std::string(200, 'y') + "\n===";
    const std::string result = crash_log_after_append(old, block);
    EXPECT_EQ(result.size(), 1'000'000u);
    EXPECT_EQ(result, (old + block).substr(old.size() + block.size() - 1'000'000));
}

TEST(CrashLogTrim, OversizedBlockIsCutToItsFirstMillionBytes) {
    const std::string old = block_of(5000, 'a');
    std::string block = "=== " + std::string(1'200'000, 'b');
    const std::string result = crash_log_after_append(old, block);
    EXPECT_EQ(result, block.substr(0, 1'000'000));
    EXPECT_EQ(crash_log_after_append("", block), block.substr(0, 1'000'000));
}

TEST(CrashLogFile, BlocksAreAppendedThroughATemporaryFile) {
    TempFolder folder;
    append_crash_block(folder.path(), block_of(100, 'a'));
    append_crash_block(folder.path(), block_of(50, 'b'));
    EXPECT_EQ(read_file(folder / "crash.log"), block_of(100, 'a') + block_of(50, 'b'));
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1);  // no temporary file left behind

    // A crash log that cannot be written (its folder is gone) is skipped quietly.
    append_crash_block(folder / "missing", block_of(100, 'c'));
    EXPECT_FALSE(std::filesystem::exists(folder / "missing"));
}

TEST(CrashLogFile, ReportNamesTheThreadAndCarriesABacktrace) {
    TempFolder folder;
    set_up_crash_log(folder.path());
    std::thread stream([] {
        set_current_thread_name("vorlix-stream-3");
        write_crash_report("encoder gave up", "src/h264/encoder.cpp:12:7");
    });
    stream.join();
    std::thread unnamed([] { write_crash_report("x", "y:1:2"); });
    unnamed.join();
    write_crash_report("on main", "z:3:4");

    const std::string log = read_file(folder / "crash.log");
    const std::size_t first_end = log.find('\n');
    ASSERT_NE(first_end, std::string::npos);
    EXPECT_EQ(log.substr(0, 4), "=== ");
    EXPECT_TRUE(log.substr(0, first_end).ends_with(kDot + " thread vorlix-stream-3")) << log;
    EXPECT_NE(log.find("\npanicked at src/h264/encoder.cpp:12:7:\nencoder gave up\nbacktrace:\n  "),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(kDot + " thread unnamed\npanicked at y:1:2:\nx\n"), std::string::npos);
    EXPECT_NE(log.find(kDot + " thread main\npanicked at z:3:4:\non main\n"), std::string::npos);
    EXPECT_TRUE(log.ends_with("\n\n"));

    // Setting the log up again moves it to the new folder.
    TempFolder other;
    set_up_crash_log(other.path());
    write_crash_report("elsewhere", "w:5:6");
    EXPECT_EQ(read_file(folder / "crash.log"), log);
    EXPECT_NE(read_file(other / "crash.log").find("\nelsewhere\n"), std::string::npos);
    set_up_crash_log(folder / "gone");
}

// Death tests run the test again in a child process; the folder is handed to
// the child through the environment so that both look at the same one.
std::filesystem::path shared_death_folder(const char* variable) {
    if (const char* existing = std::getenv(variable)) return existing;
    static TempFolder* folder = new TempFolder();  // lives until the parent ends
    const std::string text = folder->path().string();
#ifdef _WIN32
    _putenv_s(variable, text.c_str());
#else
    setenv(variable, text.c_str(), 1);
#endif
    return folder->path();
}

TEST(CrashLogDeathTest, FatalErrorWritesMessageAndPlace) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto folder = shared_death_folder("VORLIX_TEST_FATAL_FOLDER");
    std::filesystem::remove(folder / "crash.log");
    EXPECT_DEATH(
        {
            set_up_crash_log(folder);
            fatal_error("the system has no random source");
        },
        "");
    const std::string log = read_file(folder / "crash.log");
    EXPECT_NE(log.find(" thread main\npanicked at "), std::string::npos) << log;
    EXPECT_NE(log.find("crash_log_test.cpp:"), std::string::npos) << log;
    EXPECT_NE(log.find(":\nthe system has no random source\nbacktrace:\n"), std::string::npos) << log;
}

TEST(CrashLogDeathTest, ExceptionLeavingANamedThreadIsLogged) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto folder = shared_death_folder("VORLIX_TEST_THREAD_FOLDER");
    std::filesystem::remove(folder / "crash.log");
    EXPECT_DEATH(
        {
            set_up_crash_log(folder);
            std::thread worker([] {
                set_current_thread_name("vorlix-stream-3");
                throw std::runtime_error("stream #3: lost the encoder");
            });
            worker.join();
        },
        "");
    const std::string log = read_file(folder / "crash.log");
    EXPECT_NE(log.find(" thread vorlix-stream-3\npanicked at <unknown>:0:0:\nstream #3: lost the encoder\n"),
              std::string::npos)
        << log;
}

}  // namespace
}  // namespace vorlix
