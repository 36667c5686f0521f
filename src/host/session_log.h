// The lines a signed-in link's messages make. Without a bound, a device that
// sends message after message (an app in a loop, a slider that sends a level
// per pixel dragged) fills the log until it is emptied, its own sign-in with
// it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "host/link_limits.h"
#include "host/log.h"

namespace vorlix {

struct SessionLogLimits {
    // A link's first lines are all written: a sign-in brings a few messages
    // at once (the device's details, its stream settings, its levels).
    std::size_t first_lines = 16;
    // Past those, one line in this time at most is written whole, the rest
    // as counts by the message that made them (0: every line is written).
    std::chrono::milliseconds every{1000};
};

// The message lines of one signed-in link, used on its session thread only.
// Past its first lines they go through a link log of the link's own, so that
// one device's flood never counts another's lines. Its thread exists only
// while counts wait to be written, and is woken and joined when this is let
// go, before the link's end is logged; the counts are written then at the
// latest.
class SessionLog {
public:
    SessionLog(std::uint64_t session, const SessionLogLimits& limits);

    // One line, counted under `kind` when it is not written whole.
    void write(std::string kind, std::string_view line);

private:
    const std::string tag_;
    const SessionLogLimits limits_;
    std::size_t whole_left_;
    std::unique_ptr<LinkLog> counted_;  // made when the first lines are used up
};

// While one lives, the lines its thread logs are `log`'s, counted under
// `kind`; with no log they are written as they come.
class SessionLines {
public:
    SessionLines(SessionLog* log, std::string kind);

private:
    std::optional<DivertedLines> diverted_;
};

// The lines that devices' requests make on threads other than their
// sessions' (the platform's service threads, a screenshot's thread). While a
// RequestLog lives, they go through one counted log for the process: its
// first lines after a quiet while (`kLongestWait` times `every` without such
// a line) are written whole, past those one a while, and the rest as counts
// by request. Any thread may log through it. Several may live at once: they
// share the first one's log, and the counts are written at the latest when
// the last of them (or a RequestLines still using it) is let go. Without one
// the lines are written as they come.
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
