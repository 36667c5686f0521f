#include "ink/ink_raster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "support/handwriting.h"

namespace vorlix {
namespace {

// Halves up, exactly: MinGW's std::round takes 0.49999999999999994 to 1.
double round_half_up(double v) {
    const double whole = std::floor(v);
    return v - whole >= 0.5 ? whole + 1 : whole;
}

// The drawing rules written plainly, one pixel at a time, to hold the fast
// rasteriser to.
void slow_pass(std::vector<std::uint8_t>& out, int w, int h, const std::vector<InkPixelPoint>& pts, double r,
               InkColor col, double opacity) {
    std::vector<int> cover(static_cast<std::size_t>(w) * h, 0);
    const std::size_t n = pts.size() == 1 ? 1 : pts.size() - 1;
    for (std::size_t i = 0; i < n; ++i) {
        const InkPixelPoint a = pts[i], b = pts.size() == 1 ? pts[i] : pts[i + 1];
        if (!std::isfinite(a.x + a.y + b.x + b.y)) continue;  // its distances are not numbers: no coverage
        const double dx = b.x - a.x, dy = b.y - a.y, len = dx * dx + dy * dy;
        // Pixels farther than r + 0.5 from the segment get nothing, so only
        // those near its bounds are worked out.
        auto near = [&](double low, double high, int limit) {
            return std::pair{static_cast<int>(std::clamp(std::floor(low - r - 1), 0.0, double(limit))),
                             static_cast<int>(std::clamp(std::ceil(high + r + 1), 0.0, double(limit)))};
        };
        const auto [y0, y1] = near(std::min(a.y, b.y), std::max(a.y, b.y), h);
        const auto [x0, x1] = near(std::min(a.x, b.x), std::max(a.x, b.x), w);
        for (int py = y0; py < y1; ++py) {
            for (int px = x0; px < x1; ++px) {
                const double cx = px + 0.5, cy = py + 0.5;
                const double t = len > 0 ? std::clamp(((cx - a.x) * dx + (cy - a.y) * dy) / len, 0.0, 1.0) : 0.0;
                const double d = std::hypot(cx - (a.x + t * dx), cy - (a.y + t * dy));
                const int k = static_cast<int>(round_half_up(std::clamp(r + 0.5 - d, 0.0, 1.0) * 255));
                int& c = cover[static_cast<std::size_t>(py) * w + px];
                c = std::max(c, k);
            }
        }
    }
    const double channel[4] = {double(col.blue), double(col.green), double(col.red), 255.0};
    for (std::size_t p = 0; p < cover.size(); ++p) {
        if (cover[p] == 0) continue;
        const double f = cover[p] / 255.0 * opacity;
        for (int c = 0; c < 4; ++c) {
            std::uint8_t& v = out[p * 4 + c];
            v = static_cast<std::uint8_t>(std::clamp(round_half_up(v * (1 - f) + f * channel[c]), 0.0, 255.0));
        }
    }
}

std::vector<std::uint8_t> slow_render(const InkStrokes& ink, double now, int w, int h) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(w) * h * 4, 0);
    for (const InkStroke& s : ink.strokes) {
        const double a = laser_alpha(s, now);
        if ((s.laser && s.ended && a == 0) || s.points.size() < 2) continue;
        const double r = std::max(s.width * w / 2, 0.9);
        std::vector<InkPixelPoint> pts;
        for (std::size_t i = 0; i + 1 < s.points.size(); i += 2) pts.push_back({s.points[i] * w, s.points[i + 1] * h});
        const InkColor own{(s.color >> 16) & 255, (s.color >> 8) & 255, s.color & 255};
        if (!s.laser) {
            slow_pass(out, w, h, pts, r, own, a);
        } else {
            slow_pass(out, w, h, pts, 2.6 * r, own, 0.3 * a);
            slow_pass(out, w, h, pts, r, {255, 255, 255}, 0.7 * a);
            slow_pass(out, w, h, pts, 0.7 * r, own, a);
        }
    }
    return out;
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

InkStroke stroke(std::vector<double> points, double width, std::uint32_t color = 0xff3b30, bool laser = false,
                 bool ended = false) {
    return InkStroke{.ended = ended, .points = std::move(points), .width = width, .color = color, .laser = laser};
}

std::vector<std::uint8_t> render(const InkStrokes& ink, double now, std::uint32_t w, std::uint32_t h,
                                 InkCanvas& canvas) {
    std::vector<std::uint8_t> out(std::size_t{w} * h * 4, 0xAB);
    EXPECT_TRUE(render_ink_strokes(canvas, ink, now, out, w, h, InkPlacement{0, 0, double(w), double(h)}));
    return out;
}

// Strokes of random points, widths and kinds from a fixed seed.
std::vector<InkStroke> random_strokes(unsigned seed, int count) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(-0.05, 1.05), width(0.0005, 0.09);
    std::vector<InkStroke> out;
    for (int i = 0; i < count; ++i) {
        std::vector<double> points(2 + 2 * (random() % 5));
        for (double& p : points) p = unit(random);
        out.push_back(stroke(std::move(points), width(random), random() & 0xffffff, random() % 3 == 0, random() % 2));
    }
    return out;
}

