#include "host/session_log.h"

#include <algorithm>
#include <utility>

namespace vorlix {

bool LineBudget::take(Clock::time_point now, std::chrono::milliseconds quiet, bool* refilled) {
    const bool give_back = now - since_ >= quiet;
    if (give_back) left_ = first_;
    if (refilled) *refilled = give_back;
    if (give_back || refill_ == Refill::after_quiet) since_ = now;
    if (left_ == 0) return false;
    --left_;
    return true;
}

// --- a device key's lines --------------------------------------------------------

KeyLog::KeyLog(std::string lead, const SessionLogLimits& limits)
    : lead_(std::move(lead)),
      limits_(limits),
      messages_(limits.first_lines, LineBudget::Refill::after_quiet),
      links_(limits.link_lines, LineBudget::Refill::each_while),
      files_(limits.file_lines, LineBudget::Refill::after_quiet),
      counted_(log_whole_line, lead_ + "lines counted since ") {}

KeyLog::~KeyLog() {
    std::string files;
    {
        std::lock_guard lock(mutex_);
        files = take_files_line();
    }
    if (!files.empty()) log_whole_line(files);
}

void KeyLog::write(Lines lines, std::string kind, std::string_view line) {
    bool whole;
    {
        std::lock_guard lock(mutex_);
        const auto now = Clock::now();
        last_line_ = now;
        LineBudget& budget = lines == Lines::links ? links_ : lines == Lines::files ? files_ : messages_;
        whole = budget.take(now, limits_.quiet());
    }
    if (whole) {
        log_whole_line(line);
    } else {
        counted_.note({{std::move(kind), std::string(line)}}, limits_.every);
    }
}

void KeyLog::write_file(std::string kind, const std::string& folder, const std::string& name, std::string_view line) {
    std::string counts;
    bool whole;
    {
        std::lock_guard lock(mutex_);
        const auto now = Clock::now();
        last_line_ = now;
        bool refilled = false;
        whole = files_.take(now, limits_.quiet(), &refilled);
        // The counts of a burst before a quiet while come before the next file.
        if (refilled) counts = take_files_line();
        if (!whole) {
            if (file_counts_.empty()) files_since_ = utc_now_millis();
            auto found = std::find_if(file_counts_.begin(), file_counts_.end(),
                                      [&](const FileCount& count) { return count.kind == kind; });
            if (found == file_counts_.end()) {
                file_counts_.push_back({std::move(kind), 0, folder, name, {}});
                found = file_counts_.end() - 1;
            }
            ++found->count;
            found->last = name;
            // A flood that never pauses is told once a quiet while.
            if (utc_now_millis() - files_since_ >= static_cast<std::uint64_t>(limits_.quiet().count())) {
                counts = take_files_line();
            }
        }
    }
    if (!counts.empty()) log_whole_line(counts);
    if (whole) log_whole_line(line);
}

void KeyLog::write_end(std::string kind, std::string_view line) {
    bool whole;
    std::string files;
    {
        std::lock_guard lock(mutex_);
        const auto now = Clock::now();
        last_line_ = now;
        whole = links_.take(now, limits_.quiet());
        if (whole) files = take_files_line();
    }
    if (!whole) {
        counted_.note({{std::move(kind), std::string(line)}}, limits_.every);
        return;
    }
    // What the link's lines left counted comes before its end.
    counted_.flush();
    if (!files.empty()) log_whole_line(files);
    log_whole_line(line);
}

bool KeyLog::quiet(Clock::time_point now) {
    std::lock_guard lock(mutex_);
    return now - last_line_ >= limits_.quiet();
}

std::string KeyLog::take_files_line() {
    if (file_counts_.empty()) return {};
    std::string line = lead_ + "files counted since " + format_log_time(files_since_) + ": ";
    for (std::size_t i = 0; i < file_counts_.size(); ++i) {
        const FileCount& count = file_counts_[i];
        if (i) line += "; ";
        line += count.kind + " (" + std::to_string(count.count) + ") in " + count.folder + ", first " + count.first +
                ", last " + count.last;
    }
    file_counts_.clear();
    return line;
}

void log_link_line(SessionLog* log, std::string kind, std::string_view line) {
    if (log) {
        log->key().write(KeyLog::Lines::links, std::move(kind), line);
    } else {
        log_line(line);
    }
}

std::unique_ptr<SessionLog> KeyLogs::open(std::uint64_t session, const Bytes& key, std::string_view name,
                                          const SessionLogLimits& limits) {
    if (key.empty()) {
        return std::make_unique<SessionLog>(
            std::make_shared<KeyLog>("session " + std::to_string(session) + ": ", limits));
    }
    std::vector<std::shared_ptr<KeyLog>> dropped;  // let go unlocked: they write their counts
    std::shared_ptr<KeyLog> log;
    {
        std::lock_guard lock(mutex_);
        const auto now = KeyLog::Clock::now();
        // A log that only this table holds has no link left to take it again meanwhile.
        const auto drop_if = [&](auto&& unused) {
            for (auto it = logs_.begin(); it != logs_.end();) {
                if (it->first != key && it->second.use_count() == 1 && unused(*it->second)) {
                    dropped.push_back(std::move(it->second));
                    it = logs_.erase(it);
                } else {
                    ++it;
                }
            }
        };
        drop_if([&](KeyLog& quiet) { return quiet.quiet(now); });
        if (auto found = logs_.find(key); found != logs_.end()) {
            log = found->second;
        } else {
            if (logs_.size() >= kMaxKeys) drop_if([](KeyLog&) { return true; });
            log = std::make_shared<KeyLog>("device " + log_safe_text(name) + ": ", limits);
            logs_.emplace(key, log);
        }
    }
    return std::make_unique<SessionLog>(std::move(log));
}

void log_file_line(SessionLog* log, std::string kind, const std::string& folder, const std::string& name,
                   std::string_view line) {
    if (log) {
        log->key().write_file(std::move(kind), folder, name, line);
    } else {
        log_line(line);
    }
}

SessionLines::SessionLines(SessionLog* log, std::string kind, KeyLog::Lines lines) {
    if (!log) return;
    diverted_.emplace([log, kind = std::move(kind), lines](std::string_view line) {
        log->key().write(lines, kind, line);
    });
}

FileLines::FileLines(SessionLog* log, std::string folder, std::string name) {
    if (!log) return;
    diverted_.emplace([log, folder = std::move(folder), name = std::move(name)](std::string_view line) {
        // A file that is not opened is refused, unless it could not be created.
        const bool created = line.find("could not create ") == std::string_view::npos;
        log->key().write_file(created ? "refused" : "could not create", folder, name, line);
    });
}

// --- lines of many sources ----------------------------------------------------------

CountedLines::CountedLines(const SessionLogLimits& limits, std::string counted)
    : limits_(limits), whole_(limits.first_lines, LineBudget::Refill::after_quiet), counted_(log_whole_line, std::move(counted)) {}

void CountedLines::write(const std::string& kind, std::string_view line) {
    bool whole;
    {
        std::lock_guard lock(mutex_);
        whole = whole_.take(LineBudget::Clock::now(), limits_.quiet());
    }
    if (whole) {
        log_whole_line(line);
    } else {
        counted_.note({{kind, std::string(line)}}, limits_.every);
    }
}

struct RequestLog::Shared : CountedLines {
    explicit Shared(const SessionLogLimits& limits)
        : CountedLines(limits, "lines of the devices' requests counted since ") {}
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
    if (shared) shared->flush();
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
