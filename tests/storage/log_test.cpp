#include "host/log.h"
#include "host/log_file.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "temp_folder.h"

namespace vorlix {
namespace {

using test::read_file;
using test::TempFolder;
using test::write_file;

TEST(LogLine, TimeOfDayTextIsUtcWithMillisecondsTruncated) {
    EXPECT_EQ(format_log_time(999), "00:00:00.999");
    EXPECT_EQ(format_log_time(999 + 25ull * 3600 * 1000), "01:00:00.999");
    // 07:05:09.042 on some later day.
    const std::uint64_t at = 19000ull * 86400 * 1000 + ((7 * 60 + 5) * 60 + 9) * 1000ull + 42;
    EXPECT_EQ(format_log_line(at, "quitting"), "07:05:09.042 quitting\n");
    EXPECT_EQ(format_log_line(0, "two\nlines\r\x7f"), "00:00:00.000 two\\x0alines\\x0d\\x7f\n");
    EXPECT_EQ(format_log_time(86399999), "23:59:59.999");
}

TEST(LogWriter, FileOfExactlyTheLimitIsKeptAndAppendedTo) {
    TempFolder folder;
    const auto path = folder / "vorlix.log";
    write_file(path, std::string(4'000'000, 'x'));
    LogWriter writer;
    writer.open(path);
    ASSERT_TRUE(writer.has_file());
    EXPECT_EQ(writer.written(), 4'000'000u);
    const std::string line = format_log_line(0, "relay: hello");
    writer.append_line(line);
    EXPECT_EQ(std::filesystem::file_size(path), 4'000'000u + line.size());
    EXPECT_EQ(writer.written(), 4'000'000u + line.size());
}

TEST(LogWriter, FileOverTheLimitIsRemovedAtOpening) {
    TempFolder folder;
    const auto path = folder / "vorlix.log";
    write_file(path, std::string(4'000'001, 'x'));
    LogWriter writer;
    writer.open(path);
    EXPECT_EQ(writer.written(), 0u);
    const std::string line = format_log_line(0, "first");
    writer.append_line(line);
    EXPECT_EQ(read_file(path), line);
}

TEST(LogWriter, KeptSizeCountsAndTheLineAfterPassingTheLimitEmptiesTheFile) {
    TempFolder folder;
    const auto path = folder / "vorlix.log";
    write_file(path, std::string(3'999'990, 'x'));
    LogWriter writer;
    writer.open(path);
    EXPECT_EQ(writer.written(), 3'999'990u);
    const std::string first = format_log_line(1000, "session 1: signed in");
    writer.append_line(first);
    EXPECT_EQ(writer.written(), 3'999'990u + first.size());
    EXPECT_EQ(std::filesystem::file_size(path), 3'999'990u + first.size());
    const std::string second = format_log_line(2000, "session 1: closed");
    writer.append_line(second);
    EXPECT_EQ(read_file(path), second);
    EXPECT_EQ(writer.written(), second.size());
}

TEST(LogWriter, OpeningAnotherFileReplacesTheFirstAndAFailedOpenChangesNothing) {
    TempFolder folder;
    LogWriter writer;
    writer.append_line("no file yet\n");  // ignored
    EXPECT_FALSE(writer.has_file());
    writer.open(folder / "missing-folder" / "vorlix.log");
    EXPECT_FALSE(writer.has_file());

    writer.open(folder / "a.log");
    writer.append_line("one\n");
    writer.open(folder / "no-such-folder" / "b.log");  // keeps a.log
    writer.append_line("two\n");
    EXPECT_EQ(read_file(folder / "a.log"), "one\ntwo\n");
    writer.open(folder / "b.log");
    writer.append_line("three\n");
    EXPECT_EQ(read_file(folder / "a.log"), "one\ntwo\n");
    EXPECT_EQ(read_file(folder / "b.log"), "three\n");
}

TEST(LogWriter, LinesFromManyThreadsStayWhole) {
    TempFolder folder;
    LogWriter writer;
    writer.open(folder / "vorlix.log");
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&writer, t] {
            for (int i = 0; i < 200; ++i) {
                writer.append_line(format_log_line(0, "thread " + std::to_string(t) + " line " + std::to_string(i) +
                                                          " " + std::string(64, static_cast<char>('a' + t))));
            }
        });
    }
    for (auto& thread : threads) thread.join();
    const std::string content = read_file(folder / "vorlix.log");
    EXPECT_EQ(writer.written(), content.size());
    std::size_t lines = 0;
    for (std::size_t at = 0; at < content.size();) {
        const std::size_t end = content.find('\n', at);
        ASSERT_NE(end, std::string::npos);
        const std::string line = content.substr(at, end - at);
        const char fill = line.back();
        EXPECT_EQ(line.substr(line.size() - 64), std::string(64, fill)) << line;
        ++lines;
        at = end + 1;
    }
    EXPECT_EQ(lines, 8u * 200u);
}

