#include "host/session_log.h"

#include <utility>

namespace vorlix {

namespace {

// The link log words its count lines for links that never signed in; here
// they are the counts of one session's lines.
constexpr std::string_view kLinkCounts = "links that did not sign in since ";

}  // namespace

SessionLog::SessionLog(std::uint64_t session, const SessionLogLimits& limits)
    : tag_("session " + std::to_string(session) + ": "), limits_(limits), whole_left_(limits.first_lines) {}

void SessionLog::write(std::string kind, std::string_view line) {
    if (whole_left_ > 0) {
        --whole_left_;
        log_line(line);
        return;
    }
    if (!counted_) {
        counted_ = std::make_unique<LinkLog>([tag = tag_](std::string_view text) {
            if (text.starts_with(kLinkCounts)) {
                log_line(tag + "lines counted since " + std::string(text.substr(kLinkCounts.size())));
            } else {
                log_line(text);
            }
        });
    }
    counted_->note({{std::move(kind), std::string(line)}}, limits_.every);
}

SessionLines::SessionLines(SessionLog* log, std::string kind) {
    if (!log) return;
    diverted_.emplace([log, kind = std::move(kind)](std::string_view line) { log->write(kind, line); });
}

}  // namespace vorlix
