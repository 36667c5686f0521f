#include "stream/frame_ledger.h"

#include <algorithm>

#include "stream/saturate.h"

namespace vorlix {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// Bytes per second over an interval, rounded toward zero (0 when the bytes
// went down or no time passed).
std::uint64_t rate_between(std::uint64_t from_total, std::uint64_t to_total, Duration elapsed) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count();
    if (to_total <= from_total || ns <= 0) return 0;
    const unsigned __int128 rate =
        static_cast<unsigned __int128>(to_total - from_total) * 1'000'000'000u /
        static_cast<unsigned __int128>(ns);
    return rate > UINT64_MAX ? UINT64_MAX : static_cast<std::uint64_t>(rate);
}

}  // namespace

std::uint64_t rate_share(std::uint64_t rate) {
    return saturating_cast<std::uint64_t>(0.35 * static_cast<double>(rate));
}

std::uint64_t in_flight_limit(std::optional<std::uint64_t> best_rate) {
    return best_rate ? std::max<std::uint64_t>(64'000, rate_share(*best_rate)) : 256'000;
}

void FrameLedger::record_sent_frame(std::uint64_t frame_number, std::uint64_t bytes,
                                    Instant now) {
    std::lock_guard lock(mutex_);
    if (!highest_sent_ || frame_number > *highest_sent_) highest_sent_ = frame_number;
    if (!seen_) return;
    sent_.push_back({now, frame_number, bytes});
    in_flight_ += bytes;
    while (sent_.size() > kMaxSentSamples) {
        in_flight_ -= sent_.front().bytes;
        sent_.pop_front();
    }
}

void FrameLedger::acknowledge_frames(std::uint64_t n, Instant now) {
    std::lock_guard lock(mutex_);
    seen_ = true;
    if (n == 0 || n < highest_acked_) return;
    if (!highest_sent_ || n > *highest_sent_) return;
    highest_acked_ = n;
    std::optional<Instant> sent_at;
    std::uint64_t removed = 0;
    while (!sent_.empty() && sent_.front().frame <= n) {
        if (sent_.front().frame == n) sent_at = sent_.front().at;
        removed += sent_.front().bytes;
        sent_.pop_front();
    }
    in_flight_ -= removed;
    total_acked_ += removed;

    acked_.push_back({now, total_acked_});
    while (!acked_.empty() && now - acked_.front().at > seconds(5)) acked_.pop_front();
    if (sent_at) {
        round_trips_.push_back({now, now - *sent_at});
        while (!round_trips_.empty() && now - round_trips_.front().at > seconds(10)) {
            round_trips_.pop_front();
        }
    }
}

std::optional<std::uint64_t> FrameLedger::best_rate_locked() const {
    if (acked_.empty()) return std::nullopt;
    const Acked& newest = acked_.back();
    std::optional<std::uint64_t> best;
    for (std::size_t i = 0; i + 1 < acked_.size(); ++i) {
        const Acked& older = acked_[i];
        const Duration span = newest.at - older.at;
        if (span < milliseconds(500)) continue;
        const std::uint64_t rate = rate_between(older.total, newest.total, span);
        if (!best || rate > *best) best = rate;
    }
    return best;
}

std::optional<std::uint64_t> FrameLedger::best_delivered_rate() {
    std::lock_guard lock(mutex_);
    return best_rate_locked();
}

std::optional<std::uint64_t> FrameLedger::acked_rate() {
    std::lock_guard lock(mutex_);
    if (acked_.empty()) return std::nullopt;
    const Duration span = acked_.back().at - acked_.front().at;
    if (span < seconds(2)) return std::nullopt;
    return rate_between(acked_.front().total, acked_.back().total, span);
}

bool FrameLedger::must_hold_back(Instant now) {
    std::lock_guard lock(mutex_);
    if (!seen_ || sent_.empty()) return false;
    if (in_flight_ > in_flight_limit(best_rate_locked())) return true;
    const Duration age = now - sent_.front().at;
    Duration threshold = milliseconds(300);
    if (!round_trips_.empty()) {
        Duration smallest = round_trips_.front().time;
        for (const RoundTrip& r : round_trips_) smallest = std::min(smallest, r.time);
        threshold = smallest + milliseconds(300);
    }
    return age > milliseconds(1500) || age > threshold;
}

void FrameLedger::clear() {
    std::lock_guard lock(mutex_);
    sent_.clear();
    in_flight_ = 0;
    highest_acked_ = 0;
    highest_sent_.reset();
    total_acked_ = 0;
    acked_.clear();
    round_trips_.clear();
}

std::uint64_t FrameLedger::bytes_in_flight() {
    std::lock_guard lock(mutex_);
    return in_flight_;
}

bool FrameLedger::acknowledgements_seen() {
    std::lock_guard lock(mutex_);
    return seen_;
}

bool video_frame_must_wait(std::uint32_t queued_video_frames, FrameLedger& ledger, Instant now) {
    return queued_video_frames > 2 || ledger.must_hold_back(now);
}

RateLimiter encoder_rebuild_limiter() { return RateLimiter{seconds(30), 3, {}}; }

bool allow_by_rate(RateLimiter& limiter, Instant now) {
    while (!limiter.events.empty() && now - limiter.events.front() >= limiter.window) {
        limiter.events.pop_front();
    }
    if (limiter.events.size() >= limiter.max_events) return false;
    limiter.events.push_back(now);
    return true;
}

}  // namespace vorlix
