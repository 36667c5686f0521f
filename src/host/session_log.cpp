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

struct RequestLog::Shared {
    explicit Shared(const SessionLogLimits& limits)
        : limits(limits), whole_left(limits.first_lines),
          counted([](std::string_view text) { log_line(text); }, "lines of the devices' requests counted since ") {}

    void write(const std::string& kind, std::string_view line) {
        bool whole;
        {
            std::lock_guard lock(mutex);
            const auto now = std::chrono::steady_clock::now();
            if (now - last_line >= limits.every * LinkLog::kLongestWait) whole_left = limits.first_lines;
            last_line = now;
            whole = whole_left > 0;
            if (whole) --whole_left;
        }
        if (whole) {
            log_line(line);
        } else {
            counted.note({{kind, std::string(line)}}, limits.every);
        }
    }

    const SessionLogLimits limits;
    std::mutex mutex;
    std::size_t whole_left;
    std::chrono::steady_clock::time_point last_line = std::chrono::steady_clock::now();
    LinkLog counted;  // let go last: its counts are written then
};

namespace {

std::mutex g_request_log_mutex;
std::weak_ptr<RequestLog::Shared> g_request_log;

}  // namespace

RequestLog::RequestLog(const SessionLogLimits& limits) {
    std::lock_guard lock(g_request_log_mutex);
    shared_ = g_request_log.lock();
    if (shared_) return;
    shared_ = std::make_shared<Shared>(limits);
    g_request_log = shared_;
}

void flush_request_lines() {
    std::shared_ptr<RequestLog::Shared> shared;
    {
        std::lock_guard lock(g_request_log_mutex);
        shared = g_request_log.lock();
    }
    if (shared) shared->counted.flush();
}

RequestLines::RequestLines(std::string kind) {
    {
        std::lock_guard lock(g_request_log_mutex);
        shared_ = g_request_log.lock();
    }
    if (!shared_) return;
    diverted_.emplace([shared = shared_.get(), kind = std::move(kind)](std::string_view line) {
        shared->write(kind, line);
    });
}

}  // namespace vorlix
