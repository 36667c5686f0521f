// The ink overlay's drawing on a 1920x1080 picture: a full redraw of 300
// hand-drawn strokes (the list's limit), the worst frame a device can cause,
// and the cost of one new segment.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "ink/ink.h"
#include "ink/ink_raster.h"

namespace {

using namespace vorlix;

constexpr std::uint32_t kWidth = 1920;
constexpr std::uint32_t kHeight = 1080;

// 300 handwritten strokes at the default width: 48 points each, about a
// tenth of the screen wide with a wave of 2% of its height (roughly a word);
// three of them laser pointer strokes.
InkStrokes handwriting() {
    InkStrokes ink;
    for (int s = 0; s < 300; ++s) {
        InkStroke stroke;
        stroke.id = s;
        stroke.color = 0xff3b30;
        stroke.laser = s % 100 == 99;
        const double x0 = 0.05 + 0.7 * ((s * 37) % 100) / 100.0;
        const double y0 = 0.05 + 0.9 * ((s * 61) % 100) / 100.0;
        for (int i = 0; i < 48; ++i) {
            stroke.points.push_back(x0 + 0.002 * i);
            stroke.points.push_back(y0 + 0.01 * std::sin(i * 0.4));
        }
        ink.strokes.push_back(std::move(stroke));
    }
    return ink;
}

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
    const InkStrokes ink = handwriting();
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
