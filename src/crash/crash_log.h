// The crash log: when a fatal internal error ends a thread, a dated block with
// the thread, the place, the message and a backtrace is appended to
// "crash.log" in the data folder before the error takes its course. The file
// is kept at 1,000,000 bytes at most by dropping the oldest blocks.
//
// Fatal errors reach the log three ways: fatal_error (below); an exception
// that leaves a thread, or anything else that calls std::terminate; and, on
// Windows, a fault (access violation and the like) that no handler takes.
#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <source_location>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vorlix {

constexpr std::size_t kCrashLogLimit = 1'000'000;

// Stores the folder of "crash.log" (replacing an earlier one) and installs the
// crash hooks once per process.
void set_up_crash_log(const std::filesystem::path& folder);

// Ends the process with a fatal error: the message and the caller's place are
// written to the crash log (through std::terminate, so the terminate handler
// that was in place before still runs).
[[noreturn]] void fatal_error(std::string_view message,
                              std::source_location where = std::source_location::current());

// The exception fatal_error raises; it carries the place of the call.
class FatalError : public std::runtime_error {
public:
    FatalError(std::string_view message, const std::source_location& where)
        : std::runtime_error(std::string(message)), where_(where) {}
    const std::source_location& where() const { return where_; }

private:
    std::source_location where_;
};

// "{year:04}-{month:02}-{day:02}T{hh:02}{mm:02}{ss:02}" of seconds since 1970 (UTC).
std::string format_utc_datetime(std::uint64_t unix_seconds);

// The text of an error payload: the text of a thrown string or character
// array, what() of a std::exception, "unknown" for anything else.
std::string panic_message_text(std::exception_ptr error);

struct CrashReport {
    std::uint64_t unix_seconds = 0;
    std::string thread;     // "vorlix-stream-3", "main", "unnamed"
    std::string place;      // "file:line:column"
    std::string message;
    std::string backtrace;  // multi-line
};

// The block appended to "crash.log" for one report.
std::string crash_block_text(const CrashReport& report);

// The crash log after appending `block` to `old_content`: the block is cut to
// 1,000,000 bytes, and when the whole is longer than that the oldest bytes go,
// up to the start of the first block that lies in the last 1,000,000 bytes
// (or exactly those bytes when none starts there).
std::string crash_log_after_append(std::string old_content, std::string_view block);

// Appends a block to "crash.log" in `folder` through a temporary file; every
// failure is ignored.
void append_crash_block(const std::filesystem::path& folder, std::string_view block);

// What the crash hooks do before handing the error on: when a folder is set
// and free, writes a block for the calling thread with the current time and
// backtrace. Safe to call again from inside itself (the inner call writes nothing).
void write_crash_report(std::string_view message, std::string_view place);

// The name of the calling thread as the crash log gives it.
std::string crash_thread_name();

}  // namespace vorlix
