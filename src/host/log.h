// The process-wide log writer: every line carries the UTC time of day and
// goes to standard error and, once opened, to the log file ("vorlix.log" in
// the data folder). The file is kept near 4,000,000 bytes: a larger one is
// removed when it is opened, and it is emptied whenever the bytes written
// pass that size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace vorlix {

// Writes one line; never fails. Any thread may call it.
void log_line(std::string_view message);

// Opens (or replaces) the log file; a file that cannot be opened leaves the
// writer as it was.
void open_log_file(const std::filesystem::path& path);

constexpr std::uint64_t kLogFileLimit = 4'000'000;

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

}  // namespace vorlix
