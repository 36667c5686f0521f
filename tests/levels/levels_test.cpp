#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "levels/brightness_connection.h"
#include "levels/levels_loop.h"

namespace vorlix {
namespace {

using namespace std::chrono_literals;

// An audio output and a brightness source whose readings the test sets.
class FakeDevices final : public LevelsDevices {
public:
    bool has_output = true;
    float scalar = 0.5f;
    bool mute = false;
    BrightnessReading brightness{0.37, false};
    std::chrono::milliseconds brightness_delay{0};
    std::chrono::milliseconds set_delay{0};
    int brightness_reads = 0;
    std::vector<std::uint8_t> brightness_set;
    int closed = 0;

    bool open_endpoint() override { return has_output; }
    void close_endpoint() override { ++closed; }
    std::optional<float> volume() override { return scalar; }
    std::optional<bool> muted() override { return mute; }
    void set_volume(float v) override {
        std::this_thread::sleep_for(set_delay);
        scalar = v;
    }
    void set_muted(bool m) override { mute = m; }
    BrightnessReading read_brightness() override {
        ++brightness_reads;
        std::this_thread::sleep_for(brightness_delay);
        return brightness;
    }
    void set_brightness(std::uint8_t percent) override {
        std::this_thread::sleep_for(set_delay);
        brightness_set.push_back(percent);
    }
};

struct Scene {
    FakeDevices dev;
    std::vector<Levels> reports;
    std::string log;
    LevelsLoop loop{dev, [this](const Levels& l) { reports.push_back(l); },
                    [this](std::string_view line) { log += std::string(line) + "\n"; }};
    LevelsLoop::Clock::time_point t = LevelsLoop::Clock::now();

    void send(LevelsRequest r) { loop.handle(std::move(r), t); }
    void tick(std::chrono::milliseconds d = 1s) {
        t += d;
        loop.on_timeout(t);
    }
};

LevelsRequest active(bool on) { return {.kind = LevelsRequest::Kind::Active, .active = on}; }
LevelsRequest set(std::string name, double v) { return {.kind = LevelsRequest::Kind::Set, .name = std::move(name), .value = v}; }

TEST(Levels, RoundsAndClampsValues) {
    struct Case {
        double in;
        std::uint8_t percent;
        double level;
    } cases[] = {{0.004, 0, 0.0}, {0.005, 1, 0.01}, {1.0, 100, 1.0}, {0.333, 33, 0.33},
                 {0.996, 100, 1.0}, {-0.2, 0, 0.0},   {1.7, 100, 1.0}, {NAN, 0, 0.0}};
    for (const Case& c : cases) {
        EXPECT_EQ(level_percent(c.in), c.percent) << c.in;
        EXPECT_DOUBLE_EQ(round_level(c.in), c.level) << c.in;
    }
}

TEST(Levels, ReportsChangesOnlyWhileActiveAndHonoursTheBrightnessCache) {
    Scene s;
    s.tick();
    s.send({.kind = LevelsRequest::Kind::Changed});
    EXPECT_TRUE(s.reports.empty());  // inactive

    s.dev.scalar = 0.333f;
    s.send(active(true));
    s.tick();
    ASSERT_EQ(s.reports.size(), 1u);
    EXPECT_EQ(s.reports[0], (Levels{.volume = 0.33, .brightness = 0.37, .muted = false}));
    EXPECT_EQ(s.dev.brightness_reads, 1);

    s.dev.scalar = 0.334f;  // below a hundredth: nothing
    s.dev.brightness.value = 0.5;
    for (int i = 0; i < 3; ++i) s.tick();
    EXPECT_EQ(s.reports.size(), 1u);
    EXPECT_EQ(s.dev.brightness_reads, 1);  // cached for 3 s
    s.tick();
    EXPECT_EQ(s.dev.brightness_reads, 2);
    ASSERT_EQ(s.reports.size(), 2u);
    EXPECT_EQ(s.reports[1].brightness, 0.5);

    // Sets: volume above 0 unmutes, 0 leaves mute alone; mute over 0.5 mutes; brightness re-read at once.
    struct Step {
        const char* name;
        double value;
        bool muted_after;
    } steps[] = {{"mute", 0.51, true}, {"volume", 0.0, true}, {"mute", 0.5, false},
                 {"mute", 1.0, true},  {"volume", 0.2, false}, {"loudness", 1.0, false}};
    for (const Step& step : steps) {
        s.send(set(step.name, step.value));
        EXPECT_EQ(s.dev.mute, step.muted_after) << step.name << " " << step.value;
        EXPECT_EQ(s.reports.back().muted, step.muted_after) << step.name << " " << step.value;
    }
    EXPECT_EQ(s.reports.back().volume, 0.2);
    const int reads = s.dev.brightness_reads;
    s.send(set("brightness", 0.005));
    EXPECT_EQ(s.dev.brightness_set, std::vector<std::uint8_t>{1});
    EXPECT_EQ(s.dev.brightness_reads, reads + 1);

    // A query right after activation suppresses an identical report.
    s.send(active(false));
    EXPECT_EQ(s.dev.closed, 1);
    s.send(active(true));
    auto [reply, answer] = make_channel<std::optional<Levels>>();
    s.send({.kind = LevelsRequest::Kind::Query, .reply = std::move(reply)});
    const std::size_t reported = s.reports.size();
    s.tick();
    EXPECT_EQ(s.reports.size(), reported);
    std::optional<std::optional<Levels>> got = answer.try_receive();
    ASSERT_TRUE(got && *got);
    EXPECT_EQ(**got, s.reports.back());
}

TEST(Levels, NoOutputMeansNoLevelsAndNoSets) {
    Scene s;
    s.dev.has_output = false;
    s.send(active(true));
    for (LevelsRequest r : {set("volume", 0.9), set("mute", 1.0)}) s.send(std::move(r));
    s.tick();
    EXPECT_TRUE(s.reports.empty());
    EXPECT_EQ(s.dev.scalar, 0.5f);
    EXPECT_FALSE(s.dev.mute);
}

// The thread as the platform runs it, with a brightness source that hangs
// until its own time limit: volume and mute still come through, the
// brightness is left out, and the hang is logged once.
TEST(Levels, ThreadAnswersWithinItsBoundDespiteAHungBrightnessSource) {
    Scene s;
    s.dev.brightness = {std::nullopt, true};
    s.dev.brightness_delay = 100ms;
    auto [tx, rx] = make_channel<LevelsRequest>();
    std::thread thread([&, rx = std::move(rx)]() mutable { run_levels_loop(rx, s.loop); });
    for (int i = 0; i < 2; ++i) {
        const auto asked = std::chrono::steady_clock::now();
        std::optional<Levels> levels = ask_levels_thread(tx);
        EXPECT_LT(std::chrono::steady_clock::now() - asked, 3s);
        ASSERT_TRUE(levels);
        EXPECT_EQ(*levels, (Levels{.volume = 0.5, .brightness = std::nullopt, .muted = false}));
    }
    tx.reset();
    thread.join();
    EXPECT_EQ(s.log, "levels: the screen brightness did not answer in time; it is left out until it does\n");

    auto [gone_tx, gone_rx] = make_channel<LevelsRequest>();
    gone_rx.close();
    EXPECT_FALSE(ask_levels_thread(gone_tx, 3s));  // a thread that is gone answers at once with none
}

// A flood of slow sets ahead of a query: each kind's waiting sets give way
// to the newest, so the query still answers within its bound, with the
// newest values.
TEST(Levels, AFloodOfSetsLeavesQueriesWithinTheirBound) {
    Scene s;
    s.dev.set_delay = 100ms;
    auto [tx, rx] = make_channel<LevelsRequest>();
    auto pending = std::make_shared<PendingLevelSets>();
    std::thread thread([&, rx = std::move(rx)]() mutable { run_levels_loop(rx, s.loop); });
    for (int i = 1; i <= 100; ++i) queue_level_set(tx, pending, i % 2 ? "brightness" : "volume", i / 100.0);
    const auto asked = std::chrono::steady_clock::now();
    const std::optional<Levels> levels = ask_levels_thread(tx);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 3s);
    tx.reset();
    thread.join();
    ASSERT_TRUE(levels);
    EXPECT_EQ(levels->volume, 1.0);
    ASSERT_FALSE(s.dev.brightness_set.empty());
    EXPECT_LE(s.dev.brightness_set.size(), 2u);
    EXPECT_EQ(s.dev.brightness_set.back(), 99);

