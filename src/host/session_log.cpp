#include "host/session_log.h"

#include <utility>

namespace vorlix {

SessionLog::SessionLog(std::uint64_t session, const SessionLogLimits& limits)
    : tag_("session " + std::to_string(session) + ": "), limits_(limits), whole_left_(limits.first_lines) {}

void SessionLog::write(std::string kind, std::string_view line) {
    if (whole_left_ > 0) {
        --whole_left_;
        log_line(line);
        return;
    }
    if (!counted_) {
        counted_ = std::make_unique<LinkLog>([](std::string_view text) { log_line(text); },
                                             tag_ + "lines counted since ");
    }
    counted_->note({{std::move(kind), std::string(line)}}, limits_.every);
}

SessionLines::SessionLines(SessionLog* log, std::string kind) {
    if (!log) return;
    diverted_.emplace([log, kind = std::move(kind)](std::string_view line) { log->write(kind, line); });
}

}  // namespace vorlix
