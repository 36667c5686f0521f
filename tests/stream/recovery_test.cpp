#include "recovery/recovery.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace vorlix {
namespace {

using std::chrono::milliseconds;

const Instant t0 = Instant{} + std::chrono::seconds(100);

struct Reporter {
    RecoveryState state;
    bool flowing = true;
    std::vector<std::uint8_t> told;

    // Reports and returns the delay set.
    Duration report(PictureStopReason reason, bool* was_told = nullptr) {
        const bool t = report_stream_stop(state, reason, flowing, 7, t0,
                                          [this](std::uint8_t v) { told.push_back(v); });
        if (was_told) *was_told = t;
        return *state.retry_at - t0;
    }
};

TEST(Recovery, CaptureFailuresBackOffAndAreToldOnTheSecondReport) {
    Reporter r;
    const std::int64_t expected_ms[] = {250, 500, 1000, 2000, 4000};
    std::vector<bool> told;
    for (std::int64_t ms : expected_ms) {
        bool t = false;
        EXPECT_EQ(r.report(PictureStopReason::captureFailed, &t), milliseconds(ms));
        told.push_back(t);
        EXPECT_FALSE(r.flowing);
    }
    EXPECT_EQ(told, (std::vector<bool>{false, true, false, false, false}));
    EXPECT_EQ(r.told, std::vector<std::uint8_t>{3});
    for (int i = 0; i < 20; ++i) r.report(PictureStopReason::captureFailed);
    EXPECT_EQ(r.report(PictureStopReason::captureFailed), milliseconds(30'000));
}

TEST(Recovery, EachReasonHasItsOwnBackOff) {
    struct Case {
        PictureStopReason reason;
        std::int64_t first_ms, second_ms, third_ms, capped_ms;
    } cases[] = {
        {PictureStopReason::screenLocked, 500, 1000, 1000, 1000},
        {PictureStopReason::secureDesktop, 500, 1000, 1000, 1000},
        {PictureStopReason::displayUnavailable, 250, 500, 1000, 30'000},
        {PictureStopReason::captureFailed, 250, 500, 1000, 30'000},
        {PictureStopReason::encoderFailed, 500, 1000, 2000, 30'000},
        {PictureStopReason::stoppedOnComputer, 30'000, 30'000, 30'000, 30'000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(picture_stop_reason_name(c.reason)));
        Reporter r;
        EXPECT_EQ(r.report(c.reason), milliseconds(c.first_ms));
        EXPECT_EQ(r.report(c.reason), milliseconds(c.second_ms));
        EXPECT_EQ(r.report(c.reason), milliseconds(c.third_ms));
        for (int i = 0; i < 12; ++i) r.report(c.reason);
        EXPECT_EQ(r.report(c.reason), milliseconds(c.capped_ms));
        EXPECT_EQ(r.told.size(), 1u);
    }
}

TEST(Recovery, ALockedScreenIsToldAtOnceAndRetriedEverySecondAtMost) {
    Reporter r;
    EXPECT_EQ(r.report(PictureStopReason::screenLocked), milliseconds(500));
    for (int i = 0; i < 50; ++i) EXPECT_EQ(r.report(PictureStopReason::screenLocked), milliseconds(1000));
    EXPECT_EQ(r.told, std::vector<std::uint8_t>{0});
    EXPECT_TRUE(retry_pending(r.state, t0 + milliseconds(999)));
    EXPECT_FALSE(retry_pending(r.state, t0 + milliseconds(1000)));
}

TEST(Recovery, AChangedReasonStartsANewRun) {
    Reporter r;
    r.report(PictureStopReason::screenLocked);
    r.report(PictureStopReason::screenLocked);
    bool told = true;
    EXPECT_EQ(r.report(PictureStopReason::captureFailed, &told), milliseconds(250));
    EXPECT_FALSE(told);  // the first failure of a run is not told
    EXPECT_EQ(r.state.repeat_count, 1u);
    EXPECT_EQ(r.report(PictureStopReason::captureFailed, &told), milliseconds(500));
    EXPECT_TRUE(told);
    EXPECT_EQ(r.told, (std::vector<std::uint8_t>{0, 3}));
    // stoppedOnComputer waits 30 s from the start and is told at once.
    EXPECT_EQ(r.report(PictureStopReason::stoppedOnComputer, &told), milliseconds(30'000));
    EXPECT_TRUE(told);
}

TEST(Recovery, TheRepeatCountSaturatesAndTheDoublingStopsAtTen) {
    Reporter r;
    r.state.last_reason = reason_code(PictureStopReason::secureDesktop);
    r.state.repeat_count = std::numeric_limits<std::uint32_t>::max();
    EXPECT_EQ(r.report(PictureStopReason::secureDesktop), milliseconds(1000));
    EXPECT_EQ(r.state.repeat_count, std::numeric_limits<std::uint32_t>::max());
}

TEST(Recovery, FlowingPicturesEmptyTheRecordOnce) {
    Reporter r;
    r.report(PictureStopReason::encoderFailed);
    r.report(PictureStopReason::encoderFailed);
    std::vector<std::uint8_t> calls;
    auto notify = [&](std::uint8_t v) { calls.push_back(v); };
    EXPECT_TRUE(note_picture_flowing(r.state, r.flowing, notify));
    EXPECT_FALSE(note_picture_flowing(r.state, r.flowing, notify));
    EXPECT_EQ(calls, std::vector<std::uint8_t>{kPictureResumed});
    EXPECT_TRUE(r.flowing);
    EXPECT_FALSE(r.state.retry_at);
    EXPECT_EQ(r.state.repeat_count, 0u);
    EXPECT_EQ(r.state.last_announced, kPictureResumed);
    // The same reason after a resume is told again.
    r.report(PictureStopReason::encoderFailed);
    bool told = false;
    r.report(PictureStopReason::encoderFailed, &told);
    EXPECT_TRUE(told);
}

TEST(Recovery, NoticesDependOnTheDevicesCapability) {
    std::uint8_t reason = kPictureResumed;
    EXPECT_EQ(decide_picture_notice(reason, kPictureResumed, true, 4).kind,
              PictureNotice::Kind::nothing);  // nothing was told

    PictureNotice n = decide_picture_notice(reason, 0, false, 4);
    EXPECT_EQ(n.kind, PictureNotice::Kind::stopped);
    EXPECT_TRUE(n.send_notice);
    EXPECT_FALSE(n.send_stopped);
    EXPECT_EQ(n.log_text, "session 4: told the picture stopped (screenLocked) as a notice");
    EXPECT_EQ(n.message, "The picture stopped: this PC is locked. Unlock it at the PC to continue.");
    EXPECT_EQ(decide_picture_notice(reason, 0, false, 4).kind, PictureNotice::Kind::nothing);

    n = decide_picture_notice(reason, kPictureResumed, false, 4);
    EXPECT_EQ(n.kind, PictureNotice::Kind::resumed);
    EXPECT_EQ(n.log_text, "session 4: the picture runs again");
    EXPECT_FALSE(n.send_resumed);  // without the capability nothing is sent

    n = decide_picture_notice(reason, 5, true, 4);
    EXPECT_TRUE(n.send_stopped);
    EXPECT_EQ(n.reason_name, "stoppedOnComputer");
    EXPECT_FALSE(n.retrying);
    EXPECT_EQ(n.log_text, "session 4: told the picture stopped (stoppedOnComputer)");
    EXPECT_TRUE(decide_picture_notice(reason, 3, true, 4).retrying);
    EXPECT_TRUE(decide_picture_notice(reason, kPictureResumed, true, 4).send_resumed);
    EXPECT_EQ(decide_picture_notice(reason, 99, true, 4).kind, PictureNotice::Kind::nothing);
}

TEST(Recovery, Texts) {
    EXPECT_EQ(picture_stopped_text(PictureStopReason::secureDesktop),
              "The picture stopped: this PC is showing a secure screen, such as a User Account "
              "Control prompt. Answer it at the PC to continue.");
    EXPECT_EQ(picture_stopped_text(PictureStopReason::displayUnavailable),
              "The picture stopped: this PC's displays are changing. VorLix is trying again.");
    EXPECT_EQ(picture_stopped_text(PictureStopReason::captureFailed),
              "The picture stopped: Windows ended the screen capture. VorLix is trying again.");
    EXPECT_EQ(picture_stopped_text(PictureStopReason::encoderFailed),
              "The picture stopped: this PC's video encoder failed. VorLix is trying again.");
    EXPECT_EQ(picture_stopped_text(PictureStopReason::stoppedOnComputer),
              "The picture stopped: screen sharing was stopped on this PC. Connect again to "
              "share it.");
    EXPECT_EQ(picture_stop_reason_name(PictureStopReason::displayUnavailable), "displayUnavailable");
    EXPECT_FALSE(picture_stop_reason_from_code(6));
    EXPECT_EQ(picture_stop_reason_from_code(4), PictureStopReason::encoderFailed);
}

}  // namespace
}  // namespace vorlix
