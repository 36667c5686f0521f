// The ink overlay's drawing on a 1920x1080 picture: a full redraw of 300
// hand-drawn strokes (the list's limit), the worst frame a device can cause,
// and the cost of one new segment.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "ink/ink.h"
#include "ink/ink_raster.h"
#include "support/handwriting.h"

namespace {

using namespace vorlix;

constexpr std::uint32_t kWidth = 1920;
constexpr std::uint32_t kHeight = 1080;

// One fresh frame of the strokes each iteration, as the overlay draws one.
void redraw(benchmark::State& state, const InkStrokes& ink) {
    std::vector<std::uint8_t> pixels(std::size_t{kWidth} * kHeight * 4);
    InkCanvas canvas;
    const InkPlacement placement{0, 0, kWidth, kHeight};
    for (auto _ : state) {
        render_ink_strokes(canvas, ink, 0.0, pixels, kWidth, kHeight, placement);
        benchmark::DoNotOptimize(pixels.data());
    }
}

void BM_InkFullRedraw(benchmark::State& state) {
    const InkStrokes ink = testing::handwriting();
    redraw(state, ink);
}
BENCHMARK(BM_InkFullRedraw)->Unit(benchmark::kMillisecond);

// 300 ended strokes at the thinnest width, pens, lasers or every other one
// a laser (`lasers` 0, 2 or 1), with the points (and width) `shape` gives.
template <typename Shape>
InkStrokes device_picture(int lasers, Shape shape) {
    InkStrokes ink;
    for (int s = 0; s < 300; ++s) {
        const bool laser = lasers == 2 || (lasers == 1 && s % 2);
        InkEvent event{.id = s, .phase = "end", .kind = laser ? "laser" : "pen", .width = kMinInkWidth};
        shape(s, event);
        apply_ink_event(ink, event, 0.0);
    }
    return ink;
}

// The costliest pictures a device can make the overlay draw, each frame a
// fresh drawing that stops at the frame's budget:
// - zigzags between opposite corners, every other one a laser, as many
//   points as the drawing keeps (666 a stroke);
// - U shapes: a line down each screen edge joined along the bottom, four
//   points a stroke, so every row is blended from edge to edge;
// - ladders: short rungs at both edges of every row, joined once across;
// - the widest dots, one spot a stroke, scattered over the screen.
void BM_InkWorstFrame(benchmark::State& state) {
    redraw(state, device_picture(1, [](int s, InkEvent& e) {
        for (std::size_t i = 0; i < kMaxInkNumbers / 2 / 300; ++i) {
            const double nudge = (s % 7) * 0.001;
            e.points.insert(e.points.end(), {i % 2 ? 1.0 - nudge : nudge, double((i + s) % 2)});
        }
    }));
}
BENCHMARK(BM_InkWorstFrame)->Unit(benchmark::kMillisecond);

// Argument: 0 pens, 2 lasers.
void BM_InkUFrame(benchmark::State& state) {
    redraw(state, device_picture(int(state.range(0)), [](int s, InkEvent& e) {
        const double in = (s % 5) * 0.0005;
        e.points = {in, 0.0, in, 1.0 - in, 1.0 - in, 1.0 - in, 1.0 - in, 0.0};
    }));
}
BENCHMARK(BM_InkUFrame)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_InkLadderFrame(benchmark::State& state) {
    redraw(state, device_picture(int(state.range(0)), [](int s, InkEvent& e) {
        // Down the left edge a rung every few rows, across, up the right edge.
        const int rungs = int(kMaxInkNumbers / 300 / 8);
        for (int side = 0; side < 2; ++side) {
            for (int i = 0; i < rungs; ++i) {
                const double y = (side ? rungs - 1 - i : i) / double(rungs - 1) + (s % 3) * 0.0004;
                const double edge = side ? 1.0 : 0.0, inward = side ? 1.0 - 0.003 : 0.003;
                e.points.insert(e.points.end(), {edge, y, inward, y});
            }
        }
    }));
}
BENCHMARK(BM_InkLadderFrame)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_InkDotsFrame(benchmark::State& state) {
    redraw(state, device_picture(int(state.range(0)), [](int s, InkEvent& e) {
        e.width = kMaxInkWidth;
        const double x = ((s * 37) % 100) / 99.0, y = ((s * 61) % 100) / 99.0;
        for (std::size_t i = 0; i < kMaxInkNumbers / 2 / 300; ++i) e.points.insert(e.points.end(), {x, y});
    }));
}
BENCHMARK(BM_InkDotsFrame)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_InkOneSegment(benchmark::State& state) {
    std::vector<std::uint8_t> pixels(std::size_t{kWidth} * kHeight * 4);
    std::vector<std::uint8_t> coverage(std::size_t{kWidth} * kHeight);
    const InkPixelPoint segment[2] = {{900.0, 500.0}, {904.8, 502.7}};
    for (auto _ : state) {
        rasterise_stroke(coverage, pixels, kWidth, kHeight, segment, 3.84, InkColor{255, 59, 48}, 1.0);
        benchmark::DoNotOptimize(pixels.data());
    }
}
BENCHMARK(BM_InkOneSegment)->Unit(benchmark::kMicrosecond);

}  // namespace
