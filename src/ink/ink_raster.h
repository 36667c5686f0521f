// Paints an InkStrokes list into a top-down 32-bit BGRA picture with
// premultiplied alpha, transparent where nothing is drawn, for a layered
// window. Strokes are chains of straight segments with round caps and joins,
// anti-aliased over one pixel; laser strokes get a faint wide glow, a white
// core and a coloured centre. No graphics library: plain loops over memory.
#pragma once

#include <cstddef>
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

// What a drawing keeps from one frame to the next: the coverage buffer (one
// byte per pixel, all zero between passes, remade when its size is wrong)
// and, when a frame ran out of its budget, where the next one goes on.
struct InkCanvas {
    std::vector<std::uint8_t> coverage;
    bool unfinished = false;  // the coverage then holds the pass in hand
    std::size_t stroke = 0;
    int pass = 0;             // a laser stroke has three
    std::size_t segment = 0;
    std::uint64_t segments_drawn = 0;  // since the picture was begun, each pass's own
};

// The work of one frame is counted in units of about a nanosecond of the
// AVX2 loops: each segment costs kInkSegmentCost, kInkRowCost for each row
// of its box, the pixels of the box (cut to the picture; kInkPlainScanCost
// each without AVX2), for each pixel within reach of its line
// kInkOpaqueBlendCost in an opaque pass, kInkBlendCost in a see-through one
// (the laser's glow and core), and kInkSpanCost for each pixel it adds to
// the rows the blend takes (a row is blended from the leftmost to the
// rightmost pixel its pass touched; a pass taken up again by a later frame
// blends its whole box). Clearing or copying a picture costs kInkCopyCost a
// pixel. A frame may spend kInkFrameUnits per pixel of the picture,
// pictures smaller than 1920x1080 counting as that size: about 33 million
// units there, where a screen of handwriting (300 strokes of 48 points)
// costs about 9 million and the costliest pictures found stop after about
// 20 to 40 ms of one core.
constexpr double kInkSegmentCost = 256.0;
constexpr double kInkRowCost = 16.0;
constexpr double kInkPlainScanCost = 4.0;
constexpr double kInkOpaqueBlendCost = 1.5;
constexpr double kInkBlendCost = 4.0;
constexpr double kInkSpanCost = 0.25;
constexpr double kInkCopyCost = 0.25;
constexpr std::uint64_t kInkFrameUnits = 16;
std::uint64_t ink_frame_budget(std::uint32_t width, std::uint32_t height);

// Draws the picture as it looks at `now`, oldest stroke first, spending at
// most `budget` (though always at least one segment). A frame that goes on
// (`go_on` while the canvas is unfinished, with the strokes, now, picture
// and placement of the frame before) draws on from where that one stopped;
// any other clears the picture first and starts afresh. Gives whether the
// picture is complete; when not, the picture holds the passes finished so
// far and the canvas where the next frame goes on. A picture buffer shorter
// than width x height x 4 bytes is left cleared.
bool render_ink_frame(InkCanvas& canvas, const InkStrokes& ink, double now, std::span<std::uint8_t> pixels,
                      std::uint32_t width, std::uint32_t height, const InkPlacement& placement, bool go_on,
                      std::uint64_t budget);

// Drops what an unfinished drawing left in the canvas, so that the next
// frame starts afresh with all-zero coverage.
void restart_ink_canvas(InkCanvas& canvas);

// render_ink_frame with the budget of a frame of that size.
bool render_ink_strokes(InkCanvas& canvas, const InkStrokes& ink, double now, std::span<std::uint8_t> pixels,
                        std::uint32_t width, std::uint32_t height, const InkPlacement& placement, bool go_on = false);

// The overlay's drawing, kept from frame to frame. The ended pen strokes
// from the oldest on change no more, so they are drawn once, over as many
// frames as they take, into a picture of their own (`settled_pixels`);
// each frame copies it and draws the strokes after it (strokes being drawn,
// lasers, and whatever came after them) over the copy. A picture finished
// in order is drawn apart (`finishing_pixels`, held only meanwhile) and
// copied out once whole. The overlay drops all of it when its strokes are
// gone.
struct InkLayers {
    InkCanvas settled;                          // where the settled picture's drawing goes on
    std::vector<std::uint8_t> settled_pixels;
    std::vector<std::uint64_t> settled_marks;  // one for each stroke it has begun
    InkCanvas over;                             // for the strokes drawn over the copy
    std::vector<std::uint8_t> finishing_pixels;
    std::vector<std::uint64_t> shown_marks;    // the strokes as the picture was last drawn
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    InkPlacement placement;
    double changed_at = 0.0;  // when the drawing last changed
    bool lost = true;         // the picture must be drawn again whole
    bool whole = false;       // the picture shows every stroke, as one drawing would
    bool finishing = false;   // frames draw on in order towards the whole picture
    bool unfinished = false;  // the picture is not whole or the settled one is behind
};

// How long the drawing must stay the same before strokes too costly to
// draw over the settled picture in one frame are drawn on in order.
constexpr double kInkStillTime = 0.25;

// Draws the overlay's frame of the strokes as they look at `now`, spending
// about `budget` (see render_ink_frame), and gives whether the picture
// changed. When the strokes after the settled ones do not all fit in the
// frame, the newest of them are drawn (the passes of the stroke that runs
// out share what is left, each showing its newest segments); the picture
// becomes whole as the settled picture takes in the strokes before them,
// or, for strokes that are not settled, once the drawing has stayed the
// same for kInkStillTime and the frames after have finished it apart (the
// picture stays as it was until then). A picture buffer shorter than
// width x height x 4 bytes is cleared.
bool draw_ink_layers(InkLayers& layers, const InkStrokes& ink, double now, std::span<std::uint8_t> pixels,
                     std::uint32_t width, std::uint32_t height, const InkPlacement& placement,
                     std::uint64_t budget);

// The picture buffer was lost (a new one was made): the next frame draws it
// again.
void lose_ink_picture(InkLayers& layers);

// Draws one polyline of round-capped segments with radius `radius` pixels in
// one colour and blends it over the picture with `opacity` (0..1). Where the
// polyline covers a pixel more than once the largest coverage counts once.
// Does nothing when the buffers are too short for width x height.
void rasterise_stroke(std::vector<std::uint8_t>& coverage, std::span<std::uint8_t> pixels, std::uint32_t width,
                      std::uint32_t height, std::span<const InkPixelPoint> points, double radius, InkColor color,
                      double opacity);

}  // namespace vorlix
