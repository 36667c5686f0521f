// The lines signed-in links make. Without a bound, a device that sends
// message after message (an app in a loop, a slider that sends a level per
// pixel dragged), or opens link after link, fills the log until it is
// emptied, other devices' sign-ins with it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files/file_transfers.h"
#include "host/link_limits.h"
#include "host/log.h"
#include "util/bytes.h"

namespace vorlix {

struct SessionLogLimits {
    // A device's first message lines after a quiet while are all written: a
    // sign-in brings a few messages at once (the device's details, its
    // stream settings, its levels).
    std::size_t first_lines = 16;
    // Past a budget, one line in this time at most is written whole, the
    // rest as counts by what made them (0: every line is written).
    std::chrono::milliseconds every{1000};
    // A device's connection, sign-in and end lines written whole in a while
    // (`quiet()`): a phone opens a few links, each of three or four lines.
    std::size_t link_lines = 12;
    // A device's lines of where its files went, written whole after a quiet
    // while: each file it may hold open, and as many refused past those.
    std::size_t file_lines = 2 * kMaxOpenIncomingFiles;

    // The quiet while that gives a budget back: a minute for the host's second.
    std::chrono::milliseconds quiet() const { return every * LinkLog::kLongestWait; }
};

// Whole lines of one source: `first` of them, given back after a quiet while
// (no line for that long), or at the start of each while.
class LineBudget {
public:
    using Clock = std::chrono::steady_clock;
    enum class Refill : std::uint8_t { after_quiet, each_while };
    LineBudget(std::size_t first, Refill refill) : first_(first), left_(first), refill_(refill) {}

    // Takes one whole line; false past the budget. `refilled` tells that the
    // budget was given back for this line.
    bool take(Clock::time_point now, std::chrono::milliseconds quiet, bool* refilled = nullptr);

private:
    const std::size_t first_;
    std::size_t left_;
    const Refill refill_;
    Clock::time_point since_ = Clock::now();
};

// The lines of one device key's signed-in links, shared by them: a device
// that reconnects in a loop is one source however many links it opens. Its
// message lines, its links' connection, sign-in and end lines and its files'
// outcomes each have a budget of whole lines; past it, lines go to one link
// log of the key's own, counted by kind, and files' outcomes are counted by
// outcome with their folder and first and last names. What is counted is
// written before a link's end line that is written whole, and at the latest
// when this is let go. Thread-safe.
class KeyLog {
public:
    enum class Lines : std::uint8_t { messages, links, files };
    using Clock = LineBudget::Clock;

    // `lead` begins each count line.
    KeyLog(std::string lead, const SessionLogLimits& limits);
    ~KeyLog();
    KeyLog(const KeyLog&) = delete;
    KeyLog& operator=(const KeyLog&) = delete;

    // A message or link line, counted under `kind` when not written whole.
    void write(Lines lines, std::string kind, std::string_view line);
    // A file's outcome, `name` in `folder`.
    void write_file(std::string kind, const std::string& folder, const std::string& name, std::string_view line);
    // A link's end line (of the link lines).
    void write_end(std::string kind, std::string_view line);

    // Whether no line came for the quiet while that gives budgets back.
    bool quiet(Clock::time_point now);

private:
    struct FileCount {
        std::string kind;
        std::uint64_t count = 0;
        std::string folder;
        std::string first;
        std::string last;
    };
    // The line of the files counted, which are cleared; empty when none.
    std::string take_files_line();

    const std::string lead_;
    const SessionLogLimits limits_;
    std::mutex mutex_;
    LineBudget messages_;
    LineBudget links_;
    LineBudget files_;
    Clock::time_point last_line_ = Clock::now();
    std::vector<FileCount> file_counts_;
    std::uint64_t files_since_ = 0;  // UTC milliseconds
    LinkLog counted_;
};

// The log of one signed-in link: its key's, or one of its own for a link of
// no key (a browser). Used on its session thread.
class SessionLog {
public:
    explicit SessionLog(std::shared_ptr<KeyLog> key) : key_(std::move(key)) {}

    // A line of the link's messages, counted under `kind` past the budget.
    void write(std::string kind, std::string_view line) { key_->write(KeyLog::Lines::messages, std::move(kind), line); }
    KeyLog& key() { return *key_; }

private:
    std::shared_ptr<KeyLog> key_;
};

// A connection, sign-in or end line of a link: its log's, or written whole
// without one.
void log_link_line(SessionLog* log, std::string kind, std::string_view line);

// A file's outcome (`kind`: saved, could not create, refused) for `name` in
// `folder`: its log's, or written whole without one.
void log_file_line(SessionLog* log, std::string kind, const std::string& folder, const std::string& name,
                   std::string_view line);

// The logs of the device keys whose links signed in, each dropped once none
// of its links is left and it was quiet for a while; at most kMaxKeys of
// them. Thread-safe.
class KeyLogs {
public:
    // The log of a new link of `key`, named `name` in count lines; an empty
    // key gives the link a log of its own, led by its session.
    std::unique_ptr<SessionLog> open(std::uint64_t session, const Bytes& key, std::string_view name,
                                     const SessionLogLimits& limits);

    static constexpr std::size_t kMaxKeys = 64;

private:
    std::mutex mutex_;
    std::map<Bytes, std::shared_ptr<KeyLog>> logs_;
};

// While one lives, the lines its thread logs are `log`'s `lines`, counted
// under `kind`; with no log they are written as they come.
class SessionLines {
public:
    SessionLines(SessionLog* log, std::string kind, KeyLog::Lines lines = KeyLog::Lines::messages);

private:
    std::optional<DivertedLines> diverted_;
};

// While one lives, the lines its thread logs tell that the file `name` in
// `folder` could not be created or was refused.
class FileLines {
public:
    FileLines(SessionLog* log, std::string folder, std::string name);

private:
    std::optional<DivertedLines> diverted_;
};

// Lines of many sources of one kind: its first lines after a quiet while
// (`quiet()` without such a line) are written whole, past those one a while,
// and the rest as counts by kind, led by `counted`. Thread-safe.
class CountedLines {
public:
    CountedLines(const SessionLogLimits& limits, std::string counted);
    void write(const std::string& kind, std::string_view line);
    // Writes what is counted now.
    void flush() { counted_.flush(); }

private:
    const SessionLogLimits limits_;
    std::mutex mutex_;
    LineBudget whole_;
    LinkLog counted_;  // let go last: its counts are written then
};

// The lines that devices' requests make on threads other than their
// sessions' (the platform's service threads, a screenshot's thread). While a
// RequestLog lives, they go through one CountedLines for the process, by
// request. Any thread may log through it. Several may live at once: they
// share the first one's, and the counts are written at the latest when the
// last of them (or a RequestLines still using it) is let go. Without one the
// lines are written as they come.
class RequestLog {
public:
    explicit RequestLog(const SessionLogLimits& limits = {});
    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
};

// Writes what the process's RequestLog has counted, if one lives: at quit,
// for a platform still held past its owner's release.
void flush_request_lines();

// While one lives, the lines its thread logs are made by a device's request,
// counted under `kind` (the request's message name).
class RequestLines {
public:
    explicit RequestLines(std::string kind);

private:
    std::shared_ptr<RequestLog::Shared> shared_;
    std::optional<DivertedLines> diverted_;
};

}  // namespace vorlix
