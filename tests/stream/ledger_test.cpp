#include "stream/frame_ledger.h"

#include <gtest/gtest.h>

namespace vorlix {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

const Instant t0 = Instant{} + seconds(1000);

TEST(FrameLedger, RecordsNothingUntilTheDeviceAcknowledges) {
    FrameLedger ledger;
    ledger.record_sent_frame(0, 500'000, t0);
    EXPECT_EQ(ledger.bytes_in_flight(), 0u);
    EXPECT_FALSE(ledger.must_hold_back(t0 + seconds(10)));

    ledger.acknowledge_frames(0, t0);  // frame 0 only marks acknowledgements as seen
    EXPECT_TRUE(ledger.acknowledgements_seen());
    EXPECT_FALSE(ledger.best_delivered_rate());
    ledger.record_sent_frame(1, 1000, t0);
    EXPECT_EQ(ledger.bytes_in_flight(), 1000u);
}

TEST(FrameLedger, AcknowledgementRemovesFramesUpToItAndTimesTheRoundTrip) {
    FrameLedger ledger;
    ledger.acknowledge_frames(0, t0);
    for (std::uint64_t n = 8; n <= 11; ++n) ledger.record_sent_frame(n, 100, t0 + milliseconds(n));
    ledger.acknowledge_frames(10, t0 + milliseconds(110));  // round trip 100 ms
    EXPECT_EQ(ledger.bytes_in_flight(), 100u);              // only frame 11 left

    // A lower acknowledgement changes nothing.
    ledger.record_sent_frame(12, 100, t0 + milliseconds(120));
    ledger.acknowledge_frames(9, t0 + milliseconds(130));
    EXPECT_EQ(ledger.bytes_in_flight(), 200u);

    // Oldest held frame (11) was sent at t0 + 11 ms; threshold 100 + 300 ms.
    EXPECT_FALSE(ledger.must_hold_back(t0 + milliseconds(411)));
    EXPECT_TRUE(ledger.must_hold_back(t0 + milliseconds(412)));
}

TEST(FrameLedger, HoldsBackAfter300MsWithoutRoundTripsAndAlwaysAfter1500Ms) {
    FrameLedger ledger;
    ledger.acknowledge_frames(0, t0);
    ledger.record_sent_frame(1, 10, t0);
    EXPECT_FALSE(ledger.must_hold_back(t0 + milliseconds(300)));
    EXPECT_TRUE(ledger.must_hold_back(t0 + milliseconds(301)));

    // A slow round trip of 2 s raises the threshold, but 1.5 s still caps it.
    FrameLedger slow;
    slow.acknowledge_frames(0, t0);
    slow.record_sent_frame(1, 10, t0);
    slow.acknowledge_frames(1, t0 + seconds(2));
    slow.record_sent_frame(2, 10, t0 + seconds(2));
    EXPECT_FALSE(slow.must_hold_back(t0 + seconds(2) + milliseconds(1500)));
    EXPECT_TRUE(slow.must_hold_back(t0 + seconds(2) + milliseconds(1501)));
}

TEST(FrameLedger, InFlightLimitFollowsTheBestRate) {
    EXPECT_EQ(rate_share(180), 62u);  // 0.35 x 180 is 62.99999... in doubles
    EXPECT_EQ(in_flight_limit(std::nullopt), 256'000u);
    EXPECT_EQ(in_flight_limit(100'000), 64'000u);
    EXPECT_EQ(in_flight_limit(1'000'000), 350'000u);
    EXPECT_EQ(in_flight_limit(182'860), 64'000u);  // 64,000.99... cut toward zero

    // 100,000 bytes/s measured: more than 64,000 bytes in flight hold back.
    FrameLedger ledger;
    ledger.acknowledge_frames(0, t0);
    ledger.record_sent_frame(1, 50'000, t0);
    ledger.record_sent_frame(2, 50'000, t0);
    ledger.acknowledge_frames(1, t0 + milliseconds(10));
    ledger.acknowledge_frames(2, t0 + milliseconds(510));
    EXPECT_EQ(ledger.best_delivered_rate(), 100'000u);
    ledger.record_sent_frame(3, 64'000, t0 + milliseconds(510));
    EXPECT_FALSE(ledger.must_hold_back(t0 + milliseconds(511)));
    ledger.record_sent_frame(4, 1, t0 + milliseconds(511));
    EXPECT_TRUE(ledger.must_hold_back(t0 + milliseconds(512)));
}

TEST(FrameLedger, DeliveredRates) {
    FrameLedger ledger;
    ledger.acknowledge_frames(0, t0);
    // Frames of 1,000 bytes acknowledged at 0, 0.4, 1.0, 2.0 s: 1 to 4.
    const std::int64_t at_ms[] = {0, 400, 1000, 2000};
    for (std::uint64_t n = 1; n <= 4; ++n) {
        ledger.record_sent_frame(n, n == 3 ? 4000 : 1000, t0);
        ledger.acknowledge_frames(n, t0 + milliseconds(at_ms[n - 1]));
    }
    // Totals 1000, 2000, 6000, 7000. Against the newest (2.0 s): from 0 s
    // 6000/2 = 3000, from 0.4 s 5000/1.6 = 3125, from 1.0 s 1000/1 = 1000.
    EXPECT_EQ(ledger.best_delivered_rate(), 3125u);
    EXPECT_EQ(ledger.acked_rate(), 3000u);

    FrameLedger young;
    young.acknowledge_frames(0, t0);
    young.record_sent_frame(1, 10, t0);
    young.acknowledge_frames(1, t0);
    young.record_sent_frame(2, 10, t0);
    young.acknowledge_frames(2, t0 + milliseconds(499));
    EXPECT_FALSE(young.best_delivered_rate());  // nothing 0.5 s older than the newest
    EXPECT_FALSE(young.acked_rate());
}

TEST(FrameLedger, ForgetsAcknowledgementSamplesOlderThan5Seconds) {
    FrameLedger ledger;
    ledger.acknowledge_frames(0, t0);
    ledger.record_sent_frame(1, 5'000'000, t0);
    ledger.acknowledge_frames(1, t0);
    for (std::uint64_t n = 2; n <= 7; ++n) {
        ledger.record_sent_frame(n, 1000, t0);
        ledger.acknowledge_frames(n, t0 + seconds(n - 1));
    }
    // The sample at t0 (after 5 MB) is 6 s old and gone; the 5 s old one stays.
    EXPECT_EQ(ledger.acked_rate(), 1000u);
}

TEST(FrameLedger, ANewStreamStartsFromAClearLedger) {
    FrameLedger ledger;
    ledger.acknowledge_frames(0, t0);
    for (std::uint64_t n = 0; n < 500; ++n) ledger.record_sent_frame(n, 100, t0);
    ledger.acknowledge_frames(499, t0 + milliseconds(50));

    // The next stream numbers its frames from 0 again.
    ledger.clear();
    EXPECT_EQ(ledger.bytes_in_flight(), 0u);
    EXPECT_TRUE(ledger.acknowledgements_seen());
    ledger.record_sent_frame(0, 100, t0 + seconds(1));
    ledger.record_sent_frame(1, 100, t0 + seconds(1));
    // A late acknowledgement from the old stream names a frame never sent in
    // this one: ignored, so that the new acknowledgements still count.
    ledger.acknowledge_frames(499, t0 + seconds(1));
    EXPECT_EQ(ledger.bytes_in_flight(), 200u);
    ledger.acknowledge_frames(1, t0 + seconds(1) + milliseconds(20));
    EXPECT_EQ(ledger.bytes_in_flight(), 0u);
    ledger.record_sent_frame(2, 100, t0 + seconds(2));
    EXPECT_FALSE(ledger.must_hold_back(t0 + seconds(2) + milliseconds(100)));
}

TEST(FrameLedger, KeepsAtMost600SentFrames) {
    FrameLedger ledger;
    ledger.acknowledge_frames(0, t0);
    for (std::uint64_t n = 1; n <= 700; ++n) ledger.record_sent_frame(n, 10, t0);
    EXPECT_EQ(ledger.bytes_in_flight(), 6000u);
}

TEST(SendGate, WaitsForMoreThanTwoQueuedFramesOrTheLedger) {
    FrameLedger ledger;
    EXPECT_FALSE(video_frame_must_wait(2, ledger, t0));
    EXPECT_TRUE(video_frame_must_wait(3, ledger, t0));
    ledger.acknowledge_frames(0, t0);
    ledger.record_sent_frame(1, 300'000, t0);
    EXPECT_TRUE(video_frame_must_wait(0, ledger, t0));
}

TEST(AllowByRate, ThreeRebuildsIn30Seconds) {
    RateLimiter limiter = encoder_rebuild_limiter();
    EXPECT_TRUE(allow_by_rate(limiter, t0));
    EXPECT_TRUE(allow_by_rate(limiter, t0 + seconds(1)));
    EXPECT_TRUE(allow_by_rate(limiter, t0 + seconds(2)));
    EXPECT_FALSE(allow_by_rate(limiter, t0 + seconds(3)));
    EXPECT_FALSE(allow_by_rate(limiter, t0 + seconds(30) - milliseconds(1)));
    EXPECT_TRUE(allow_by_rate(limiter, t0 + seconds(30)));  // the first is 30 s old
    EXPECT_FALSE(allow_by_rate(limiter, t0 + seconds(30)));
}

}  // namespace
}  // namespace vorlix
