// Random strokes, picture sizes, placements and buffer lengths drawn by the
// ink rasteriser: nothing is written outside the buffers, the coverage
// buffer is all zero after every frame, and a short picture stays cleared.
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vorlix;
    Input in{data, size};
    const std::uint32_t width = in.take<std::uint8_t>() % 200;
    const std::uint32_t height = in.take<std::uint8_t>() % 200;
    const bool short_buffer = in.take<std::uint8_t>() & 1;
    const bool raw_placement = in.take<std::uint8_t>() & 1;
    InkPlacement placement{0, 0, double(width), double(height)};
    if (raw_placement) placement = {in.take<double>(), in.take<double>(), in.take<double>(), in.take<double>()};

    InkStrokes ink;
    while (in.size > 0 && ink.strokes.size() < 8) {
        InkStroke s;
        const std::uint8_t flags = in.take<std::uint8_t>();
        s.laser = flags & 1;
        s.ended = flags & 2;
        s.time = (flags >> 2) * 0.1;
        s.width = (flags & 0x80) ? in.take<double>() : kMinInkWidth + (in.take<std::uint8_t>() / 255.0) * kMaxInkWidth;
        s.color = in.take<std::uint32_t>() & 0xFFFFFF;
        const std::size_t numbers = in.take<std::uint8_t>() % 64;
        for (std::size_t i = 0; i < numbers && in.size > 0; ++i) {
            s.points.push_back((flags & 0x40) ? in.take<double>() : in.take<std::uint16_t>() / 65535.0);
        }
        ink.strokes.push_back(std::move(s));
    }

    const std::size_t bytes = std::size_t{width} * height * 4;
    std::vector<std::uint8_t> pixels(short_buffer && bytes > 0 ? bytes - 1 : bytes, 0xAB);
    std::vector<std::uint8_t> coverage(short_buffer ? 3 : 0, 0);
    render_ink_strokes(coverage, ink, 1.2, pixels, width, height, placement);
    for (std::uint8_t k : coverage) {
        if (k != 0) std::abort();
    }
    if (short_buffer) {
        for (std::uint8_t b : pixels) {
            if (b != 0) std::abort();
        }
    }
    return 0;
}
