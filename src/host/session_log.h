// The lines a signed-in link's messages make. Without a bound, a device that
// sends message after message (an app in a loop, a slider that sends a level
// per pixel dragged) fills the log until it is emptied, its own sign-in with
// it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
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

}  // namespace vorlix