    // Kinds that set nothing are one kind; the others keep their last order.
    PendingLevelSets sets;
    EXPECT_TRUE(sets.put("mute", 1));
    for (const char* kind : {"volume", "loud", "soft", "mute"}) EXPECT_FALSE(sets.put(kind, 0.5));
    using Sets = std::vector<std::pair<std::string, double>>;
    EXPECT_EQ(sets.take(), (Sets{{"volume", 0.5}, {"soft", 0.5}, {"mute", 0.5}}));
    EXPECT_TRUE(sets.put("volume", 0.5));
    // A volume above 0 unmutes: mute, 0.5, 0 ends unmuted at 0, as one by one.
    sets.take();
    for (const auto& [kind, value] : Sets{{"mute", 1}, {"volume", 0.5}, {"volume", 0}}) sets.put(kind, value);
    EXPECT_EQ(sets.take(), (Sets{{"mute", 0}, {"volume", 0}}));
}

using Outcome = BrightnessConnection::Outcome;

TEST(BrightnessConnection, ARestartedServiceIsConnectedToAgainAndNoBrightnessIsFinal) {
    BrightnessConnection c;
    ASSERT_TRUE(c.due());
    EXPECT_EQ(c.record(Outcome::available), "levels: this PC's screen brightness can be set");
    EXPECT_FALSE(c.due());
    EXPECT_FALSE(c.forget_on(0x80041003));  // access denied: the connection stays
    EXPECT_FALSE(c.forget_on(0x80004005));
    EXPECT_TRUE(c.available());
    // RPC_E_DISCONNECTED, an unavailable RPC server and WMI shutting down: a
    // restarted service.
    for (std::uint32_t gone : {0x80010108u, 0x800706BAu, 0x80041033u}) {
        EXPECT_TRUE(c.forget_on(gone)) << std::hex << gone;
        EXPECT_TRUE(c.due());
        EXPECT_EQ(c.record(Outcome::retry), std::nullopt);  // still restarting
        EXPECT_TRUE(c.due());
        // Failing otherwise, or finding no screen yet, while it comes back:
        // brightness seen once is not given up.
        EXPECT_EQ(c.record(Outcome::absent), std::nullopt);
        EXPECT_TRUE(c.due());
        EXPECT_EQ(c.record(Outcome::available), std::nullopt);  // said once per process
        EXPECT_TRUE(c.available());
    }

    // No brightness is final; a probe that timed out is tried again.
    BrightnessConnection desktop;
    EXPECT_EQ(desktop.record(Outcome::absent), "levels: no screen brightness to set (a desktop PC?)");
    EXPECT_FALSE(desktop.due());
    EXPECT_FALSE(desktop.forget_on(0x80010108));
    EXPECT_FALSE(desktop.due());

    BrightnessConnection slow;
    EXPECT_EQ(slow.record(Outcome::retry), std::nullopt);
    EXPECT_TRUE(slow.due());
}

}  // namespace
}  // namespace vorlix