TEST(LogLine, ProcessWriterAppendsTimedLines) {
    TempFolder folder;
    open_log_file(folder / "vorlix.log");
    log_line("storage: first");
    log_line("storage: second");
    const std::string content = read_file(folder / "vorlix.log");
    const std::regex shape(R"(\d\d:\d\d:\d\d\.\d\d\d storage: first\n\d\d:\d\d:\d\d\.\d\d\d storage: second\n)");
    EXPECT_TRUE(std::regex_match(content, shape)) << content;
}

// The first line of the process asks the type of standard error; no later one does.
TEST(LogLine, AsksTheTypeOfStandardErrorOnceInTheProcess) {
    for (int i = 0; i < 100; ++i) log_line("storage: line " + std::to_string(i));
    EXPECT_EQ(standard_error_type_asks(), 1u);
}

TEST(StandardErrorQueue, AReaderThatDoesNotReadHoldsUpNoLineAndLeftOutLinesAreCounted) {
    std::mutex mutex;
    std::condition_variable changed;
    bool writing = false;
    bool reading = false;
    std::vector<std::string> written;
    StandardErrorQueue queue(
        [&](std::string_view line) {
            std::unique_lock lock(mutex);
            writing = true;
            changed.notify_all();
            changed.wait(lock, [&] { return reading; });  // a pipe nobody reads yet
            written.emplace_back(line);
        },
        4);
    queue.push("first\n");
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return writing; }));
    }
    for (int i = 0; i < 1000; ++i) queue.push("line " + std::to_string(i) + "\n");
    EXPECT_EQ(queue.dropped(), 996u);
    EXPECT_FALSE(queue.flush(std::chrono::milliseconds(1)));
    {
        std::lock_guard lock(mutex);
        reading = true;
    }
    changed.notify_all();
    ASSERT_TRUE(queue.flush(std::chrono::seconds(10)));
    queue.push("after\n");
    queue.push("last\n");  // the left-out line is said once
    ASSERT_TRUE(queue.flush(std::chrono::seconds(10)));
    std::lock_guard lock(mutex);
    ASSERT_EQ(written.size(), 8u);
    EXPECT_EQ(written[0], "first\n");
    EXPECT_EQ(written[4], "line 3\n");
    EXPECT_TRUE(std::regex_match(written[5], std::regex(R"(\d\d:\d\d:\d\d\.\d\d\d log: 996 lines were left out of standard error \(it was not being read\)\n)")))
        << written[5];
    EXPECT_EQ(written[6], "after\n");
    EXPECT_EQ(written[7], "last\n");
}

// The type of standard error is asked once, however many lines follow; one
// that may wait is written by the queue's thread, any other by the caller.
TEST(StandardErrorOutput, AsksOnceWhetherToQueue) {
    for (const bool may_block : {false, true}) {
        int asked = 0;
        std::vector<std::thread::id> writers;
        {
            StandardErrorOutput output([&] { return ++asked, may_block; },
                                       [&](std::string_view) { writers.push_back(std::this_thread::get_id()); }, 1000);
            for (int i = 0; i < 100; ++i) output.write("line\n");
            EXPECT_TRUE(output.flush(std::chrono::seconds(10)));
        }
        EXPECT_EQ(asked, 1) << may_block;
        ASSERT_EQ(writers.size(), 100u) << may_block;
        EXPECT_EQ(writers.front() != std::this_thread::get_id(), may_block);
    }
}

}  // namespace
}  // namespace vorlix
