#include "host/link_limits.h"

#include <algorithm>
#include <iterator>
#include <system_error>
#include <utility>

#include "host/log.h"
#include "net/ip_address.h"
#include "util/thread_name.h"

namespace vorlix {

std::string link_source(const std::string& peer) {
    std::string text = !peer.empty() && peer.front() == '[' ? peer.substr(1, peer.find(']') - 1)
                                                            : peer.substr(0, peer.rfind(':'));
    std::optional<IpAddress> address = IpAddress::parse(text);
    if (!address || address->is_v4()) return text;
    const auto& b = address->bytes;
    // An IPv4 peer of an IPv6 socket (::ffff:a.b.c.d) is that IPv4 address.
    if (std::all_of(b.begin(), b.begin() + 10, [](std::uint8_t x) { return x == 0; }) && b[10] == 0xff &&
        b[11] == 0xff) {
        return IpAddress::v4(b[12], b[13], b[14], b[15]).to_text();
    }
    std::array<std::uint8_t, 16> prefix{};
    std::copy(b.begin(), b.begin() + 8, prefix.begin());
    return IpAddress::v6(prefix).to_text() + "/64";
}

UnsignedLinks::Links::iterator UnsignedLinks::room_for(const std::string& source, std::size_t source_cap,
                                                       const LinkLimits& limits, Admission& refusal) {
    const auto from_source = static_cast<std::size_t>(
        std::count_if(links_.begin(), links_.end(), [&](const auto& link) { return link.second.source == source; }));
    if (from_source >= source_cap) {
        refusal.refusal = std::to_string(source_cap) + " links from " + source + " are waiting to sign in";
        refusal.refusal_kind = std::to_string(source_cap) + " links from its source are waiting to sign in";
        return std::find_if(links_.begin(), links_.end(), [&](const auto& link) {
            return link.second.source == source && link.second.may_make_room();
        });
    }
    if (links_.size() < limits.unsigned_links) return links_.end();
    refusal.refusal = refusal.refusal_kind = std::to_string(limits.unsigned_links) + " links are waiting to sign in";
    // The source with the most links that may make room gives its oldest, so
    // that one busy source does not push out another's few links.
    std::map<std::string, std::size_t> movable;
    std::size_t most = 0;
    for (const auto& [session, entry] : links_) {
        if (entry.may_make_room()) most = std::max(most, ++movable[entry.source]);
    }
    return std::find_if(links_.begin(), links_.end(), [&](const auto& link) {
        return link.second.may_make_room() && movable[link.second.source] == most;
    });
}

UnsignedLinks::Admission UnsignedLinks::admit(std::uint64_t session, const std::string& source,
                                              std::size_t source_cap, const LinkLimits& limits,
                                              std::string connection) {
    Admission result;
    std::function<void()> closer;
    {
        std::lock_guard lock(mutex_);
        auto room = room_for(source, source_cap, limits, result);
        if (!result.refusal.empty() && room == links_.end()) return result;
        result.refusal.clear();
        result.refusal_kind.clear();
        if (room != links_.end()) {
            result.closed = room->first;
            result.closed_source = std::move(room->second.source);
            result.closed_connection = std::move(room->second.connection);
            closer = std::move(room->second.close);
            // A link pausing after its failed handshake ends now.
            if (room->second.pausing) room->second.pausing->notify_all();
            links_.erase(room);
        }
        links_.emplace(session, Entry{source, std::move(connection), nullptr, Mark::None, {}, nullptr});
        result.admitted = true;
    }
    if (closer) closer();
    return result;
}

void UnsignedLinks::set_closer(std::uint64_t session, std::function<void()> close) {
    std::lock_guard lock(mutex_);
    if (auto found = links_.find(session); found != links_.end()) found->second.close = std::move(close);
}

bool UnsignedLinks::mark_pairing(std::uint64_t session) {
    std::lock_guard lock(mutex_);
    auto found = links_.find(session);
    if (found == links_.end()) return false;
    found->second.mark = Mark::Pairing;
    return true;
}

void UnsignedLinks::mark_signing(std::uint64_t session, const std::string& key) {
    std::lock_guard lock(mutex_);
    auto found = links_.find(session);
    if (found == links_.end()) return;
    // A Hello copied off the network holds the key's mark only until the
    // device itself (or another copy) says Hello again.
    for (auto& [other, entry] : links_) {
        if (entry.mark == Mark::Signing && entry.key == key) entry.mark = Mark::None;
    }
    found->second.mark = Mark::Signing;
    found->second.key = key;
}

std::optional<std::string> UnsignedLinks::release(std::uint64_t session) {
    std::lock_guard lock(mutex_);
    auto found = links_.find(session);
    if (found == links_.end()) return std::nullopt;
    std::string connection = std::move(found->second.connection);
    links_.erase(found);
    return connection;
}

bool UnsignedLinks::holds(std::uint64_t session) const {
    std::lock_guard lock(mutex_);
    return links_.contains(session);
}

bool UnsignedLinks::pause_while_held(std::uint64_t session, std::chrono::milliseconds pause) {
    std::unique_lock lock(mutex_);
    auto found = links_.find(session);
    if (found == links_.end()) return false;
    // The link's own wake: a newer link taking its place wakes only this one.
    auto wake = found->second.pausing = std::make_shared<std::condition_variable>();
    const bool held = !wake->wait_for(lock, pause, [&] { return !links_.contains(session); });
    if (held) links_.at(session).pausing.reset();
    return held;
}

std::size_t UnsignedLinks::size() const {
    std::lock_guard lock(mutex_);
    return links_.size();
}

void UnsignedLinks::close_all() {
    std::vector<std::function<void()>> closers;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [session, entry] : links_) {
            if (entry.close) closers.push_back(entry.close);
        }
    }
    for (const auto& close : closers) close();
}

