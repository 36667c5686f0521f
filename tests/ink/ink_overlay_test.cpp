#include "ink/ink_overlay.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace vorlix {
namespace {

// A window system in memory that notes what the overlay does to it, and at
// which time on the test's clock.
struct FakeScreen : InkOverlayScreen {
    MonitorInfo monitor{7, 10, 20, 64, 48, 96};
    double now = 0;
    bool refuse_surface = false;
    int live_surfaces = 0;
    std::vector<std::uint8_t> pixels;
    std::vector<double> frames;     // times of present
    std::vector<std::string> log;
    int probe_x = -1, probe_y = 0;  // when set, the alpha there at each present
    std::vector<std::uint8_t> probed;

    MonitorInfo read_monitor() override { return monitor; }
    void pump_messages() override {}
    std::span<std::uint8_t> make_surface(std::uint32_t w, std::uint32_t h) override {
        log.push_back("make " + std::to_string(w) + "x" + std::to_string(h));
        EXPECT_EQ(live_surfaces, 0) << "a surface was made while another was held";
        if (refuse_surface) return {};
        ++live_surfaces;
        pixels.assign(std::size_t{w} * h * 4, 0xEE);
        return pixels;
    }
    void release_surface() override { log.push_back("release"), --live_surfaces; }
    void present(const MonitorInfo& m) override {
        log.push_back("present at " + std::to_string(m.left) + "," + std::to_string(m.top));
        frames.push_back(now);
        if (probe_x >= 0) probed.push_back(alpha(probe_x, probe_y));
    }
    void hide() override { log.push_back("hide"); }

