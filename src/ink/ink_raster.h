// Paints an InkStrokes list into a top-down 32-bit BGRA picture with
// premultiplied alpha, transparent where nothing is drawn, for a layered
// window. Strokes are chains of straight segments with round caps and joins,
// anti-aliased over one pixel; laser strokes get a faint wide glow, a white
// core and a coloured centre. No graphics library: plain loops over memory.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "ink/ink.h"

namespace vorlix {

// Maps normalised stroke coordinates to pixels: x * width + x offset.
struct InkPlacement {
    double x = 0.0;
    double y = 0.0;
    double width = 0.0;
    double height = 0.0;
};

// One colour channel each, 0..255.
struct InkColor {
    std::uint32_t red = 0;
    std::uint32_t green = 0;
    std::uint32_t blue = 0;
};

struct InkPixelPoint {
    double x = 0.0;
    double y = 0.0;
};

// The byte length of a width x height BGRA picture, or 0 when it would not
// fit in 64 bits.
std::uint64_t ink_picture_bytes(std::uint32_t width, std::uint32_t height);

// Clears the picture and draws every stroke, oldest first, as it looks at
// `now`. `coverage` is one byte per pixel kept by the caller between frames
// (all zero between passes); it is remade when its size is wrong. A picture
// buffer shorter than width x height x 4 bytes is left cleared.
void render_ink_strokes(std::vector<std::uint8_t>& coverage, const InkStrokes& ink, double now,
                        std::span<std::uint8_t> pixels, std::uint32_t width, std::uint32_t height,
                        const InkPlacement& placement);

// Draws one polyline of round-capped segments with radius `radius` pixels in
// one colour and blends it over the picture with `opacity` (0..1). Where the
// polyline covers a pixel more than once the largest coverage counts once.
// Does nothing when the buffers are too short for width x height.
void rasterise_stroke(std::vector<std::uint8_t>& coverage, std::span<std::uint8_t> pixels, std::uint32_t width,
                      std::uint32_t height, std::span<const InkPixelPoint> points, double radius, InkColor color,
                      double opacity);

}  // namespace vorlix