TEST(InkRasterTest, MatchesThePerPixelRulesByteForByte) {
    const struct {
        const char* name;
        std::vector<InkStroke> strokes;
        double now;
    } cases[] = {
        {"a dot", {stroke({0.4, 0.5}, 0.05)}, 0},
        {"a point held, moved and held", {stroke({0.4, 0.5, 0.4, 0.5, 0.4, 0.5, 0.6, 0.4, 0.6, 0.4}, 0.05),
                                          stroke({0.2, 0.2, 0.2, 0.2}, 0.03, 0x00ff00, true)}, 0},
        {"a point held after one off the picture", {stroke({kNaN, 0.5, 0.4, 0.5, 0.4, 0.5}, 0.05)}, 0},
        {"the thinnest stroke held to 0.9 px", {stroke({0.1, 0.1, 0.9, 0.8}, 0.0005, 0x12c0fe)}, 0},
        {"a polyline doubling back, two colours", {stroke({0.1, 0.2, 0.8, 0.3, 0.15, 0.25, 0.5, 0.9}, 0.03),
                                                    stroke({0.0, 1.0, 1.0, 0.0}, 0.02, 0x00ff00)}, 0},
        {"points on every edge", {stroke({0, 0, 1, 0, 1, 1, 0, 1, 0, 0}, 0.01, 0x3050ff)}, 0},
        {"a laser at full strength", {stroke({0.2, 0.5, 0.7, 0.55}, 0.02, 0xff0000, true)}, 0},
        {"a fading laser over a pen", {stroke({0.3, 0.1, 0.3, 0.9}, 0.05), stroke({0.1, 0.5, 0.9, 0.5}, 0.02,
                                                                                  0x0000ff, true, true)}, 1.25},
        {"a faded laser is gone", {stroke({0.1, 0.5, 0.9, 0.5}, 0.02, 0x0000ff, true, true)}, 1.6},
        {"random strokes", random_strokes(7, 40), 0.7},
    };
    InkCanvas canvas;  // kept across frames and sizes, as the overlay keeps it
    for (const auto& c : cases) {
        // 3 wide takes the plain SSE2 loops, which the wider sizes skip where the processor has AVX2.
        for (auto [w, h] : {std::pair{97u, 61u}, std::pair{40u, 90u}, std::pair{3u, 40u}}) {
            InkStrokes ink{c.strokes};
            EXPECT_EQ(render(ink, c.now, w, h, canvas), slow_render(ink, c.now, int(w), int(h)))
                << c.name << " at " << w << "x" << h;
            EXPECT_TRUE(std::all_of(canvas.coverage.begin(), canvas.coverage.end(), [](std::uint8_t k) { return k == 0; }));
        }
    }
}