    std::uint8_t alpha(int x, int y) const { return pixels[(std::size_t(y) * monitor.width + x) * 4 + 3]; }
};

InkEvent ink(const std::string& phase, std::int64_t id, std::vector<double> points, const std::string& kind = "pen") {
    return InkEvent{.id = id, .phase = phase, .kind = kind, .width = 0.1, .points = std::move(points), .author = "A"};
}

// Runs the loop's frame at `t` with the screen's clock set to it.
void frame_at(InkOverlayLoop& loop, FakeScreen& screen, double t) {
    screen.now = t;
    loop.frame(screen, t);
}

TEST(InkOverlayTest, EveryQueuedEventIsAppliedBeforeOneFrame) {
    FakeScreen screen;
    InkOverlayQueue queue;
    for (int i = 0; i < 5; ++i) queue.send(ink("end", i, {0.1 + 0.2 * i, 0.5}));
    queue.close();  // the loop ends once the queue is empty
    double clock = 0;
    run_ink_overlay(queue, screen, screen.monitor, [&] { return clock += 0.001; });
    ASSERT_EQ(screen.frames.size(), 1u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(screen.alpha(int((0.1 + 0.2 * i) * 64), 24), 255) << i;
    EXPECT_EQ(screen.log.back(), "release");
    EXPECT_EQ(screen.live_surfaces, 0);
}

TEST(InkOverlayTest, AFloodOfMovesStaysBoundedAndClearAllStillEmptiesThePicture) {
    FakeScreen screen;
    InkOverlayQueue queue;
    // The overlay is busy: moves past the limit are dropped, the rest never.
    EXPECT_TRUE(queue.send(ink("begin", 1, {0.1, 0.1})));
    int queued = 0;
    for (int i = 0; i < 10'000; ++i) queued += queue.send(ink("move", 1, {0.1 + i * 1e-5, 0.2}));
    EXPECT_EQ(queued, static_cast<int>(kInkQueueLimit) - 1);
    EXPECT_TRUE(queue.send(ink("end", 1, {0.9, 0.9})));
    EXPECT_TRUE(queue.send(ink("begin", 2, {0.5, 0.5}, "laser")));
    EXPECT_TRUE(queue.send(ink("clear", 0, {})));
    EXPECT_EQ(queue.waiting(), kInkQueueLimit + 3);
    // Clear-all takes the place of all of it: no frame shows those strokes.
    EXPECT_TRUE(queue.send(InkClearAll{}));
    EXPECT_TRUE(queue.send(ink("end", 3, {0.75, 0.5})));
    EXPECT_EQ(queue.waiting(), 2u);
    queue.close();
    double clock = 0;
    run_ink_overlay(queue, screen, screen.monitor, [&] { return clock += 0.001; });
    ASSERT_EQ(screen.frames.size(), 1u);
    EXPECT_EQ(screen.alpha(48, 24), 255);
    EXPECT_EQ(screen.alpha(6, 4), 0);  // where stroke 1 began

    // Once the overlay has ended, nothing more is kept for it.
    queue.stop();
    EXPECT_FALSE(queue.send(ink("begin", 4, {0.5, 0.5})));
    EXPECT_FALSE(queue.send(InkClearAll{}));
    EXPECT_EQ(queue.waiting(), 0u);
}

TEST(InkOverlayTest, FramesArePacedLasersFadeAndTheWindowHides) {
    FakeScreen screen;
    InkOverlayLoop loop(screen.monitor, 0);
    EXPECT_EQ(loop.wait_limit().count(), 250);

    // A laser stroke being drawn: frames for its events, none by the clock.
    loop.take(ink("begin", 1, {0.5, 0.5}, "laser"), 0.001);
    frame_at(loop, screen, 0.001);
    for (int i = 1; i <= 60; ++i) {
        const double t = 0.001 + i * 0.016;
        if (i % 3 == 0) loop.take(ink("move", 1, {0.5, 0.5 + i * 0.001}, "laser"), t);
        EXPECT_EQ(loop.wait_limit().count(), i % 3 == 0 ? 16 : 250) << i;
        frame_at(loop, screen, t);
    }
    EXPECT_EQ(screen.frames.size(), 21u);  // the first, then one for each of the 20 events

    // It ends: drawn every 30 ms or so until it has faded 1.5 s later, then hidden.
    loop.take(ink("end", 1, {}, "laser"), 1.0);
    const std::size_t before = screen.frames.size();
    for (double t = 1.0; t < 3.0; t += 0.016) frame_at(loop, screen, t);
    EXPECT_NEAR(double(screen.frames.size() - before), 1.5 / 0.032, 3);
    for (std::size_t i = 1; i < screen.frames.size(); ++i) EXPECT_GE(screen.frames[i] - screen.frames[i - 1], 0.030 - 1e-9);
    EXPECT_LT(screen.frames.back(), 2.5);
    EXPECT_EQ(screen.log.back(), "hide");
    EXPECT_FALSE(loop.shown());
    EXPECT_TRUE(loop.strokes().strokes.empty());
    EXPECT_EQ(loop.wait_limit().count(), 250);
}

TEST(InkOverlayTest, APictureTooBigForOneFrameShowsTheStrokeBeingDrawnAndIsFinishedByTheFramesAfter) {
    FakeScreen screen;
    InkOverlayLoop loop(screen.monitor, 0);
    std::vector<double> zigzag;
    for (int i = 0; i < 10'000; ++i) zigzag.insert(zigzag.end(), {double(i % 2), double(i % 2)});
    loop.take(ink("end", 1, zigzag), 0);
    // A laser held down along it never settles: once still, the picture is
    // finished in order.
    loop.take(ink("begin", 2, std::vector<double>(zigzag.begin(), zigzag.begin() + 4'000), "laser"), 0);
    // A move every frame, away from the zigzags' diagonal: each frame shows
    // where the pen is, though the first cannot draw the whole picture.
    double t = 0;
    loop.take(ink("begin", 3, {0.8, 0.1}), t);
    for (int i = 1; i <= 8; ++i, t += 0.03) {
        const double y = 0.1 + 0.02 * i;
        loop.take(ink("move", 3, {0.8, y}), t);
        frame_at(loop, screen, t);
        EXPECT_EQ(screen.alpha(51, int(y * 48)), 255) << "frame " << i;
        if (i == 1) {
            EXPECT_EQ(loop.wait_limit().count(), 16);
        }
    }
    // It ends; the frames after finish the picture as one drawing gives it,
    // and every frame shown meanwhile still shows the pen's line.
    loop.take(ink("end", 3, {}), t);
    screen.probe_x = 51, screen.probe_y = int(0.26 * 48);
    for (int i = 0; i < 60 && (i == 0 || loop.wait_limit().count() == 16); ++i, t += 0.03) frame_at(loop, screen, t);
    EXPECT_EQ(screen.probed, std::vector<std::uint8_t>(screen.probed.size(), 255));
    EXPECT_LT(screen.frames.size(), 18u);
    EXPECT_EQ(loop.wait_limit().count(), 250);
    std::vector<std::uint8_t> whole(screen.pixels.size());
    InkCanvas canvas;
    ASSERT_TRUE(render_ink_frame(canvas, loop.strokes(), t, whole, 64, 48, InkPlacement{0, 0, 64, 48}, false,
                                 std::numeric_limits<std::uint64_t>::max()));
    EXPECT_EQ(screen.pixels, whole);
}

TEST(InkOverlayTest, MonitorChangesAndSurfaceFailures) {
    FakeScreen screen;
    InkOverlayLoop loop(screen.monitor, 0);
    // No surface can be made: nothing shown, and the next change tries again.
    screen.refuse_surface = true;
    loop.take(ink("end", 1, {0.5, 0.5}), 0.1);
    frame_at(loop, screen, 0.1);
    EXPECT_TRUE(screen.frames.empty());
    EXPECT_FALSE(loop.shown());
    screen.refuse_surface = false;
    loop.take(ink("end", 2, {0.2, 0.2}), 0.2);
    frame_at(loop, screen, 0.2);
    EXPECT_EQ(screen.frames.size(), 1u);

    // The monitor changes; a drawing within 2 s of the last check keeps the
    // old size, the first after it uses the new one.
    screen.monitor = MonitorInfo{8, -100, 0, 80, 60, 144};
    loop.take(ink("end", 3, {0.3, 0.3}), 1.5);
    frame_at(loop, screen, 1.5);
    EXPECT_EQ(screen.log.back(), "present at 10,20");
    loop.take(ink("end", 4, {0.4, 0.4}), 2.1);
    frame_at(loop, screen, 2.1);
    EXPECT_EQ(screen.log, (std::vector<std::string>{"make 64x48", "make 64x48", "present at 10,20",
                                                    "present at 10,20", "release", "make 80x60",
                                                    "present at -100,0"}));
    // A failure after a change holds no surface at all.
    screen.monitor.width = 100;
    screen.refuse_surface = true;
    loop.take(ink("end", 5, {0.5, 0.6}), 4.2);
    frame_at(loop, screen, 4.2);
    EXPECT_EQ(screen.live_surfaces, 0);

    // Clear-all hides the window at the next frame.
    screen.refuse_surface = false;
    loop.take(ink("end", 6, {0.5, 0.6}), 4.3);
    frame_at(loop, screen, 4.3);
    EXPECT_TRUE(loop.shown());
    loop.take(InkClearAll{}, 4.4);
    frame_at(loop, screen, 4.4);
    EXPECT_EQ(screen.log.back(), "hide");
    EXPECT_FALSE(loop.shown());
    // Nothing is kept for a picture that is gone.
    const InkLayers& layers = loop.layers();
    EXPECT_EQ(layers.settled_pixels.capacity() + layers.finishing_pixels.capacity() +
                  layers.settled.coverage.capacity() + layers.over.coverage.capacity(),
              0u);
}

}  // namespace
}  // namespace vorlix
