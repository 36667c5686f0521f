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

// The worst a device can make the overlay draw: 300 strokes zigzagging
// between opposite corners, every other one a laser, at the thinnest width,
// with as many points as the drawing keeps (666 each); each frame is a fresh
// drawing, which stops at the frame's budget.
void BM_InkWorstFrame(benchmark::State& state) {
    InkStrokes ink;
    for (int s = 0; s < 300; ++s) {
        InkEvent zigzag{.id = s, .phase = "begin", .kind = s % 2 ? "laser" : "pen", .width = kMinInkWidth};
        for (std::size_t i = 0; i < kMaxInkNumbers / 2 / 300; ++i) {
            const double nudge = (s % 7) * 0.001;
            zigzag.points.insert(zigzag.points.end(), {i % 2 ? 1.0 - nudge : nudge, double((i + s) % 2)});
        }
        apply_ink_event(ink, zigzag, 0.0);
    }
    redraw(state, ink);
}
BENCHMARK(BM_InkWorstFrame)->Unit(benchmark::kMillisecond);

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