TEST(InkRasterTest, PicturesPastTheBudgetAreFinishedByTheFramesThatGoOn) {
    // A screen of handwriting is drawn whole in one frame.
    InkCanvas canvas;
    const InkStrokes writing = testing::handwriting();
    EXPECT_EQ(render(writing, 0, 1920, 1080, canvas), slow_render(writing, 0, 1920, 1080));

    // A small budget: each frame draws on, none twice, until the picture is
    // that of the per-pixel rules.
    const InkStrokes ink{random_strokes(11, 30)};
    const std::uint32_t w = 97, h = 61;
    std::vector<std::uint8_t> out(std::size_t{w} * h * 4, 0xAB);
    const InkPlacement placement{0, 0, double(w), double(h)};
    int frames = 1;
    bool done = render_ink_frame(canvas, ink, 0.7, out, w, h, placement, false, 40'000);
    while (!done && frames < 1000) {
        done = render_ink_frame(canvas, ink, 0.7, out, w, h, placement, true, 40'000);
        ++frames;
    }
    ASSERT_TRUE(done);
    EXPECT_GT(frames, 5);
    EXPECT_EQ(out, slow_render(ink, 0.7, int(w), int(h)));
    EXPECT_TRUE(std::all_of(canvas.coverage.begin(), canvas.coverage.end(), [](std::uint8_t k) { return k == 0; }));
    std::uint64_t segments = 0;  // none drawn twice: a second drawing would give the same bytes
    for (const InkStroke& s : ink.strokes) {
        segments += (s.laser ? 3 : 1) * std::max<std::size_t>(s.points.size() / 2 - 1, 1);
    }
    EXPECT_EQ(canvas.segments_drawn, segments);

    // A frame that does not go on starts afresh: an unfinished pass is dropped.
    EXPECT_FALSE(render_ink_frame(canvas, ink, 0.7, out, w, h, placement, false, 40'000));
    EXPECT_TRUE(canvas.unfinished);
    EXPECT_EQ(render(InkStrokes{{ink.strokes[0]}}, 0.7, w, h, canvas), slow_render(InkStrokes{{ink.strokes[0]}}, 0.7, w, h));
    EXPECT_TRUE(std::all_of(canvas.coverage.begin(), canvas.coverage.end(), [](std::uint8_t k) { return k == 0; }));
}

TEST(InkRasterTest, AFramePaysForTheRowsItTakes) {
    const std::uint32_t w = 400, h = 400;
    const InkPlacement placement{0, 0, double(w), double(h)};
    std::vector<std::uint8_t> out(std::size_t{w} * h * 4);
    InkCanvas canvas;
    // Thin segments from the top edge to the bottom: each pays for its 400 rows.
    std::vector<double> column;
    for (int i = 0; i < 200; ++i) column.insert(column.end(), {0.5, double(i % 2)});
    const InkStrokes tall{{stroke(column, 0.0005)}};
    std::uint64_t drawn = 0;
    bool done = false;
    for (int frame = 0; !done && frame < 100; ++frame) {
        done = render_ink_frame(canvas, tall, 0, out, w, h, placement, frame > 0, 100'000);
        EXPECT_LE(double(canvas.segments_drawn - drawn), 1 + 100'000 / (h * kInkRowCost)) << frame;
        drawn = canvas.segments_drawn;
    }
    EXPECT_TRUE(done);

    // U shapes: a line down each edge joined along the bottom. Each blends
    // every row from edge to edge though its segments' boxes are thin, so a
    // frame finishes few of them.
    InkStrokes ink;
    for (int s = 0; s < 40; ++s) {
        const double in = s * 0.001;
        ink.strokes.push_back(stroke({in, 0, in, 1 - in, 1 - in, 1 - in, 1 - in, 0}, 0.0005, 0x102030 * s, s % 4 == 3));
    }
    const std::uint64_t budget = 200'000;
    const double per_stroke = (w - 8.0) * h * kInkSpanCost;  // each pass blends at least this
    done = false;
    for (int frame = 0; !done && frame < 100; ++frame) {
        const std::size_t before = frame == 0 ? 0 : canvas.stroke;
        done = render_ink_frame(canvas, ink, 0, out, w, h, placement, frame > 0, budget);
        const std::size_t after = done ? ink.strokes.size() : canvas.stroke;
        EXPECT_LE(double(after - before), 1 + budget / per_stroke) << frame;
    }
    ASSERT_TRUE(done);
    EXPECT_EQ(out, slow_render(ink, 0, int(w), int(h)));
}

TEST(InkRasterTest, TheOverlaysLayersGiveThePerPixelRulesOnceTheyAreWhole) {
    // Ended pens in the settled picture, strokes being drawn and lasers over
    // it: after every change the frames end at the picture of the rules.
    const std::uint32_t w = 97, h = 61;
    const InkPlacement placement{0, 0, double(w), double(h)};
    std::vector<InkStroke> strokes = random_strokes(5, 40);
    for (auto budget : {std::uint64_t{40'000}, std::numeric_limits<std::uint64_t>::max()}) {
        InkLayers layers;
        std::vector<std::uint8_t> out(std::size_t{w} * h * 4, 0xAB);
        double now = 0.2;
        for (std::size_t shown : {10u, 25u, 24u, 40u}) {  // grown, one gone, the rest
            InkStrokes ink{{strokes.begin(), strokes.begin() + shown}};
            if (shown == 24) ink.strokes.erase(ink.strokes.begin() + 3);
            int frames = 0;
            do {
                draw_ink_layers(layers, ink, now += 0.001, out, w, h, placement, budget);
            } while (layers.unfinished && ++frames < 2000);
            EXPECT_TRUE(layers.whole) << shown;
            EXPECT_EQ(out, slow_render(ink, now, int(w), int(h))) << shown << " strokes, budget " << budget;
        }
    }
    // A laser fading out over ended pens: its fade steps are drawn over the
    // settled picture of the pens, which is drawn once, so from the first
    // whole frame on every frame is whole.
    std::vector<InkStroke> pens = random_strokes(9, 12);
    for (InkStroke& s : pens) s.laser = false, s.ended = true;
    pens.push_back(stroke({0.1, 0.5, 0.9, 0.4}, 0.03, 0x0000ff, true, true));
    const InkStrokes fading{pens};
    InkLayers layers;
    std::vector<std::uint8_t> out(std::size_t{w} * h * 4);
    int whole = 0;
    for (double now = 1.0; now < 1.5; now += 0.03) {
        draw_ink_layers(layers, fading, now, out, w, h, placement, 40'000);
        EXPECT_TRUE(layers.whole || whole == 0) << now;
        if (!layers.whole) continue;
        ++whole;
        EXPECT_EQ(out, slow_render(fading, now, int(w), int(h))) << now;
    }
    EXPECT_GT(whole, 8);
}

TEST(InkRasterTest, EveryOverlayFrameShowsTheNewestSegmentsWhole) {
    // A long line drawn on one point a frame at a small budget: each frame
    // shows the pixel under the pen, though it cannot draw the whole line.
    {
        const std::uint32_t w = 97, h = 61;
        std::vector<std::uint8_t> out(std::size_t{w} * h * 4);
        InkLayers layers;
        InkStrokes ink{{stroke({}, 0.05)}};
        for (int k = 0; k < 2'040; ++k) {
            const double x = k / 4000.0, y = k % 2;
            ink.strokes[0].points.insert(ink.strokes[0].points.end(), {x, y});
            if (k < 2'000) continue;
            draw_ink_layers(layers, ink, 0, out, w, h, InkPlacement{0, 0, double(w), double(h)}, 200'000);
            EXPECT_EQ(out[(std::size_t(y * (h - 1)) * w + std::size_t(x * w)) * 4 + 3], 255) << k;
        }
    }
    // A laser held down for two and a half minutes at 60 Hz, at the real
    // budget: after one more move its tip shows all three layers, so the
    // colour of the centre drawn over them, as a single drawing gives it;
    // so does the line 3,000 points back, well within the newest segments
    // the frame draws of each layer.
    {
        const std::uint32_t w = 1920, h = 1080;
        std::vector<std::uint8_t> out(std::size_t{w} * h * 4);
        InkLayers layers;
        InkStrokes ink{{stroke({}, 0.004, 0xff3b30, true)}};
        const auto at = [](int k) {
            return std::pair{0.5 + 0.35 * std::sin(k * 0.0021), 0.5 + 0.35 * std::sin(k * 0.0037)};
        };
        for (int k = 0; k <= 9'000; ++k) {
            ink.strokes[0].points.insert(ink.strokes[0].points.end(), {at(k).first, at(k).second});
            if (k < 8'999) continue;
            draw_ink_layers(layers, ink, 0, out, w, h, InkPlacement{0, 0, double(w), double(h)},
                            ink_frame_budget(w, h));
        }
        for (int k : {9'000, 6'000}) {
            std::uint32_t pixel;
            std::memcpy(&pixel, &out[(std::size_t(at(k).second * h) * w + std::size_t(at(k).first * w)) * 4], 4);
            EXPECT_EQ(pixel, 0xffff3b30u) << k;
        }
        // In a small picture at small budgets, under an unended pen: a frame
        // draws no more segments than its budget pays for (each costs at
        // least kInkSegmentCost; one a frame is owed), and the pen's newest
        // segment every frame.
        const std::uint32_t sw = 97, sh = 61;
        const InkPlacement small{0, 0, double(sw), double(sh)};
        std::vector<std::uint8_t> pixels(std::size_t{sw} * sh * 4);
        InkLayers few;
        draw_ink_layers(few, ink, 0, pixels, sw, sh, small, 0);
        EXPECT_EQ(few.over.segments_drawn, 1u);
        ink.strokes.push_back(stroke({}, 0.05));
        for (int k = 1; k <= 20; ++k) {
            const double x = 0.1 + 0.04 * k, y = 0.05;
            ink.strokes[1].points.insert(ink.strokes[1].points.end(), {x, y});
            draw_ink_layers(few, ink, 0, pixels, sw, sh, small, 200'000);
            EXPECT_LE(double(few.over.segments_drawn), 1 + 200'000 / kInkSegmentCost) << k;
            EXPECT_EQ(pixels[(std::size_t(y * sh) * sw + std::size_t(x * sw)) * 4 + 3], 255) << k;
        }
    }
    // A change that stops the finishing of a picture while the settled
    // picture is behind: what the stop costs is set aside too, so the
    // newest stroke is still drawn whole, and the frame pays for both
    // copies.
    {
        const std::uint32_t w = 400, h = 400;
        const InkPlacement placement{0, 0, double(w), double(h)};
        std::vector<std::uint8_t> out(std::size_t{w} * h * 4);
        InkLayers layers;
        InkStrokes ink{{stroke(std::vector<double>(19'998, 0.9), 0.0005), stroke({}, 0.0005)}};
        for (int k = 0; k <= 100; ++k) {
            ink.strokes[1].points.insert(ink.strokes[1].points.end(), {0.1 + 0.005 * k, 0.5});
        }
        for (double now : {0.0, 0.3}) draw_ink_layers(layers, ink, now, out, w, h, placement, 800'000);
        ASSERT_TRUE(layers.finishing);
        // Left alone, the finishing reports no change until the picture is
        // whole, and keeps nothing apart after.
        InkLayers still = layers;
        std::vector<std::uint8_t> shown = out;
        for (int frame = 1; !still.whole && frame < 20; ++frame) {
            const bool changed = draw_ink_layers(still, ink, 0.3 + 0.03 * frame, shown, w, h, placement, 800'000);
            EXPECT_EQ(changed, still.whole) << frame;
        }
        EXPECT_TRUE(still.whole);
        EXPECT_EQ(still.finishing_pixels.capacity(), 0u);

        ink.strokes[0].ended = true;  // its end, with one more point: the settled picture takes it in
        ink.strokes[0].points.insert(ink.strokes[0].points.end(), {0.9, 0.9});
        draw_ink_layers(layers, ink, 0.33, out, w, h, placement, 800'000);
        EXPECT_GT(out[(std::size_t{200} * w + 40) * 4 + 3], 0);  // where the newest stroke begins
        EXPECT_EQ(layers.finishing_pixels.capacity(), 0u);
        // Each segment costs at least kInkSegmentCost; the settled picture
        // and the newest stroke are owed one each.
        EXPECT_LE(double(layers.settled.segments_drawn + layers.over.segments_drawn),
                  2 + (800'000 - 2 * w * h * kInkCopyCost) / kInkSegmentCost);
    }
}

TEST(InkRasterTest, EdgesColoursAndLaserLayers) {
    InkCanvas canvas;
    auto pixel = [](const std::vector<std::uint8_t>& p, int x, int y) {  // 0xAARRGGBB in a 100-pixel-wide picture
        std::uint32_t v;
        std::memcpy(&v, &p[(std::size_t(y) * 100 + x) * 4], 4);
        return v;
    };
    // Radius 4 along the line y = 10: centres 3.5 away are full, 4.5 away empty.
    InkStrokes pen{{stroke({0.2, 0.25, 0.8, 0.25}, 0.08)}};
    const auto p = render(pen, 0, 100, 40, canvas);
    EXPECT_EQ(pixel(p, 50, 13), 0xffff3b30u);  // bytes 30 3b ff ff
    EXPECT_EQ(pixel(p, 50, 6), 0xffff3b30u);
    EXPECT_EQ(pixel(p, 50, 14), 0u);
    EXPECT_EQ(pixel(p, 50, 5), 0u);

    // A laser of radius 4: its colour on the line, only the glow (0.3) at 6.5.
    InkStrokes laser{{stroke({0.2, 0.25, 0.8, 0.25}, 0.08, 0x00ff00, true)}};
    const auto l = render(laser, 0, 100, 40, canvas);
    EXPECT_EQ(pixel(l, 50, 10), 0xff00ff00u);
    EXPECT_EQ(pixel(l, 50, 16), 0x4d004d00u);  // 77 = round(0.3 x 255)
}

TEST(InkRasterTest, ShortOrOverflowingBuffersAndFarPointsDrawNothing) {
    InkCanvas canvas;
    const InkStrokes ink{{stroke({0.5, 0.5, 0.6, 0.6}, 0.05)}};
    std::vector<std::uint8_t> short_buffer(64 * 64 * 4 - 1, 0xAB);
    render_ink_strokes(canvas, ink, 0, short_buffer, 64, 64, InkPlacement{0, 0, 64, 64});
    EXPECT_TRUE(std::all_of(short_buffer.begin(), short_buffer.end(), [](std::uint8_t b) { return b == 0; }));
    // 65536 x 65536 x 4 wraps to 0 in 32 bits; the picture is not drawn.
    std::vector<std::uint8_t> tiny(64, 0xAB);
    render_ink_strokes(canvas, ink, 0, tiny, 65536, 65536, InkPlacement{0, 0, 65536, 65536});
    EXPECT_TRUE(std::all_of(tiny.begin(), tiny.end(), [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(ink_picture_bytes(0xFFFFFFFFu, 0xFFFFFFFFu), 0u);
    // Placed far off the picture on every side.
    std::vector<std::uint8_t> out(32 * 32 * 4);
    for (double off : {-1e12, 1e12, -40.0, 40.0}) {
        render_ink_strokes(canvas, ink, 0, out, 32, 32, InkPlacement{off, -off, 32, 32});
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](std::uint8_t b) { return b == 0; })) << off;
    }
}

}  // namespace
}  // namespace vorlix
