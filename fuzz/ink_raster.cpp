// Random strokes, picture sizes, placements and buffer lengths drawn by the
// ink rasteriser, frame after frame as the overlay draws a picture too big
// for one: nothing is written outside the buffers, the coverage buffer is
// all zero after every finished picture, and a short picture stays cleared.
// Pictures may be 1920x1080 with strokes as long as the drawing keeps, so a
// frame whose work is not bounded shows up as a time-out. The frames spend a
// sixteenth of the overlay's budget or less (the sanitizers make each unit
// some forty times slower), so the frames that go on are taken too. The
// overlay's layered frames then draw the same strokes as they change.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ink/ink.h"
#include "ink/ink_raster.h"

namespace {

struct Input {
    const std::uint8_t* data;
    std::size_t size;

    template <typename T>
    T take() {
        T value{};
        const std::size_t n = size < sizeof(T) ? size : sizeof(T);
        std::memcpy(&value, data, n);
        data += n;
        size -= n;
        return value;
    }
};

bool all_zero(const std::vector<std::uint8_t>& bytes) {
    const std::vector<std::uint8_t> zeros(bytes.size(), 0);
    return std::memcmp(bytes.data(), zeros.data(), bytes.size()) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vorlix;
    Input in{data, size};
    const std::uint8_t shape = in.take<std::uint8_t>();
    const bool screen = shape & 1;  // a 1920x1080 monitor
    const bool short_buffer = shape & 2;
    const bool raw_placement = shape & 4;
    const int thrift = 4 + in.take<std::uint8_t>() % 16;
    const std::uint32_t width = screen ? 1920 : in.take<std::uint8_t>() % 200;
    const std::uint32_t height = screen ? 1080 : in.take<std::uint8_t>() % 200;
    InkPlacement placement{0, 0, double(width), double(height)};
    if (raw_placement) placement = {in.take<double>(), in.take<double>(), in.take<double>(), in.take<double>()};

    // Each stroke either lists its numbers or repeats a short pattern of
    // them up to a stroke's cap (a zigzag across the screen, say).
    InkStrokes ink;
    std::size_t numbers = 0;
    while (in.size > 0 && ink.strokes.size() < kMaxInkStrokes && numbers < kMaxInkNumbers) {
        InkStroke s;
        const std::uint8_t flags = in.take<std::uint8_t>();
        s.laser = flags & 1;
        s.ended = flags & 2;
        s.time = ((flags >> 2) & 7) * 0.2;
        const bool repeat = flags & 0x20;
        s.width = (flags & 0x80) ? in.take<double>() : kMinInkWidth + (in.take<std::uint8_t>() / 255.0) * kMaxInkWidth;
        s.color = in.take<std::uint32_t>() & 0xFFFFFF;
        std::size_t count = repeat ? in.take<std::uint16_t>() % (kMaxInkStrokeNumbers + 1) : in.take<std::uint8_t>() % 64;
        count = std::min(count, kMaxInkNumbers - numbers);
        const std::size_t listed = repeat ? 1 + in.take<std::uint8_t>() % 16 : count;
        for (std::size_t i = 0; i < listed && in.size > 0; ++i) {
            s.points.push_back((flags & 0x40) ? in.take<double>() : in.take<std::uint16_t>() / 65535.0);
        }
        const std::size_t pattern = s.points.size();
        for (std::size_t i = pattern; repeat && pattern > 0 && i < count; ++i) {
            const double next = s.points[i % pattern];
            s.points.push_back(next);
        }
        numbers += s.points.size();
        ink.strokes.push_back(std::move(s));
    }

    const std::size_t bytes = std::size_t{width} * height * 4;
    std::vector<std::uint8_t> pixels(short_buffer && bytes > 0 ? bytes - 1 : bytes, 0xAB);
    InkCanvas canvas;
    canvas.coverage.assign(short_buffer ? 3 : 0, 0);
    const std::uint64_t budget = ink_frame_budget(width, height) >> thrift;
    bool done = render_ink_frame(canvas, ink, 1.2, pixels, width, height, placement, false, budget);
    for (int frame = 0; frame < 3 && !done; ++frame) {
        done = render_ink_frame(canvas, ink, 1.2, pixels, width, height, placement, true, budget);
    }
    if (done && !all_zero(canvas.coverage)) std::abort();
    if (short_buffer && !all_zero(pixels)) std::abort();
    // A picture left unfinished is dropped whole by a fresh one.
    if (!done && (render_ink_strokes(canvas, InkStrokes{}, 1.2, pixels, width, height, placement) == false ||
                  !all_zero(canvas.coverage) || !all_zero(pixels))) {
        std::abort();
    }

    // The overlay's frames: a settled picture with strokes over it, the
    // newest stroke growing, the oldest gone, then the drawing still long
    // enough for what is over the settled picture to be drawn on in order.
    // A picture they report whole is the one a single drawing gives; one
    // they report unchanged is the one shown before (a picture finished in
    // order is drawn apart until whole), and the picture being finished is
    // held only meanwhile.
    InkLayers layers;
    double now = 1.2;
    std::vector<std::uint8_t> shown;
    for (int frame = 0; frame < 7; ++frame, now += 0.15) {
        if (frame == 1 && !ink.strokes.empty()) {
            ink.strokes.back().points.insert(ink.strokes.back().points.end(), {0.5, 0.5});
        }
        if (frame == 2 && !ink.strokes.empty()) ink.strokes.erase(ink.strokes.begin());
        shown = pixels;
        if (!draw_ink_layers(layers, ink, now, pixels, width, height, placement, budget) && shown != pixels) {
            std::abort();
        }
        if (!layers.finishing && !layers.finishing_pixels.empty()) std::abort();
        if (layers.whole && !layers.unfinished && !short_buffer && !screen) {
            std::vector<std::uint8_t> whole(pixels.size());
            InkCanvas one;
            render_ink_frame(one, ink, now, whole, width, height, placement, false, ~std::uint64_t{0});
            if (whole != pixels) std::abort();
        }
        if (!layers.finishing && !all_zero(layers.over.coverage)) std::abort();
    }
    if (short_buffer && !all_zero(pixels)) std::abort();
    return 0;
}
