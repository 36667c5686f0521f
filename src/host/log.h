// The process-wide log writer: every line carries the UTC time of day and
// goes to standard error and, once opened, to the log file ("vorlix.log" in
// the data folder). A standard error that may wait for its reader (a pipe)
// is written by a thread of its own, so that a reader that stops reading
// holds up no thread that logs. The file is kept near 4,000,000 bytes: a
// larger one is removed when it is opened, and it is emptied whenever the
// bytes written pass that size.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace vorlix {

// Writes one line; never fails. Any thread may call it.
void log_line(std::string_view message);
// Writes one line whole, whatever diverts the thread's lines: for the logs
// that divert them.
void log_whole_line(std::string_view message);

// While one lives, the lines its thread logs go to `divert` instead; what
// `divert` logs itself is written. Made and let go on one thread, the
// innermost first.
class DivertedLines {
public:
    using Divert = std::function<void(std::string_view)>;
    explicit DivertedLines(Divert divert);
    ~DivertedLines();
    DivertedLines(const DivertedLines&) = delete;
    DivertedLines& operator=(const DivertedLines&) = delete;

private:
    const Divert divert_;
    const Divert* const outer_;
};

// Opens (or replaces) the log file; a file that cannot be opened leaves the
// writer as it was.
void open_log_file(const std::filesystem::path& path);

// Waits at most `wait` for the lines still on their way to standard error;
// true when none is left.
bool flush_standard_error(std::chrono::milliseconds wait);

constexpr std::uint64_t kLogFileLimit = 4'000'000;
// Lines that may wait for standard error's writer before further ones are
// left out of standard error (the file still gets them).
constexpr std::size_t kStandardErrorQueueLines = 256;

// Milliseconds since 1970-01-01 00:00:00 UTC, truncated; 0 for a clock
// before 1970.
std::uint64_t utc_now_millis();

// "HH:MM:SS.mmm" of a time in milliseconds since 1970 (UTC).
std::string format_log_time(std::uint64_t unix_millis);

// "{time} {message}\n", the message made one line by log_safe_text with
// room for kMaxLogMessage bytes.
std::string format_log_line(std::uint64_t unix_millis, std::string_view message);

constexpr std::size_t kMaxLogMessage = 4096;
// Peer-chosen texts (names, models, message names) are cut shorter still.
constexpr std::size_t kMaxLoggedPeerText = 300;

// The text with every control character written as "\xNN", so that it can
// only ever be one line, cut to at most `max_bytes` bytes (never inside a
// UTF-8 sequence) with "..." at the cut.
std::string log_safe_text(std::string_view text, std::size_t max_bytes = kMaxLoggedPeerText);

class LogFile;

// The file side of the writer; log_line and open_log_file use one for the
// whole process. Thread-safe.
class LogWriter {
public:
    LogWriter();
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    void open(const std::filesystem::path& path);
    // Appends one finished line to the file, if one is open.
    void append_line(std::string_view line);

    // The file's size when opened plus what was appended since, 0 after a cut.
    std::uint64_t written() const;
    bool has_file() const;

private:
    mutable std::mutex mutex_;
    std::unique_ptr<LogFile> file_;
    std::uint64_t written_ = 0;
};

// Finished lines on their way to a standard error that may wait for its
// reader, written in order by one thread, started with the first line. Once
// `limit` lines wait, further lines are left out and counted; the next line
// that finds room is preceded by one saying how many were left out.
// Thread-safe; push never waits for the writing.
class StandardErrorQueue {
public:
    using Write = std::function<void(std::string_view)>;
    StandardErrorQueue(Write write, std::size_t limit);
    // Waits until the queued lines are written.
    ~StandardErrorQueue();
    StandardErrorQueue(const StandardErrorQueue&) = delete;
    StandardErrorQueue& operator=(const StandardErrorQueue&) = delete;

    void push(std::string line);
    // Waits at most `wait` until every queued line is written; true when so.
    bool flush(std::chrono::milliseconds wait);
    // Lines left out since the start.
    std::uint64_t dropped() const;

private:
    void run();

    const Write write_;
    const std::size_t limit_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> lines_;
    std::uint64_t dropped_ = 0;
    std::uint64_t untold_ = 0;
    bool writing_ = false;
    bool started_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

// Standard error as the log writes to it: through a StandardErrorQueue when
// `may_block` says a write may wait for its reader, else directly. That is
// asked once, here: the standard handles do not change, and asking the type
// of a synchronous pipe waits behind a write pending on it.
class StandardErrorOutput {
public:
    StandardErrorOutput(const std::function<bool()>& may_block, StandardErrorQueue::Write write, std::size_t limit);

    void write(std::string line);
    // Waits at most `wait` until every queued line is written; true when so.
    bool flush(std::chrono::milliseconds wait);

private:
    const StandardErrorQueue::Write write_;
    std::optional<StandardErrorQueue> queue_;
};

}  // namespace vorlix
