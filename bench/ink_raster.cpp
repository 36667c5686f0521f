// The ink overlay's drawing on a 1920x1080 picture: a full redraw of 300
// hand-drawn strokes (the list's limit), the worst frames a device can
// cause, the overlay's frames while a stroke is drawn over those pictures,
// and the cost of one new segment.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <utility>
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

// 300 strokes at the thinnest width, pens, lasers or every other one a
// laser (`lasers` 0, 2 or 1), with the points (and width) `shape` gives.
// The pens have ended; the lasers are held down, so they never fade.
using Shape = void (*)(int stroke, InkEvent& event);

InkStrokes device_picture(int lasers, Shape shape) {
    InkStrokes ink;
    for (int s = 0; s < 300; ++s) {
        const bool laser = lasers == 2 || (lasers == 1 && s % 2);
        InkEvent event{
            .id = s, .phase = laser ? "begin" : "end", .kind = laser ? "laser" : "pen", .width = kMinInkWidth};
        shape(s, event);
        apply_ink_event(ink, event, 0.0);
    }
    return ink;
}

// The costliest pictures a device can make the overlay draw:
// - zigzags between opposite corners, as many points as the drawing keeps
//   (666 a stroke);
// - U shapes: a line down each screen edge joined along the bottom, four
//   points a stroke, so every row is blended from edge to edge;
// - ladders: short rungs at both edges of every row, joined once across;
// - the widest dots, each stroke one spot drawn over and over;
// - columns: thin zigzags from the top edge to the bottom and back, each
//   in a column of its own (boxes of few pixels in many rows).
void zigzag(int s, InkEvent& e) {
    for (std::size_t i = 0; i < kMaxInkNumbers / 2 / 300; ++i) {
        const double nudge = (s % 7) * 0.001;
        e.points.insert(e.points.end(), {i % 2 ? 1.0 - nudge : nudge, double((i + s) % 2)});
    }
}

void u_shape(int s, InkEvent& e) {
    const double in = (s % 5) * 0.0005;
    e.points = {in, 0.0, in, 1.0 - in, 1.0 - in, 1.0 - in, 1.0 - in, 0.0};
}

void ladder(int s, InkEvent& e) {
    // Down the left edge a rung every few rows, across, up the right edge.
    const int rungs = int(kMaxInkNumbers / 300 / 8);
    for (int side = 0; side < 2; ++side) {
        for (int i = 0; i < rungs; ++i) {
            const double y = (side ? rungs - 1 - i : i) / double(rungs - 1) + (s % 3) * 0.0004;
            const double edge = side ? 1.0 : 0.0, inward = side ? 1.0 - 0.003 : 0.003;
            e.points.insert(e.points.end(), {edge, y, inward, y});
        }
    }
}

void dots(int s, InkEvent& e) {
    e.width = kMaxInkWidth;
    const double x = ((s * 37) % 100) / 99.0, y = ((s * 61) % 100) / 99.0;
    for (std::size_t i = 0; i < kMaxInkNumbers / 2 / 300; ++i) e.points.insert(e.points.end(), {x, y});
}

void columns(int s, InkEvent& e) {
    for (std::size_t i = 0; i < kMaxInkNumbers / 2 / 300; ++i) e.points.insert(e.points.end(), {(s + 0.5) / 300, double(i % 2)});
}

constexpr Shape kShapes[] = {zigzag, u_shape, ladder, dots, columns};

// Arguments: the shape (0 zigzags, 1 U shapes, 2 ladders, 3 dots, 4 columns), the
// kind (0 pens, 1 every other one a laser, 2 lasers). Each frame is a fresh
// drawing that stops at the frame's budget.
void BM_InkWorstFrame(benchmark::State& state) {
    redraw(state, device_picture(int(state.range(1)), kShapes[state.range(0)]));
}

// The overlay's frames while a pen stroke is drawn over the picture, a
// move each frame; counts how many frames the picture takes to show whole
// when nothing moves (30 ms apart, 400 at most; strokes the settled
// picture cannot take wait a quarter second of stillness first).
void BM_InkDrawingFrame(benchmark::State& state) {
    InkStrokes ink = device_picture(int(state.range(1)), kShapes[state.range(0)]);
    std::vector<std::uint8_t> pixels(std::size_t{kWidth} * kHeight * 4);
    const InkPlacement placement{0, 0, kWidth, kHeight};
    const std::uint64_t budget = ink_frame_budget(kWidth, kHeight);
    double now = 0.0;
    static std::map<std::pair<std::int64_t, std::int64_t>, int> counted;  // the benchmark calls each case often
    int& frames = counted[{state.range(0), state.range(1)}];
    if (frames == 0) {
        InkLayers layers;
        do {
            draw_ink_layers(layers, ink, now += 0.03, pixels, kWidth, kHeight, placement, budget);
        } while (layers.unfinished && ++frames < 400);
        ++frames;
    }
    // The pen comes down at once: each frame also works on the settled picture.
    InkLayers layers;
    state.counters["frames_to_whole"] = frames;
    InkEvent pen{.id = 1000, .phase = "begin", .kind = "pen", .points = {0.5, 0.5}};
    apply_ink_event(ink, pen, now);
    pen.phase = "move";
    int step = 0;
    for (auto _ : state) {
        pen.points = {0.5 + 0.0004 * (step % 500), 0.5 + 0.01 * std::sin(++step * 0.3)};
        apply_ink_event(ink, pen, now += 0.03);
        draw_ink_layers(layers, ink, now, pixels, kWidth, kHeight, placement, budget);
        benchmark::DoNotOptimize(pixels.data());
    }
}

void shapes_and_kinds(benchmark::internal::Benchmark* b) {
    b->Args({0, 1})->Args({0, 0})->Args({0, 2});
    for (int shape = 1; shape < 5; ++shape) b->Args({shape, 0})->Args({shape, 2});
    b->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_InkWorstFrame)->Apply(shapes_and_kinds);
BENCHMARK(BM_InkDrawingFrame)->Apply(shapes_and_kinds);

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
