#include <gtest/gtest.h>

#include "convert/nv12.h"
#include "streamloop/loop_harness.h"

namespace vorlix::testing {
namespace {

using namespace std::chrono_literals;

std::vector<const SentFrame*> frames_after(const RecordingAudience& a, Duration from) {
    std::vector<const SentFrame*> out;
    for (const auto& f : a.frames)
        if (f.at >= from) out.push_back(&f);
    return out;
}

TEST(StreamLoop, StillScreenSendsEvery250MsAndAKeyFrameEvery4S) {
    LoopHarness h;
    h.run_for(10s);
    ASSERT_GE(h.audience.frames.size(), 30u) << h.all_lines();
    EXPECT_TRUE(h.audience.frames[0].key);
    EXPECT_EQ(h.audience.frames[0].parameter_sets, 2u) << "a key frame carries SPS and PPS";

    const auto later = frames_after(h.audience, 1s);
    ASSERT_GE(later.size(), 30u);
    for (std::size_t i = 1; i < later.size(); ++i)
        EXPECT_EQ(ms(later[i]->at - later[i - 1]->at), 250) << "frame " << later[i]->number;

    std::vector<Duration> keys;
    for (const auto& f : h.audience.frames)
        if (f.key) keys.push_back(f.at);
    ASSERT_EQ(keys.size(), 3u);
    for (std::size_t i = 1; i < keys.size(); ++i) {
        EXPECT_GE(ms(keys[i] - keys[i - 1]), 4000);
        EXPECT_LT(ms(keys[i] - keys[i - 1]), 4250);
    }
    EXPECT_EQ(h.encoders.opened.size(), 1u);
    EXPECT_TRUE(h.has_line("stream #1: 64x48 from 64x48 (Desktop Duplication), 30 fps, 6.0 Mbit/s, fake software"))
        << h.all_lines();
    EXPECT_TRUE(h.has_line("stream #1 ended"));
    ASSERT_EQ(h.audience.announcements.size(), 1u);
}

TEST(StreamLoop, FrameRateIsClampedAndSpacesPictures) {
    LoopHarness h;
    h.settings.fps = 0;  // one picture a second
    h.screen.otherwise = SyntheticGrab::picture(1.0);
    h.run_for(3500ms);
    ASSERT_GE(h.audience.frames.size(), 3u);
    for (std::size_t i = 1; i < h.audience.frames.size(); ++i)
        EXPECT_GE(ms(h.audience.frames[i].at - h.audience.frames[i - 1].at), 1000);
    EXPECT_LE(h.audience.frames.size(), 4u);

    LoopHarness fast;
    fast.settings.fps = 120;  // held to 60
    fast.screen.grab_time = 1ms;
    fast.screen.otherwise = SyntheticGrab::picture(1.0);
    fast.run_for(1s);
    EXPECT_GE(fast.audience.frames.size(), 58u);
    EXPECT_LE(fast.audience.frames.size(), 61u);
}

TEST(StreamLoop, SharpeningRunsThreePassesAndFlagsTheLast) {
    LoopHarness h;
    h.run_for(1s);
    std::vector<const SentFrame*> passes;
    for (const auto& f : h.audience.frames)
        if (f.number > 0 && f.at < 500ms) passes.push_back(&f);
    ASSERT_EQ(passes.size(), 3u);
    EXPECT_FALSE(passes[0]->last_pass);
    EXPECT_FALSE(passes[1]->last_pass);
    EXPECT_TRUE(passes[2]->last_pass);
    EXPECT_GT(ms(passes[0]->at), 120) << "passes wait until the picture has been still for 120 ms";
    EXPECT_GE(ms(passes[1]->at - passes[0]->at), 70);
    EXPECT_TRUE(h.encoders.opened[0]->sharpening_starts.empty()) << "without maxBitrate the rate stays";
}

TEST(StreamLoop, SharpeningWithMaxBitrateRunsSixPassesAtARaisedRate) {
    LoopHarness h;
    h.settings.max_bitrate = 2'000'000;
    h.screen.grabs = {SyntheticGrab::picture(1.0)};
    for (int i = 0; i < 100; ++i) h.screen.grabs.push_back(SyntheticGrab::still());
    h.screen.grabs.push_back(SyntheticGrab::picture(0.5));  // motion starts a new run
    h.run_for(3s);

    int last_passes = 0;
    for (const auto& f : h.audience.frames) last_passes += f.last_pass ? 1 : 0;
    EXPECT_EQ(last_passes, 2) << "one flagged pass for each run";

    std::vector<const SentFrame*> first_run;
    for (const auto& f : h.audience.frames)
        if (f.number > 0 && f.at < 1s) first_run.push_back(&f);
    ASSERT_GE(first_run.size(), 6u);
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(first_run[i]->last_pass);
    EXPECT_TRUE(first_run[5]->last_pass);

    const auto& rec = *h.encoders.opened[0];
    ASSERT_FALSE(rec.sharpening_starts.empty());
    EXPECT_EQ(rec.sharpening_starts[0], 16'000'000u) << "the target (2 Mbit/s) x 8";
    EXPECT_GE(rec.sharpening_ends, 2);
}

TEST(StreamLoop, SendGateHoldsFramesBackAndRetriesEachInterval) {
    LoopHarness h;
    h.screen.otherwise = SyntheticGrab::picture(0.5);
    int gate_calls = 0;
    h.audience.gate = [&](Instant now) {
        const Duration t = now - h.clock.start();
        if (t >= 1s && t < 2s) {
            ++gate_calls;
            return true;
        }
        return false;
    };
    h.run_for(3s);
    for (const auto& f : h.audience.frames)
        EXPECT_FALSE(f.at > 1s && f.at < 2s) << "frame " << f.number << " at " << ms(f.at);
    EXPECT_GE(frames_after(h.audience, 2s).size(), 25u);
    // Held frames are retried once per frame interval, not on every grab.
    EXPECT_GE(gate_calls, 25);
    EXPECT_LE(gate_calls, 32);
}

TEST(StreamLoop, ThreeEncoderFaultsAreRebuiltAndTheFourthReportsWithBackOff) {
    LoopHarness h;
    h.encoders.otherwise.fail_on_call = 1;
    h.run_for(2500ms);

    EXPECT_GE(h.count_lines("stream #1: the fake software encoder failed (the transform refused the picture)"), 5)
        << h.all_lines();
    ASSERT_GE(h.encoders.opened.size(), 5u);
    // The first four encoders come at once; the fifth waits for the back-off.
    const auto& attempts = h.encoders.attempts;
    EXPECT_EQ(attempts.size(), h.encoders.opened.size());
    // Exactly one stop is told, after the second refused rebuild.
    EXPECT_EQ(h.audience.stops, (std::vector<std::uint8_t>{reason_code(PictureStopReason::encoderFailed)}));
    // Back-off: 0.5 s after the fourth fault, then 1 s.
    EXPECT_LE(h.encoders.opened.size(), 7u);
}

TEST(StreamLoop, FaultsAreSpacedByTheBackOffOnceTheLimiterRefuses) {
    LoopHarness h;
    h.encoders.otherwise.fail_on_call = 1;
    std::vector<Duration> opened_at;
    h.encoders.choose = [&](const EncoderSettings&) {
        opened_at.push_back(h.clock.elapsed());
        FakeEncoderPlan plan;
        plan.encode_time = Duration::zero();
        plan.fail_on_call = 1;
        return plan;
    };
    h.run_for(2600ms);
    ASSERT_GE(opened_at.size(), 6u);
    EXPECT_LT(ms(opened_at[3]), 100) << "three rebuilds at once";
    EXPECT_GE(ms(opened_at[4] - opened_at[3]), 500);
    EXPECT_GE(ms(opened_at[5] - opened_at[4]), 1000);
}

TEST(StreamLoop, StalledHardwareEncoderIsReplacedAndHardwareStaysOff) {
    LoopHarness h;
    h.encoders.hardware_available = true;
    h.encoders.choose = [](const EncoderSettings& s) {
        FakeEncoderPlan plan;
        plan.encode_time = Duration::zero();
        plan.never_output = s.allow_hardware;
        return plan;
    };
    h.run_for(4s);
    EXPECT_EQ(h.count_lines("stream #1: the fake hardware encoder gave nothing back for 2 s"), 1) << h.all_lines();
    EXPECT_TRUE(h.has_line("hardware encoding is off until VorLix starts again; using the software encoder"));
    EXPECT_TRUE(h.hardware_off.load());
    ASSERT_EQ(h.encoders.opened.size(), 2u);
    EXPECT_TRUE(h.encoders.opened[0]->hardware);
    EXPECT_FALSE(h.encoders.opened[1]->hardware);
    EXPECT_FALSE(h.audience.frames.empty()) << "the software encoder sends";

    // The next stream of the process does not try hardware.
    h.encoders.attempts.clear();
    h.control.running.store(1);
    h.run_for(500ms, 2);
    ASSERT_FALSE(h.encoders.attempts.empty());
    for (const auto& a : h.encoders.attempts) EXPECT_FALSE(a.allow_hardware);
}

TEST(StreamLoop, HardwareAndSoftwareRefusingToOpenGiveOneEncoderLine) {
    LoopHarness h;
    h.encoders.hardware_available = true;
    h.encoders.choose = [](const EncoderSettings& s) {
        FakeEncoderPlan plan;
        plan.refuse_open = s.allow_hardware ? "no hardware session" : "no software encoder";
        return plan;
    };
    h.run_for(100ms);
    ASSERT_GE(h.encoders.attempts.size(), 2u);
    // One line for each pair of attempts, the hardware one's.
    EXPECT_EQ(h.count_lines("encoder: ") * 2, static_cast<int>(h.encoders.attempts.size())) << h.all_lines();
    EXPECT_TRUE(h.has_line("encoder: no hardware session; trying the software encoder")) << h.all_lines();
    EXPECT_EQ(h.count_lines("no software encoder"), 0) << h.all_lines();
}

TEST(StreamLoop, SoftwareSettingTurnsHardwareOffOnlyWhenSpelledExactly) {
    for (const char* value : {"software", "Software"}) {
        LoopHarness h;
        h.encoder_setting = value;
        h.run_for(100ms);
        ASSERT_FALSE(h.encoders.attempts.empty());
        EXPECT_EQ(h.encoders.attempts[0].allow_hardware, std::string(value) != "software") << value;
    }
}

TEST(StreamLoop, SlowEncoderSwitchesToHalfSizeAndAnnouncesIt) {
    LoopHarness h;
    h.slow_at_full_size();
    h.run_for(4s);
    EXPECT_TRUE(h.has_line("encoding takes 50.0 ms a picture: sending 32x24 instead")) << h.all_lines();
    ASSERT_EQ(h.encoders.opened.size(), 2u);
    EXPECT_EQ(h.encoders.opened[1]->settings.width, 32u);
    EXPECT_EQ(h.encoders.opened[1]->settings.height, 24u);
    EXPECT_EQ(h.encoders.opened[0]->encodes, 30);
    ASSERT_EQ(h.audience.announcements.size(), 2u);
    EXPECT_EQ(h.audience.announcements[1].encoded_width, 32u);
    EXPECT_EQ(h.audience.announcements[1].capture_width, 64u);
    EXPECT_TRUE(h.audience.announcements[1].half);
    // The half-size encoder starts with a key frame.
    EXPECT_TRUE(h.encoders.opened[1]->keys.at(0));
}

TEST(StreamLoop, SlowThresholdComesFromTheSetting) {
    EXPECT_EQ(parse_slow_ms(std::nullopt), 40u);
    EXPECT_EQ(parse_slow_ms("+25"), 25u);
    EXPECT_EQ(parse_slow_ms("25"), 25u);
    for (const char* bad : {"abc", "", "+", "-5", "25ms", "99999999999"}) EXPECT_EQ(parse_slow_ms(bad), 40u) << bad;

    LoopHarness h;
    h.slow_ms_setting = "60";
    h.screen.otherwise = SyntheticGrab::picture(1.0);
    h.encoders.otherwise.encode_time = 50ms;
    h.run_for(3s);
    EXPECT_EQ(h.encoders.opened.size(), 1u) << "50 ms is not slow with a 60 ms threshold";
}

TEST(StreamLoop, LockedScreenAndSecureDesktopReportAndRecover) {
    LoopHarness h;
    h.screen.otherwise = SyntheticGrab::picture(0.5);
    h.screen.block = [&](Instant now) {
        const Duration t = now - h.clock.start();
        if (t >= 1s && t < 3s) return ScreenBlock::screen_locked;
        if (t >= 5s && t < 6s) return ScreenBlock::secure_desktop;
        return ScreenBlock::none;
    };
    h.run_for(8s);
    EXPECT_EQ(h.count_lines("stream #1: screenLocked is up; waiting for it to go"), 1) << h.all_lines();
    EXPECT_EQ(h.count_lines("stream #1: secureDesktop is up; waiting for it to go"), 1);
    // The first picture counts as resumed; the session tells nothing for it.
    const std::vector<std::uint8_t> told{kPictureResumed, reason_code(PictureStopReason::screenLocked), kPictureResumed,
                                         reason_code(PictureStopReason::secureDesktop), kPictureResumed};
    EXPECT_EQ(h.audience.stops, told);
    for (const auto& f : h.audience.frames) {
        EXPECT_FALSE(f.at > 1s && f.at < 3s) << ms(f.at);
        EXPECT_FALSE(f.at > 5s && f.at < 6s) << ms(f.at);
    }
    EXPECT_FALSE(frames_after(h.audience, 6s).empty());
    // The picture after a block starts with a key frame on a new capture.
    EXPECT_EQ(h.screen.opened, 3);
    const auto after = frames_after(h.audience, 3s);
    ASSERT_FALSE(after.empty());
    EXPECT_TRUE(after[0]->key);
}

TEST(StreamLoop, BlockBeforeTheFirstCaptureIsReportedWithoutWaitingLine) {
    LoopHarness h;
    h.screen.block = [&](Instant now) {
        return now - h.clock.start() < 2s ? ScreenBlock::screen_locked : ScreenBlock::none;
    };
    h.run_for(3s);
    EXPECT_EQ(h.count_lines("is up; waiting for it to go"), 0);
    ASSERT_FALSE(h.audience.stops.empty());
    EXPECT_EQ(h.audience.stops.front(), reason_code(PictureStopReason::screenLocked));
    EXPECT_FALSE(h.audience.frames.empty());
}

TEST(StreamLoop, StopBeforeTheFirstCaptureEndsWithoutAPicture) {
    LoopHarness h;
    h.screen.openings = {{"Access denied"}};
    h.control.running.store(0);
    h.run_for(1s);
    EXPECT_TRUE(h.has_line("stream #1 ended before it had a picture")) << h.all_lines();

    LoopHarness failing;
    for (int i = 0; i < 50; ++i) failing.screen.openings.push_back({"Access denied"});
    int checks = 0;
    failing.audience.stop_when = [&] {
        if (++checks == 20) failing.control.running.store(0);
        return false;
    };
    failing.run_for(60s);
    EXPECT_TRUE(failing.has_line("stream #1 ended before it had a picture"));
    EXPECT_GE(failing.count_lines("capture failed: Access denied"), 2);
}

TEST(StreamLoop, LostCaptureIsReopenedAndLoggedOnce) {
    LoopHarness h;
    h.screen.grabs = {SyntheticGrab::picture(), SyntheticGrab::lost()};
    h.screen.openings = {{}, {"gone"}, {"gone"}, {"gone"}};
    h.run_for(6s);
    EXPECT_EQ(h.count_lines("capture lost; reopening"), 1);
    EXPECT_EQ(h.count_lines("capture could not be opened again: gone"), 1) << h.all_lines();
    EXPECT_EQ(h.screen.opened, 2);
    EXPECT_EQ(h.encoders.opened.size(), 1u) << "the same size keeps the encoder";
}

TEST(StreamLoop, ScreenChangeRebuildsTheEncoderAndAnnounces) {
    LoopHarness h;
    h.screen.grabs = {SyntheticGrab::picture(), SyntheticGrab::lost()};
    h.screen.openings = {{}, {std::nullopt, "Desktop Duplication", PictureSize{80, 60}}};
    h.run_for(1s);
    EXPECT_TRUE(h.has_line("screen changed to 80x60")) << h.all_lines();
    ASSERT_EQ(h.encoders.opened.size(), 2u);
    EXPECT_EQ(h.encoders.opened[1]->settings.width, 80u);
    ASSERT_EQ(h.audience.announcements.size(), 2u);
    EXPECT_EQ(h.audience.announcements[1].capture_width, 80u);
}

TEST(StreamLoop, LargeSoftwarePicturesAreHalvedAboveTheLimit) {
    {
        LoopHarness h;
        h.screen.monitor.width = 2560;
        h.screen.monitor.height = 1600;
        h.run_for(60ms);
        ASSERT_EQ(h.encoders.opened.size(), 1u);
        EXPECT_EQ(h.encoders.opened[0]->settings.width, 2560u);
    }
    {
        LoopHarness h;
        h.screen.monitor.width = 2561;
        h.screen.monitor.height = 1600;
        h.run_for(60ms);
        ASSERT_EQ(h.encoders.opened.size(), 2u);
        EXPECT_EQ(h.encoders.opened[1]->settings.width, 1280u);
        EXPECT_EQ(h.encoders.opened[1]->settings.height, 800u);
        ASSERT_EQ(h.audience.announcements.size(), 1u);
        EXPECT_TRUE(h.audience.announcements[0].half);
        EXPECT_EQ(h.audience.announcements[0].capture_width, 2560u);
    }
}

TEST(StreamLoop, GdiReturnsToDesktopDuplicationAfterTwoThenFourSeconds) {
    LoopHarness h;
    h.screen.openings = {{std::nullopt, "GDI"}};
    std::vector<Duration> tries;
    h.screen.duplications = {std::nullopt, std::nullopt, PictureSize{64, 48}};
    h.audience.stop_when = [&] {
        if (static_cast<int>(tries.size()) < h.screen.duplication_attempts) tries.push_back(h.clock.elapsed());
        return false;
    };
    h.run_for(12s);
    ASSERT_EQ(tries.size(), 3u) << h.all_lines();
    EXPECT_NEAR(ms(tries[0]), 2000, 30);
    EXPECT_NEAR(ms(tries[1] - tries[0]), 4000, 30);
    EXPECT_NEAR(ms(tries[2] - tries[1]), 4000, 30);
    EXPECT_TRUE(h.has_line("stream #1: back on Desktop Duplication"));
    EXPECT_EQ(h.screen.last_name, "Desktop Duplication");
    EXPECT_EQ(h.encoders.opened.size(), 1u) << "same size: the encoder stays";
}

TEST(StreamLoop, DuplicationOfAnotherSizeOpensAfresh) {
    LoopHarness h;
    h.screen.openings = {{std::nullopt, "GDI"}};
    h.screen.duplications = {PictureSize{32, 32}};
    h.run_for(3s);
    EXPECT_EQ(h.screen.duplication_attempts, 1);
    EXPECT_EQ(h.screen.opened, 3) << "GDI, the refused duplication, then a fresh capture";
    EXPECT_FALSE(h.has_line("stream #1: back on Desktop Duplication"));
}

TEST(StreamLoop, PointerSettingSwitchesDrawingOnTheBackEnd) {
    struct Counts {
        int made = 0;
        int resets = 0;
        int sends = 0;
    } counts;
    struct CountingCursor : CursorSender {
        Counts& c;
        explicit CountingCursor(Counts& counts) : c(counts) {}
        void reset() override { ++c.resets; }
        void send(CaptureBackend&, const StreamGeometry&, StreamAudience&) override { ++c.sends; }
    };
    LoopHarness h;
    h.cursor_sender = [&] {
        ++counts.made;
        return std::make_unique<CountingCursor>(counts);
    };
    h.audience.stop_when = [&] {
        if (h.clock.elapsed() >= 500ms) h.control.pointer_on_device->store(1);
        return false;
    };
    h.run_for(1s);
    ASSERT_GE(h.screen.draw_settings.size(), 2u);
    EXPECT_TRUE(h.screen.draw_settings.front());
    EXPECT_FALSE(h.screen.draw_settings.back());
    EXPECT_EQ(h.screen.draw_settings.size(), 2u) << "applied only when it changes";
    EXPECT_EQ(counts.made, 1);
    EXPECT_EQ(counts.resets, 1);
    EXPECT_GT(counts.sends, 10);
}

TEST(StreamLoop, KeyFrameRequestsAreTaken) {
    LoopHarness h;
    h.audience.stop_when = [&] {
        if (h.clock.elapsed() == 2000ms) h.control.keyframe_wanted.store(1);
        return false;
    };
    h.run_for(3s);
    int keys = 0;
    for (const auto& f : h.audience.frames) keys += f.key ? 1 : 0;
    EXPECT_EQ(keys, 2);
    EXPECT_EQ(h.control.keyframe_wanted.load(), 0);
}

// ---- mended faults -------------------------------------------------------------

// A reopened capture of the same size after a switch to half size used to
// recompute the encoded size as full size while the half-size encoder and
// buffer stayed: a full-size picture went into the half-size buffer.
TEST(StreamLoopMends, ReopenAfterHalvingKeepsTheHalfSizeEncoder) {
    LoopHarness h;
    h.slow_at_full_size();
    bool lost_sent = false;
    h.audience.stop_when = [&] {
        if (!lost_sent && h.encoders.opened.size() == 2) {
            h.screen.grabs.push_back(SyntheticGrab::lost());
            lost_sent = true;
        }
        return false;
    };
    h.run_for(6s);
    ASSERT_EQ(h.encoders.opened.size(), 2u) << h.all_lines();
    EXPECT_EQ(h.count_lines("capture lost; reopening"), 1);
    const auto& half = *h.encoders.opened[1];
    EXPECT_GT(half.encodes, 50);
    EXPECT_EQ(half.last_picture_size, 32u * 24 * 3 / 2);
    EXPECT_EQ(h.count_lines("encoder failed"), 0) << h.all_lines();
    EXPECT_EQ(h.count_lines("does not fit"), 0);
}

// Rows of an odd-width screen are width x 4 bytes; converting them as if
// they were the even capture width sheared the picture.
TEST(StreamLoopMends, OddWidthScreenIsConvertedFromItsTrueRows) {
    LoopHarness h;
    h.screen.monitor.width = 65;
    h.screen.monitor.height = 49;
    h.run_for(100ms);
    ASSERT_EQ(h.encoders.opened.size(), 1u);
    const auto& rec = *h.encoders.opened[0];
    EXPECT_EQ(rec.settings.width, 64u);
    EXPECT_EQ(rec.settings.height, 48u);
    Bytes expected(64 * 48 * 3 / 2);
    ASSERT_TRUE(convert_to_nv12(h.screen.last_picture, 65, 49, false, 64, 48, expected));
    EXPECT_EQ(rec.last_picture, expected);
}

// A new encoder was judged by the last output of the encoder before it: after
// a long pause, a new encoder that needs a few pictures before its first
// output was declared dead.
TEST(StreamLoopMends, NewEncoderIsNotJudgedByTheOldOnesLastOutput) {
    LoopHarness h;
    h.screen.otherwise = SyntheticGrab::picture(0.5);
    h.screen.grabs = {SyntheticGrab::picture(), SyntheticGrab::lost()};
    h.screen.openings = {{}, {"busy"}, {"busy"}, {"busy"}, {"busy"},
                         {std::nullopt, "Desktop Duplication", PictureSize{80, 60}}};
    h.encoders.choose = [](const EncoderSettings&) {
        FakeEncoderPlan plan;
        plan.encode_time = Duration::zero();
        plan.silent_encodes = 8;
        return plan;
    };
    h.run_for(8s);
    EXPECT_TRUE(h.has_line("screen changed to 80x60")) << h.all_lines();
    EXPECT_EQ(h.count_lines("gave nothing back"), 0) << h.all_lines();
    EXPECT_EQ(h.encoders.opened.size(), 2u);
}

// A failed half-size attempt kept the ring full, so every later picture
// tried to open another encoder.
TEST(StreamLoopMends, FailedHalfSizeAttemptMeasuresAfresh) {
    LoopHarness h;
    h.screen.otherwise = SyntheticGrab::picture(1.0);
    h.encoders.choose = [](const EncoderSettings& s) {
        FakeEncoderPlan plan;
        plan.encode_time = 50ms;
        if (s.width != 64) plan.refuse_open = "no memory";
        return plan;
    };
    h.run_for(10s);
    int half_attempts = 0;
    for (const auto& a : h.encoders.attempts) half_attempts += a.width == 32 ? 1 : 0;
    const int encodes = h.encoders.opened[0]->encodes;
    ASSERT_GT(encodes, 90);
    EXPECT_EQ(half_attempts, encodes / 30);
    EXPECT_EQ(h.count_lines("encoding takes"), 0);
}

TEST(StreamThread, FaultIsLoggedAndToldAndRunningCleared) {
    struct ThrowingSystem : CaptureSystem {
        MonitorInfo primary_monitor() override { throw std::runtime_error("monitor query broke"); }
        ScreenBlock screen_block_reason() override { return ScreenBlock::none; }
        Result<CaptureBackendPtr> open_capture(const MonitorInfo&) override { return Error("unused"); }
        CaptureBackendPtr open_desktop_duplication(const MonitorInfo&) override { return nullptr; }
    } system;
    LoopHarness h;
    auto audience = std::make_shared<RecordingAudience>(h.clock);
    auto control = std::make_shared<StreamControl>();
    control->pointer_on_device = std::make_shared<std::atomic<std::uint32_t>>(0);
    StreamSeams seams = h.seams();
    seams.capture = &system;
    stream_thread(h.settings, 9, audience, nullptr, control, seams, nullptr);
    EXPECT_TRUE(h.has_line("stream #9 stopped by a fault: monitor query broke")) << h.all_lines();
    ASSERT_EQ(audience->notices.size(), 1u);
    EXPECT_EQ(audience->notices[0],
              "The picture stopped because of a fault on this PC. Connect again to restart it.");
    EXPECT_EQ(control->running.load(), 0);
}

TEST(StreamThread, WaitsForThePreviousStreamAndStartsSound) {
    LoopHarness h;
    auto previous = std::make_shared<StreamControl>();
    std::atomic<bool> previous_done{false};
    previous->thread.emplace([&] {
        std::this_thread::sleep_for(20ms);
        previous_done = true;
    });
    auto control = std::make_shared<StreamControl>();
    control->pointer_on_device = std::make_shared<std::atomic<std::uint32_t>>(0);
    auto audience = std::make_shared<RecordingAudience>(h.clock);
    bool saw_previous_done = false;
    audience->stop_when = [&] {
        saw_previous_done = previous_done.load();
        return true;
    };
    h.settings.audio = true;
    std::atomic<bool> sound_saw_stop{false};
    SoundStarter sound = [&](std::shared_ptr<StreamControl> c) -> std::optional<std::thread> {
        return std::thread([c, &sound_saw_stop] {
            while (c->running.load() != 0) std::this_thread::sleep_for(1ms);
            sound_saw_stop = true;
        });
    };
    stream_thread(h.settings, 2, audience, previous, control, h.seams(), sound);
    EXPECT_TRUE(saw_previous_done);
    EXPECT_FALSE(previous->thread.has_value());
    EXPECT_TRUE(sound_saw_stop) << "the sound thread ends with the stream and is waited for";
}

}  // namespace
}  // namespace vorlix::testing
