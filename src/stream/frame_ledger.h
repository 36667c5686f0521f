// The record of video frames sent on a device link and acknowledged by the
// device's `received` messages, from which the stream paces itself: bytes in
// flight, age of the oldest unacknowledged frame, the smallest round trip and
// two delivered rates. Also the sliding-window limiter for encoder rebuilds.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

#include "stream/clock.h"

namespace vorlix {

// 0.35 of a delivered rate, cut toward zero (0.35 x 180 gives 62).
std::uint64_t rate_share(std::uint64_t rate);

// The bytes in flight allowed before the ledger holds back: 256,000 without a
// best delivered rate, else the larger of 64,000 and rate_share of it.
std::uint64_t in_flight_limit(std::optional<std::uint64_t> best_rate);

class FrameLedger {
public:
    static constexpr std::size_t kMaxSentSamples = 600;

    // A Video frame was queued on the link. Recorded only once the device
    // has acknowledged anything (a device that never acknowledges is never
    // paced).
    void record_sent_frame(std::uint64_t frame_number, std::uint64_t bytes, Instant now);

    // The device has every frame up to n. Numbers above the highest frame
    // number sent since the last clear are stale and ignored.
    void acknowledge_frames(std::uint64_t n, Instant now);

    // True when the next frame must wait.
    bool must_hold_back(Instant now);

    // Bytes per second.
    std::optional<std::uint64_t> best_delivered_rate();
    std::optional<std::uint64_t> acked_rate();

    // A new stream starts on the link: its frame numbers restart at 0, so
    // everything recorded for the previous one is dropped. Whether the
    // device acknowledges at all is kept.
    void clear();

    std::uint64_t bytes_in_flight();
    bool acknowledgements_seen();

private:
    struct Sent {
        Instant at;
        std::uint64_t frame;
        std::uint64_t bytes;
    };
    struct Acked {
        Instant at;
        std::uint64_t total;
    };
    struct RoundTrip {
        Instant at;
        Duration time;
    };

    std::optional<std::uint64_t> best_rate_locked() const;

    std::mutex mutex_;
    std::deque<Sent> sent_;
    std::uint64_t in_flight_ = 0;
    std::uint64_t highest_acked_ = 0;
    std::optional<std::uint64_t> highest_sent_;
    std::uint64_t total_acked_ = 0;
    std::deque<Acked> acked_;
    std::deque<RoundTrip> round_trips_;
    bool seen_ = false;
};

// The send gate of a device link: a frame waits while more than 2 video
// frames are queued and unwritten, or while the ledger holds back.
bool video_frame_must_wait(std::uint32_t queued_video_frames, FrameLedger& ledger, Instant now);

// At most `max_events` within any `window`.
struct RateLimiter {
    Duration window;
    std::size_t max_events;
    std::deque<Instant> events;
};

// The stream's encoder-rebuild limiter: 3 within 30 s.
RateLimiter encoder_rebuild_limiter();

// True when one more event is allowed now (and records it).
bool allow_by_rate(RateLimiter& limiter, Instant now);

}  // namespace vorlix