// --- the log lines of links that never sign in ------------------------------------

LinkLog::LinkLog(Write write, std::string counted, Now now)
    : write_(std::move(write)), counted_(std::move(counted)), now_(std::move(now)) {}

LinkLog::~LinkLog() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    flush();
}

bool LinkLog::take_turn(Clock::time_point now, std::chrono::milliseconds every, std::vector<std::string>& written) {
    every_ = every;
    // The link finds the counts before this log's thread has written them.
    if (!counts_.empty() && now >= next_line_) written.push_back(take_counts_line(now));
    if (!last_link_ || now - *last_link_ >= every * kLongestWait) {
        // A quiet while: the waits start over.
        wait_ = {};
        next_line_ = now;
    }
    last_link_ = now;
    if (!counts_.empty() || now < next_line_) return false;
    back_off(now);
    return true;
}

void LinkLog::note(std::vector<Line> lines, std::chrono::milliseconds every) {
    std::vector<std::string> written;
    {
        std::lock_guard lock(mutex_);
        if (take_turn(now_(), every, written)) {
            for (Line& line : lines) written.push_back(std::move(line.text));
        } else {
            if (counts_.empty()) counted_since_ = utc_now_millis();
            for (Line& line : lines) {
                auto found = std::find_if(counts_.begin(), counts_.end(),
                                          [&](const auto& count) { return count.first == line.kind; });
                if (found != counts_.end()) {
                    ++found->second;
                } else if (counts_.size() < kMaxKinds) {
                    counts_.emplace_back(std::move(line.kind), 1);
                } else {
                    ++others_;
                }
            }
            if (!running_ && !stopping_) {
                // The last flusher has said it is done; it only has to return.
                if (thread_.joinable()) thread_.join();
                try {
                    thread_ = std::thread([this] { run(); });
                    running_ = true;
                } catch (const std::system_error&) {
                    // The counts wait for the next line, a flush or the end.
                }
            }
        }
    }
    for (const std::string& line : written) write_(line);
}

void LinkLog::note_marked(std::vector<Line> lines, std::chrono::milliseconds every, const std::string& key) {
    std::vector<std::string> written;
    if (!key.empty()) {
        std::unique_lock lock(mutex_);
        const auto now = now_();
        std::erase_if(marked_keys_, [&](const auto& marked) { return marked.second <= now; });
        if (marked_keys_.contains(key)) {
            lock.unlock();
            note(std::move(lines), every);
            return;
        }
        // Written whole, the link takes its turn as any link does, and the
        // key's next links wait as long as the next line.
        (void)take_turn(now, every, written);
        marked_keys_.emplace(key, now + std::max(every, wait_));
    }
    for (Line& line : lines) written.push_back(std::move(line.text));
    for (const std::string& line : written) write_(line);
}

void LinkLog::flush() {
    std::string line;
    {
        std::lock_guard lock(mutex_);
        line = take_counts_line(now_());
    }
    if (!line.empty()) write_(line);
}

std::string LinkLog::take_counts_line(Clock::time_point now) {
    if (counts_.empty()) return {};
    std::string line = counted_ + format_log_time(counted_since_) + ": ";
    for (std::size_t i = 0; i < counts_.size(); ++i) {
        if (i) line += ", ";
        line += counts_[i].first + " (" + std::to_string(counts_[i].second) + ")";
    }
    if (others_ != 0) line += ", other (" + std::to_string(others_) + ")";
    counts_.clear();
    others_ = 0;
    back_off(now);
    return line;
}

void LinkLog::back_off(Clock::time_point now) {
    wait_ = std::clamp(wait_ * 2, every_, every_ * kLongestWait);
    next_line_ = now + wait_;
}

void LinkLog::run() {
    set_current_thread_name("vorlix-link-log");
    std::unique_lock lock(mutex_);
    while (!stopping_ && !counts_.empty()) {
        const auto now = now_();
        if (now < next_line_) {
            wake_.wait_until(lock, next_line_);
            continue;
        }
        std::string line = take_counts_line(now);
        lock.unlock();
        write_(line);
        lock.lock();
    }
    running_ = false;
}

}  // namespace vorlix
