#include "host/log.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <system_error>
#include <utility>

#include "host/log_file.h"
#include "util/thread_name.h"

namespace vorlix {
namespace {

LogWriter& process_writer() {
    // Never destroyed: threads may still log while the process ends.
    static LogWriter* writer = new LogWriter();
    return *writer;
}

void two_digits(std::string& out, unsigned value) {
    out.push_back(static_cast<char>('0' + value / 10 % 10));
    out.push_back(static_cast<char>('0' + value % 10));
}

StandardErrorOutput& standard_error() {
    // Never destroyed, like the writer; its thread may be stuck on a reader
    // that never reads until the process ends. Made by the first line, so
    // the type of standard error is asked before its thread can exist.
    static StandardErrorOutput* output =
        new StandardErrorOutput(standard_error_may_block, write_standard_error, kStandardErrorQueueLines);
    return *output;
}

}  // namespace

std::uint64_t utc_now_millis() {
    auto since_epoch = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    return since_epoch.count() < 0 ? 0 : static_cast<std::uint64_t>(since_epoch.count());
}

std::string format_log_time(std::uint64_t unix_millis) {
    const std::uint64_t seconds = unix_millis / 1000;
    const auto millis = static_cast<unsigned>(unix_millis % 1000);
    std::string out;
    out.reserve(12);
    two_digits(out, static_cast<unsigned>(seconds / 3600 % 24));
    out.push_back(':');
    two_digits(out, static_cast<unsigned>(seconds / 60 % 60));
    out.push_back(':');
    two_digits(out, static_cast<unsigned>(seconds % 60));
    out.push_back('.');
    out.push_back(static_cast<char>('0' + millis / 100));
    two_digits(out, millis % 100);
    return out;
}

std::string log_safe_text(std::string_view text, std::size_t max_bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    const std::size_t room = max_bytes < 3 ? 0 : max_bytes - 3;  // for "..."
    std::string out;
    std::size_t cut = 0;  // the end of the last whole character within `room`
    for (std::size_t i = 0; i < text.size() && out.size() <= max_bytes; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            out += "\\x";
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        } else {
            out.push_back(static_cast<char>(c));
        }
        const bool continues = i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80;
        if (!continues && out.size() <= room) cut = out.size();
    }
    if (out.size() <= max_bytes) return out;
    out.resize(cut);
    return out + "...";
}

std::string format_log_line(std::uint64_t unix_millis, std::string_view message) {
    std::string line = format_log_time(unix_millis);
    line.push_back(' ');
    line += log_safe_text(message, kMaxLogMessage);
    line.push_back('\n');
    return line;
}

LogWriter::LogWriter() = default;
LogWriter::~LogWriter() = default;

void LogWriter::open(const std::filesystem::path& path) {
    if (auto size = file_size_of(path); size && *size > kLogFileLimit) {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
    std::unique_ptr<LogFile> file = LogFile::open_append(path);
    if (!file) return;
    const std::uint64_t size = file->size().value_or(0);
    std::unique_ptr<LogFile> previous;
    {
        std::lock_guard lock(mutex_);
        previous = std::move(file_);
        file_ = std::move(file);
        written_ = size;
    }
}

void LogWriter::append_line(std::string_view line) {
    std::lock_guard lock(mutex_);
    if (!file_) return;
    // The check comes first: the line that finds the file over the limit is
    // the first line of the emptied file.
    if (written_ > kLogFileLimit && file_->cut()) written_ = 0;
    if (file_->append(line)) written_ += line.size();
}

std::uint64_t LogWriter::written() const {
    std::lock_guard lock(mutex_);
    return written_;
}

bool LogWriter::has_file() const {
    std::lock_guard lock(mutex_);
    return file_ != nullptr;
}

StandardErrorQueue::StandardErrorQueue(Write write, std::size_t limit) : write_(std::move(write)), limit_(limit) {}

StandardErrorQueue::~StandardErrorQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void StandardErrorQueue::push(std::string line) {
    {
        std::lock_guard lock(mutex_);
        if (!started_) {
            started_ = true;
            try {
                thread_ = std::thread([this] { run(); });
            } catch (const std::system_error&) {
                // Without the writer the lines wait, and are left out once full.
            }
        }
        if (lines_.size() >= limit_) {
            ++dropped_;
            ++untold_;
            return;
        }
        if (untold_ != 0) {
            const std::string told = "log: " + std::to_string(untold_) +
                                     " lines were left out of standard error (it was not being read)";
            lines_.push_back(format_log_line(utc_now_millis(), told));
            untold_ = 0;
        }
        lines_.push_back(std::move(line));
    }
    changed_.notify_all();
}

bool StandardErrorQueue::flush(std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, wait, [&] { return lines_.empty() && !writing_; });
}

std::uint64_t StandardErrorQueue::dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

void StandardErrorQueue::run() {
    set_current_thread_name("vorlix-log");
    std::unique_lock lock(mutex_);
    while (true) {
        changed_.wait(lock, [&] { return !lines_.empty() || stopping_; });
        if (lines_.empty()) return;
        const std::string line = std::move(lines_.front());
        lines_.pop_front();
        writing_ = true;
        lock.unlock();
        write_(line);
        lock.lock();
        writing_ = false;
        changed_.notify_all();
    }
}

StandardErrorOutput::StandardErrorOutput(const std::function<bool()>& may_block, StandardErrorQueue::Write write,
                                         std::size_t limit)
    : write_(std::move(write)) {
    if (may_block()) queue_.emplace(write_, limit);
}

void StandardErrorOutput::write(std::string line) {
    if (queue_) {
        queue_->push(std::move(line));
    } else {
        write_(line);
    }
}

bool StandardErrorOutput::flush(std::chrono::milliseconds wait) { return !queue_ || queue_->flush(wait); }

namespace {
thread_local const DivertedLines::Divert* t_divert = nullptr;
}  // namespace

DivertedLines::DivertedLines(Divert divert) : divert_(std::move(divert)), outer_(t_divert) { t_divert = &divert_; }

DivertedLines::~DivertedLines() { t_divert = outer_; }

void log_line(std::string_view message) {
    if (const DivertedLines::Divert* divert = t_divert) {
        // The diverted line's own writing is not diverted again.
        struct Restore {
            const DivertedLines::Divert* divert;
            ~Restore() { t_divert = divert; }
        } restore{divert};
        t_divert = nullptr;
        try {
            (*divert)(message);
        } catch (const std::exception&) {
            // A line that cannot be kept is lost, as one the file refuses.
        }
        return;
    }
    log_whole_line(message);
}

void log_whole_line(std::string_view message) {
    const std::string line = format_log_line(utc_now_millis(), message);
    standard_error().write(line);
    process_writer().append_line(line);
}

bool flush_standard_error(std::chrono::milliseconds wait) { return standard_error().flush(wait); }

void open_log_file(const std::filesystem::path& path) { process_writer().open(path); }

}  // namespace vorlix
