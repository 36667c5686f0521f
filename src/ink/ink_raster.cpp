#include "ink/ink_raster.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace vorlix {

namespace {

// Round half away from zero for values >= 0, written with a truncating
// conversion so that the pixel loops vectorise; equal to std::round there.
inline double round_up_half(double v) {
    const double whole = static_cast<double>(static_cast<std::int32_t>(v));
    return v - whole >= 0.5 ? whole + 1.0 : whole;
}

inline std::uint32_t load_u32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

inline void store_u32(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, 4); }

// v held to low..high the way the SSE max and min instructions do it, so a
// value that is not a number becomes `low` in every path.
inline double hold(double v, double low, double high) {
    v = v > low ? v : low;
    return v < high ? v : high;
}

// A channel value held to 0..255 and rounded.
inline std::uint8_t to_byte(double v) { return static_cast<std::uint8_t>(round_up_half(hold(v, 0.0, 255.0))); }

// The pixel range [start, end) of low..high, cut to 0..limit.
struct Span {
    std::uint32_t start = 0;
    std::uint32_t end = 0;
};

Span cut(double low, double high, std::uint32_t limit) {
    Span span;
    span.start = low <= 0.0 ? 0u : (low >= limit ? limit : static_cast<std::uint32_t>(low));
    span.end = high <= 0.0 ? 0u : (high >= limit ? limit : static_cast<std::uint32_t>(high));
    return span;
}

struct Box {
    Span x;
    Span y;
};

struct Segment {
    double x0, y0, x1, y1;
};

// The coverage byte of one pixel centre (cx, cy): 255 at up to r - 0.5
// from the segment, 0 from r + 0.5 on, linear between.
inline std::uint8_t pixel_coverage(double cx, double cy, const Segment& s, double dx, double dy, double length,
                                   double edge) {
    double t = 0.0;
    if (length > 0.0) {
        t = ((cx - s.x0) * dx + (cy - s.y0) * dy) / length;
        t = hold(t, 0.0, 1.0);
    }
    const double ex = cx - (s.x0 + t * dx);
    const double ey = cy - (s.y0 + t * dy);
    return to_byte(hold(edge - std::sqrt(ex * ex + ey * ey), 0.0, 1.0) * 255.0);
}

// Squared-distance tests that settle a pixel without the exact formula:
// D = cross^2 + beyond^2, where cross is the pixel's offset across the
// segment's line and beyond how far its projection lies past an end, both
// scaled by the segment's length, is the squared distance times the
// squared length. A pixel with D at or over `out` is farther than
// edge + 1/64 and gets 0 from pixel_coverage; one with D at or under `in`
// is nearer than edge - 1 - 1/64 and gets 255. The 1/64 pixel dwarfs the
// rounding of both formulas while the coordinates stay within 2^24;
// farther points leave `on` false and every pixel takes the exact formula.
// A segment shorter than 2^-10 is tested as its first end with the
// margins widened by its length.
struct Settle {
    bool on = false;
    double ux = 0.0, uy = 1.0, len2 = 0.0;
    double out = 0.0, in = -1.0;
};

Settle settle_for(const Segment& s, double radius) {
    constexpr double kFar = 16777216.0;
    Settle k;
    if (!(std::fabs(s.x0) <= kFar && std::fabs(s.y0) <= kFar && std::fabs(s.x1) <= kFar &&
          std::fabs(s.y1) <= kFar && radius <= kFar)) {
        return k;
    }
    const double dx = s.x1 - s.x0;
    const double dy = s.y1 - s.y0;
    const double length = dx * dx + dy * dy;
    double scale = 1.0, grow = 0.0;
    if (length >= 1.0 / 1048576.0) {
        k.ux = dx;
        k.uy = dy;
        k.len2 = length;
        scale = length;
    } else {
        grow = std::sqrt(length);
    }
    const double margin = 1.0 / 64.0;
    const double outer = radius + 0.5 + margin + grow;
    const double inner = radius - 0.5 - margin - grow;
    k.out = outer * outer * scale;
    k.in = inner > 0.0 ? inner * inner * scale : -1.0;
    k.on = true;
    return k;
}

#if defined(__SSE2__)
// The coverage of a segment's box with AVX2, four pixels at a time: blocks
// that the squared-distance tests settle are skipped or filled, the others
// take pixel_coverage's operations in the same order, so the same bytes.
// `coverage` holds the pass's columns `cols` from row `first` on. The last
// block of a row is moved back to end inside those columns; pixels taken
// twice or outside the box only get what they already have. Needs at least
// four columns. MinGW cannot align the stack to 32 bytes; the few 256-bit
// values GCC keeps on the stack here are stored with unaligned moves and
// read as VEX operands, which need no alignment.
__attribute__((target("avx2"))) void cover_box_avx2(std::uint8_t* coverage, Span cols, std::uint32_t first,
                                                    const Box& box, const Segment& s, double radius) {
    const std::uint32_t stride = cols.end - cols.start;
    const double dx = s.x1 - s.x0;
    const double dy = s.y1 - s.y0;
    const double length = dx * dx + dy * dy;
    const Settle k = settle_for(s, radius);
    const __m256d x0 = _mm256_set1_pd(s.x0), vdx = _mm256_set1_pd(dx), vdy = _mm256_set1_pd(dy);
    const __m256d vlength = _mm256_set1_pd(length), vedge = _mm256_set1_pd(radius + 0.5);
    const __m256d zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1.0);
    const __m256d y0 = _mm256_set1_pd(s.y0), centres = _mm256_set_pd(3.5, 2.5, 1.5, 0.5);
    const __m256d ux = _mm256_set1_pd(k.ux), uy = _mm256_set1_pd(k.uy), len2 = _mm256_set1_pd(k.len2);
    const __m256d out = _mm256_set1_pd(k.out), in = _mm256_set1_pd(k.in);
    for (std::uint32_t py = box.y.start; py < box.y.end; ++py) {
        std::uint8_t* row = coverage + std::size_t{py - first} * stride;
        const double cy = py + 0.5;
        const __m256d across = _mm256_set1_pd((cy - s.y0) * dy), vcy = _mm256_set1_pd(cy);
        const __m256d ay_uy = _mm256_set1_pd((cy - s.y0) * k.uy), ay_ux = _mm256_set1_pd((cy - s.y0) * k.ux);
        for (std::uint32_t px = box.x.start; px < box.x.end; px += 4) {
            const std::uint32_t at = std::min(px, cols.end - 4);
            std::uint8_t* cell = row + (at - cols.start);
            const std::uint32_t have = load_u32(cell);
            if (have == 0xFFFFFFFFu) continue;  // cannot grow
            const __m256d cx = _mm256_add_pd(_mm256_set1_pd(at), centres);
            if (k.on) {
                const __m256d ax = _mm256_sub_pd(cx, x0);
                const __m256d n = _mm256_add_pd(_mm256_mul_pd(ax, ux), ay_uy);
                const __m256d cross = _mm256_sub_pd(_mm256_mul_pd(ax, uy), ay_ux);
                const __m256d beyond = _mm256_max_pd(_mm256_max_pd(_mm256_sub_pd(zero, n), _mm256_sub_pd(n, len2)), zero);
                const __m256d d = _mm256_add_pd(_mm256_mul_pd(cross, cross), _mm256_mul_pd(beyond, beyond));
                if (_mm256_movemask_pd(_mm256_cmp_pd(d, out, _CMP_GE_OQ)) == 15) continue;
                if (_mm256_movemask_pd(_mm256_cmp_pd(d, in, _CMP_LE_OQ)) == 15) {
                    store_u32(cell, 0xFFFFFFFFu);
                    continue;
                }
            }
            __m256d t = zero;
            if (length > 0.0) {
                t = _mm256_div_pd(_mm256_add_pd(_mm256_mul_pd(_mm256_sub_pd(cx, x0), vdx), across), vlength);
                t = _mm256_min_pd(_mm256_max_pd(t, zero), one);
            }
            const __m256d ex = _mm256_sub_pd(cx, _mm256_add_pd(x0, _mm256_mul_pd(t, vdx)));
            const __m256d ey = _mm256_sub_pd(vcy, _mm256_add_pd(y0, _mm256_mul_pd(t, vdy)));
            __m256d c =
                _mm256_sub_pd(vedge, _mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(ex, ex), _mm256_mul_pd(ey, ey))));
            c = _mm256_mul_pd(_mm256_min_pd(_mm256_max_pd(c, zero), one), _mm256_set1_pd(255.0));
            const __m256d whole = _mm256_cvtepi32_pd(_mm256_cvttpd_epi32(c));
            const __m256d up =
                _mm256_and_pd(_mm256_cmp_pd(_mm256_sub_pd(c, whole), _mm256_set1_pd(0.5), _CMP_GE_OQ), one);
            const __m128i bytes32 = _mm256_cvttpd_epi32(_mm256_add_pd(whole, up));
            const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(bytes32, bytes32), bytes32);
            store_u32(cell, static_cast<std::uint32_t>(_mm_cvtsi128_si32(
                                    _mm_max_epu8(bytes, _mm_cvtsi32_si128(static_cast<int>(have))))));
        }
    }
}

bool cpu_has_avx2() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
}
#endif

// Coverage of one row of a segment's box, kept as the larger of what the
// pass already put there and this segment's own; row[0] is column `origin`.
// The SSE2 loop does two pixels at a time with the same operations in the
// same order, so its bytes are those of pixel_coverage.
void cover_row(std::uint8_t* row, std::uint32_t origin, Span xs, double cy, const Segment& s, double radius) {
    const double dx = s.x1 - s.x0;
    const double dy = s.y1 - s.y0;
    const double length = dx * dx + dy * dy;
    const double edge = radius + 0.5;
    std::uint32_t px = xs.start;
#if defined(__SSE2__)
    const __m128d x0 = _mm_set1_pd(s.x0), vdx = _mm_set1_pd(dx), vdy = _mm_set1_pd(dy);
    const __m128d vlength = _mm_set1_pd(length), vedge = _mm_set1_pd(edge);
    const __m128d zero = _mm_setzero_pd(), one = _mm_set1_pd(1.0), half = _mm_set1_pd(0.5);
    const __m128d scale = _mm_set1_pd(255.0);
    const __m128d vcy = _mm_set1_pd(cy), across = _mm_set1_pd((cy - s.y0) * dy);
    const __m128d ey_base = _mm_set1_pd(s.y0);
    __m128d cx = _mm_set_pd(px + 1.5, px + 0.5);
    const __m128d step = _mm_set1_pd(2.0);
    for (; px + 2 <= xs.end; px += 2, cx = _mm_add_pd(cx, step)) {
        std::uint8_t* cell = row + (px - origin);
        if ((cell[0] & cell[1]) == 255) continue;  // cannot grow
        __m128d t = zero;
        if (length > 0.0) {
            t = _mm_div_pd(_mm_add_pd(_mm_mul_pd(_mm_sub_pd(cx, x0), vdx), across), vlength);
            t = _mm_min_pd(_mm_max_pd(t, zero), one);
        }
        const __m128d ex = _mm_sub_pd(cx, _mm_add_pd(x0, _mm_mul_pd(t, vdx)));
        const __m128d ey = _mm_sub_pd(vcy, _mm_add_pd(ey_base, _mm_mul_pd(t, vdy)));
        __m128d c = _mm_sub_pd(vedge, _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(ex, ex), _mm_mul_pd(ey, ey))));
        c = _mm_mul_pd(_mm_min_pd(_mm_max_pd(c, zero), one), scale);
        const __m128d whole = _mm_cvtepi32_pd(_mm_cvttpd_epi32(c));
        const __m128d up = _mm_and_pd(_mm_cmpge_pd(_mm_sub_pd(c, whole), half), one);
        const __m128i k = _mm_cvttpd_epi32(_mm_add_pd(whole, up));
        cell[0] = std::max(cell[0], static_cast<std::uint8_t>(_mm_cvtsi128_si32(k)));
        cell[1] = std::max(cell[1], static_cast<std::uint8_t>(_mm_cvtsi128_si32(_mm_srli_si128(k, 4))));
    }
#endif
    for (; px < xs.end; ++px) {
        std::uint8_t& cell = row[px - origin];
        if (cell == 255) continue;
        cell = std::max(cell, pixel_coverage(px + 0.5, cy, s, dx, dy, length, edge));
    }
}

// Blends one pixel: each channel becomes p x (1 - f) + f x colour, where the
// colour's alpha is 255 (source over, premultiplied).
inline void blend_pixel(std::uint8_t* p, double f, const double color[4]) {
    const double keep = 1.0 - f;
#if defined(__SSE2__)
    // The same operations two channels at a time.
    const __m128i bytes = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(load_u32(p))), _mm_setzero_si128());
    const __m128i words = _mm_unpacklo_epi16(bytes, _mm_setzero_si128());
    const __m128d vkeep = _mm_set1_pd(keep), vf = _mm_set1_pd(f);
    const __m128d zero = _mm_setzero_pd(), top = _mm_set1_pd(255.0), half = _mm_set1_pd(0.5), one = _mm_set1_pd(1.0);
    __m128i out[2];
    for (int i = 0; i < 2; ++i) {
        const __m128d channel = _mm_cvtepi32_pd(i == 0 ? words : _mm_srli_si128(words, 8));
        __m128d v = _mm_add_pd(_mm_mul_pd(channel, vkeep), _mm_mul_pd(vf, _mm_loadu_pd(color + 2 * i)));
        v = _mm_min_pd(_mm_max_pd(v, zero), top);
        const __m128d whole = _mm_cvtepi32_pd(_mm_cvttpd_epi32(v));
        const __m128d up = _mm_and_pd(_mm_cmpge_pd(_mm_sub_pd(v, whole), half), one);
        out[i] = _mm_cvttpd_epi32(_mm_add_pd(whole, up));
    }
    const __m128i packed = _mm_packs_epi32(_mm_unpacklo_epi64(out[0], out[1]), _mm_setzero_si128());
    store_u32(p, static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(packed, _mm_setzero_si128()))));
#else
    for (int c = 0; c < 4; ++c) p[c] = to_byte(p[c] * keep + f * color[c]);
#endif
}

// k / 255 for every coverage byte k.
constexpr auto kByteShare = [] {
    std::array<double, 256> share{};
    for (int k = 0; k < 256; ++k) share[k] = k / 255.0;
    return share;
}();

// What one pass does to pixels: the share k / 255 x opacity of every
// coverage byte k, and, worked out the first time it is needed by
// blend_pixel itself (so the bytes are the same), the pixel it makes of a
// transparent one.
struct PassPaint {
    double color[4];
    double share[256];
    std::uint32_t over_empty[256];
    bool known[256] = {};
    // At full opacity a fully covered pixel becomes `full` whatever it was
    // (it keeps none of itself: p x 0 + colour).
    bool solid = false;
    std::uint32_t full = 0;

    PassPaint(InkColor c, double opacity)
        : color{static_cast<double>(c.blue), static_cast<double>(c.green), static_cast<double>(c.red), 255.0} {
        for (int k = 0; k < 256; ++k) share[k] = kByteShare[k] * opacity;
        solid = 1.0 - share[255] == 0.0;
        if (solid) full = on_empty(255);
    }

    std::uint32_t on_empty(std::uint8_t k) {
        if (!known[k]) {
            std::uint8_t pixel[4] = {0, 0, 0, 0};
            blend_pixel(pixel, share[k], color);
            over_empty[k] = load_u32(pixel);
            known[k] = true;
        }
        return over_empty[k];
    }
};

#if defined(__SSE2__)
// blend_row with AVX2, four pixels at a time, each pixel's four channels in
// one register through blend_pixel's operations. A pixel without coverage
// is worked out too and comes back unchanged (share 0 keeps it whole), so
// the last block of a row is moved back to end inside the columns `cols`
// like the coverage blocks; coverage[0] is column cols.start. Needs at
// least four columns.
__attribute__((target("avx2"))) void blend_row_avx2(std::uint8_t* coverage, std::uint8_t* bgra, Span xs, Span cols,
                                                    const PassPaint& paint) {
    const __m256d zero = _mm256_setzero_pd(), top = _mm256_set1_pd(255.0), half = _mm256_set1_pd(0.5);
    const __m256d one = _mm256_set1_pd(1.0), color = _mm256_loadu_pd(paint.color);
    for (std::uint32_t px = xs.start; px < xs.end; px += 4) {
        const std::uint32_t at = std::min(px, cols.end - 4);
        std::uint8_t* cell = coverage + (at - cols.start);
        if (at + 8 <= xs.end) {
            std::uint64_t eight;
            std::memcpy(&eight, cell, 8);
            if (eight == 0) {
                px += 4;
                continue;
            }
        }
        const std::uint32_t ks = load_u32(cell);
        if (ks == 0) continue;
        store_u32(cell, 0);
        std::uint8_t* p = bgra + std::size_t{at} * 4;
        if (ks == 0xFFFFFFFFu && paint.solid) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_set1_epi32(static_cast<int>(paint.full)));
            continue;
        }
        __m128i out[4];
        for (int i = 0; i < 4; ++i) {
            const std::uint32_t k = (ks >> (8 * i)) & 0xFF;
            const __m256d channel =
                _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(static_cast<int>(load_u32(p + 4 * i)))));
            const __m256d f = _mm256_set1_pd(paint.share[k]);
            __m256d v = _mm256_add_pd(_mm256_mul_pd(channel, _mm256_sub_pd(one, f)), _mm256_mul_pd(f, color));
            v = _mm256_min_pd(_mm256_max_pd(v, zero), top);
            const __m256d whole = _mm256_round_pd(v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
            const __m256d up = _mm256_and_pd(_mm256_cmp_pd(_mm256_sub_pd(v, whole), half, _CMP_GE_OQ), one);
            out[i] = _mm256_cvttpd_epi32(_mm256_add_pd(whole, up));
        }
        const __m128i words = _mm_packs_epi32(out[0], out[1]);
        const __m128i words2 = _mm_packs_epi32(out[2], out[3]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_packus_epi16(words, words2));
    }
}
#endif

// Blends one row of the pass's coverage over the picture and zeroes it;
// pixels without coverage are left alone, eight at a time where they can.
// coverage[0] is column `origin`.
void blend_row(std::uint8_t* row, std::uint32_t origin, std::uint8_t* bgra, Span xs, PassPaint& paint) {
    for (std::uint32_t px = xs.start; px < xs.end; ++px) {
        std::uint8_t* coverage = row + (px - origin);
        if (px + 8 <= xs.end) {
            std::uint64_t eight;
            std::memcpy(&eight, coverage, 8);
            if (eight == 0) {
                px += 7;
                continue;
            }
        }
        const std::uint8_t k = *coverage;
        if (k == 0) continue;
        *coverage = 0;
        std::uint8_t* p = bgra + std::size_t{px} * 4;
        if (load_u32(p) == 0) {
            store_u32(p, paint.on_empty(k));
        } else {
            blend_pixel(p, paint.share[k], paint.color);
        }
    }
}

bool finite(const InkPixelPoint& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

}  // namespace

std::uint64_t ink_picture_bytes(std::uint32_t width, std::uint32_t height) {
    std::uint64_t bytes = 0;
    if (__builtin_mul_overflow(std::uint64_t{width}, std::uint64_t{height}, &bytes) ||
        __builtin_mul_overflow(bytes, std::uint64_t{4}, &bytes)) {
        return 0;
    }
    return bytes;
}

namespace {

std::size_t segment_count(std::size_t points) { return points == 1 ? 1 : points - 1; }

// The work a frame may still do, in the units of ink_frame_budget, and the
// segments it drew. The first segment of a frame is always drawn, so every
// frame goes on.
struct Budget {
    std::uint64_t left = std::numeric_limits<std::uint64_t>::max();
    bool fresh = true;
    std::uint64_t segments = 0;

    bool spend(std::uint64_t cost) {
        if (cost > left && !fresh) return false;
        left -= std::min(cost, left);
        fresh = false;
        ++segments;
        return true;
    }
    // Work that is done whatever is left: a clear, a copy, the blend of a
    // pass taken up again.
    void charge(double cost) { left -= std::min(static_cast<std::uint64_t>(cost), left); }
};

// What drawing a segment costs, in the units of ink_frame_budget, leaving
// out the growth of the rows it blends.
std::uint64_t segment_cost(const Box& box, const InkPixelPoint& a, const InkPixelPoint& b, double radius, bool wide,
                           bool opaque) {
    const double rows = box.y.end - box.y.start;
    const double area = static_cast<double>(box.x.end - box.x.start) * rows;
    const double across = 2.0 * radius + 3.0;
    const double blended = std::min(area, across * (std::hypot(b.x - a.x, b.y - a.y) + across));
    return static_cast<std::uint64_t>(kInkSegmentCost + rows * kInkRowCost + area * (wide ? 1.0 : kInkPlainScanCost) +
                                      blended * (opaque ? kInkOpaqueBlendCost : kInkBlendCost));
}

// What a pass that runs out of budget does: `keep` leaves its coverage for
// a later frame to go on from; `show` takes the segments newest first and
// blends the ones it drew (the end of the line shows; the pass is drawn
// again whole later).
enum class Stop { keep, show };

// The geometry of one pass: the box its points reach (its coverage covers
// only that box, row after row from the start of the buffer, so it stays in
// the cache from pass to pass) and whether the AVX2 loops take it.
struct PassFrame {
    Span rows, cols;
    double reach = 0.0;
    bool wide = false;
    bool empty = true;
};

PassFrame pass_frame(std::span<const InkPixelPoint> points, double radius, std::uint32_t width,
                     std::uint32_t height) {
    PassFrame f;
    f.reach = std::trunc(radius + 1.0);
    double left = std::numeric_limits<double>::infinity(), right = -left, low = left, high = right;
    for (const InkPixelPoint& p : points) {
        if (!finite(p)) continue;
        left = std::min(left, p.x);
        right = std::max(right, p.x);
        low = std::min(low, p.y);
        high = std::max(high, p.y);
    }
    f.rows = cut(std::floor(low - f.reach), std::ceil(high + f.reach), height);
    f.cols = cut(std::floor(left - f.reach), std::ceil(right + f.reach), width);
    f.empty = f.rows.end <= f.rows.start || f.cols.end <= f.cols.start;
#if defined(__SSE2__)
    f.wide = width >= 4 && cpu_has_avx2();
#endif
    if (f.wide && f.cols.end - f.cols.start < 4) {  // room for one block of four
        f.cols.end = std::max(f.cols.end, 4u);
        f.cols.start = f.cols.end - 4;
    }
    return f;
}

// The box of segment i of a pass; empty when a point is not finite.
Box segment_box(std::span<const InkPixelPoint> points, std::size_t i, double reach, std::uint32_t width,
                std::uint32_t height) {
    const InkPixelPoint& a = points[i];
    const InkPixelPoint& b = points.size() == 1 ? points[i] : points[i + 1];
    if (!finite(a) || !finite(b)) return Box{};
    return Box{cut(std::floor(std::min(a.x, b.x) - reach), std::ceil(std::max(a.x, b.x) + reach), width),
               cut(std::floor(std::min(a.y, b.y) - reach), std::ceil(std::max(a.y, b.y) + reach), height)};
}

bool no_pixel(const Box& box) { return box.x.end <= box.x.start || box.y.end <= box.y.start; }

// A segment of no length (a point held still) after one that is drawn: the
// round end of that one covers every pixel it would, so it adds nothing.
// (Of a run of them at one point, the one after a moving segment, or the
// first of the line, is drawn.)
bool covered_by_neighbour(std::span<const InkPixelPoint> points, std::size_t i) {
    if (i == 0 || points.size() < 3) return false;
    const InkPixelPoint& a = points[i];
    const InkPixelPoint& b = points[i + 1];
    return a.x == b.x && a.y == b.y && finite(a) && finite(points[i - 1]);
}

// One pass from segment `first` on, while the budget lasts. Gives how many
// segments it has drawn in all: the segment count when the pass is done and
// blended; fewer when the budget ran out (with `keep`, the coverage of the
// segments drawn is left in `coverage` for a later call to go on from).
std::size_t draw_pass(std::vector<std::uint8_t>& coverage, std::span<std::uint8_t> pixels, std::uint32_t width,
                      std::uint32_t height, std::span<const InkPixelPoint> points, double radius, InkColor color,
                      double opacity, std::size_t first, Budget& budget, Stop stop = Stop::keep) {
    const std::size_t segments = segment_count(points.size());
    const PassFrame f = pass_frame(points, radius, width, height);
    if (f.empty) return segments;
    const Span rows = f.rows, cols = f.cols;
    const bool wide = f.wide;
    const std::uint32_t stride = cols.end - cols.start;
    const bool opaque = opacity >= 1.0;
    // The blend takes, row by row, the span from the leftmost to the
    // rightmost pixel touched, and each segment pays for what it adds to
    // them. A pass taken up again blends its whole box: where an earlier
    // frame's segments touched is not kept, and pixels without coverage
    // stay as they are.
    const bool again = first > 0 && stop == Stop::keep;
    std::vector<Span> touched(rows.end - rows.start, again ? cols : Span{width, 0});
    std::uint32_t top = again ? rows.start : height, bottom = again ? rows.end : 0;
    if (again) budget.charge(double(rows.end - rows.start) * stride * kInkSpanCost);
    std::size_t drawn = first;
    for (; drawn < segments; ++drawn) {
        const std::size_t i = stop == Stop::show ? segments - 1 - drawn : drawn;
        const Box box = segment_box(points, i, f.reach, width, height);
        if (no_pixel(box) || covered_by_neighbour(points, i)) {
            if (!budget.spend(static_cast<std::uint64_t>(kInkSegmentCost))) break;
            continue;
        }
        const InkPixelPoint& a = points[i];
        const InkPixelPoint& b = points.size() == 1 ? points[i] : points[i + 1];
        std::uint64_t grown = 0;
        for (std::uint32_t py = box.y.start; py < box.y.end; ++py) {
            const Span had = touched[py - rows.start];
            const std::uint32_t was = had.end > had.start ? had.end - had.start : 0;
            grown += std::max(had.end, box.x.end) - std::min(had.start, box.x.start) - was;
        }
        if (!budget.spend(segment_cost(box, a, b, radius, wide, opaque) +
                          static_cast<std::uint64_t>(double(grown) * kInkSpanCost))) {
            break;
        }
        const Segment s{a.x, a.y, b.x, b.y};
        top = std::min(top, box.y.start);
        bottom = std::max(bottom, box.y.end);
#if defined(__SSE2__)
        if (wide) cover_box_avx2(coverage.data(), cols, rows.start, box, s, radius);
#endif
        for (std::uint32_t py = box.y.start; py < box.y.end; ++py) {
            std::uint8_t* row = coverage.data() + std::size_t{py - rows.start} * stride;
            if (!wide) cover_row(row, cols.start, box.x, py + 0.5, s, radius);
            // The picture's bytes for the blend, fetched while the coverage is worked out.
            const std::uint8_t* picture = pixels.data() + (std::size_t{py} * width + box.x.start) * 4;
            __builtin_prefetch(picture, 1);
            __builtin_prefetch(picture + (box.x.end - box.x.start) * 4 - 1, 1);
            Span& range = touched[py - rows.start];
            range.start = std::min(range.start, box.x.start);
            range.end = std::max(range.end, box.x.end);
        }
    }
    if (drawn < segments && stop == Stop::keep) return drawn;

    PassPaint paint(color, opacity);
    for (std::uint32_t py = top; py < bottom; ++py) {
        const Span range = touched[py - rows.start];
        if (range.end <= range.start) continue;
        std::uint8_t* row = coverage.data() + std::size_t{py - rows.start} * stride;
        std::uint8_t* picture = pixels.data() + std::size_t{py} * width * 4;
#if defined(__SSE2__)
        if (wide) {
            blend_row_avx2(row, picture, range, cols, paint);
            continue;
        }
#endif
        blend_row(row, cols.start, picture, range, paint);
    }
    return drawn;
}

// What drawing a pass whole costs at most: its segments, and the blend of
// its whole box.
std::uint64_t pass_estimate(std::span<const InkPixelPoint> points, double radius, double opacity,
                            std::uint32_t width, std::uint32_t height) {
    const std::size_t segments = segment_count(points.size());
    const PassFrame f = pass_frame(points, radius, width, height);
    if (f.empty) return 0;
    double cost = double(f.rows.end - f.rows.start) * (f.cols.end - f.cols.start) * kInkSpanCost;
    for (std::size_t i = 0; i < segments; ++i) {
        if (covered_by_neighbour(points, i)) {  // the cheaper test first: held points are common
            cost += kInkSegmentCost;
            continue;
        }
        const Box box = segment_box(points, i, f.reach, width, height);
        const InkPixelPoint& b = points.size() == 1 ? points[i] : points[i + 1];
        cost += no_pixel(box) ? kInkSegmentCost
                              : double(segment_cost(box, points[i], b, radius, f.wide, opacity >= 1.0));
    }
    return static_cast<std::uint64_t>(std::min(cost, 1e18));
}

// One pass of a stroke: its radius, colour and opacity.
struct Pass {
    double radius;
    InkColor color;
    double opacity;
};

// How a stroke is drawn at `now`: its points in pixels and its passes (none
// when it is not drawn).
struct StrokePasses {
    std::vector<InkPixelPoint> points;
    Pass passes[3];
    std::size_t count = 0;
};

void stroke_passes(const InkStroke& stroke, double now, const InkPlacement& placement, StrokePasses& out) {
    out.count = 0;
    const double alpha = laser_alpha(stroke, now);
    if ((stroke.laser && stroke.ended && alpha <= 0.0) || stroke.points.size() < 2) return;
    const double radius = std::max(stroke.width * placement.width / 2.0, 0.9);
    out.points.clear();
    for (std::size_t n = 0; n + 1 < stroke.points.size(); n += 2) {
        out.points.push_back({stroke.points[n] * placement.width + placement.x,
                              stroke.points[n + 1] * placement.height + placement.y});
    }
    const InkColor own{(stroke.color >> 16) & 0xFF, (stroke.color >> 8) & 0xFF, stroke.color & 0xFF};
    if (stroke.laser) {  // a faint wide glow, a white core, the coloured centre
        out.passes[0] = {2.6 * radius, own, 0.3 * alpha};
        out.passes[1] = {radius, InkColor{255, 255, 255}, 0.7 * alpha};
        out.passes[2] = {0.7 * radius, own, alpha};
        out.count = 3;
    } else {
        out.passes[0] = {radius, own, alpha};
        out.count = 1;
    }
}

bool drawable(const Pass& pass) {
    return std::isfinite(pass.radius) && pass.radius >= 0.0 && std::isfinite(pass.opacity);
}

// Draws the strokes from the canvas's place up to (not including) `end`,
// oldest first, while the budget lasts; gives whether it got there. With
// `keep`, a canvas left unfinished holds where the next call goes on; with
// `show`, the pass that ran out is blended as far as it got.
bool draw_strokes(InkCanvas& canvas, const InkStrokes& ink, std::size_t end, double now,
                  std::span<std::uint8_t> pixels, std::uint32_t width, std::uint32_t height,
                  const InkPlacement& placement, Budget& budget, Stop stop) {
    StrokePasses drawn;
    bool done = true;
    for (std::size_t i = canvas.stroke; i < end && done; ++i) {
        stroke_passes(ink.strokes[i], now, placement, drawn);
        const bool here = canvas.unfinished && i == canvas.stroke;
        // A stroke of several passes that shows what fits of it shares the
        // budget among them by what each costs whole, so that each draws its
        // newest segments: a laser's tip shows all three layers. (A frame
        // still owes only its first pass a segment.)
        double costs[3] = {}, owed = 0.0;
        for (std::size_t p = 0; stop == Stop::show && drawn.count > 1 && p < drawn.count; ++p) {
            const Pass& pass = drawn.passes[p];
            if (drawable(pass)) {
                costs[p] = double(pass_estimate(drawn.points, pass.radius, pass.opacity, width, height));
                owed += costs[p];
            }
        }
        const bool shared = owed > double(budget.left);
        for (int p = here ? canvas.pass : 0; p < static_cast<int>(drawn.count); ++p) {
            const Pass& pass = drawn.passes[p];
            if (!drawable(pass)) continue;
            const std::size_t first = here && p == canvas.pass ? canvas.segment : 0;
            Budget part{0, budget.fresh};
            if (shared && costs[p] > 0.0) {
                part.left = static_cast<std::uint64_t>(double(budget.left) * std::min(costs[p] / owed, 1.0));
                owed -= costs[p];
            }
            const std::uint64_t given = part.left;
            const std::size_t next = draw_pass(canvas.coverage, pixels, width, height, drawn.points, pass.radius,
                                               pass.color, pass.opacity, first, shared ? part : budget, stop);
            if (shared) {
                budget.charge(double(given - part.left));
                budget.segments += part.segments;
                budget.fresh = false;
            }
            if (next < segment_count(drawn.points.size())) {
                canvas.unfinished = stop == Stop::keep;
                canvas.stroke = i;
                canvas.pass = p;
                canvas.segment = next;
                done = false;
                if (!shared) break;
            }
        }
    }
    if (done) {
        canvas.unfinished = false;
        canvas.stroke = std::max(canvas.stroke, end);
    }
    canvas.segments_drawn += budget.segments;
    budget.segments = 0;
    return done;
}

// A fingerprint of how a stroke is drawn at `now`: its opacity, width,
// colour, kind and points.
std::uint64_t stroke_mark(const InkStroke& stroke, double now) {
    std::uint64_t h = 0x243F6A8885A308D3ull;
    const auto mix = [&h](std::uint64_t v) {
        h = (h ^ v) * 0x9E3779B97F4A7C15ull;
        h ^= h >> 29;
    };
    const auto bits = [](double v) { return std::bit_cast<std::uint64_t>(v); };
    mix(bits(laser_alpha(stroke, now)));
    mix(bits(stroke.width));
    mix(stroke.color | (std::uint64_t{stroke.laser} << 32));
    mix(stroke.points.size());
    for (double p : stroke.points) mix(bits(p));
    return h;
}

// Empties a buffer and gives its memory back.
void free_bytes(std::vector<std::uint8_t>& bytes) { std::vector<std::uint8_t>().swap(bytes); }

bool same_placement(const InkPlacement& a, const InkPlacement& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Where the settled picture stands: the strokes it has begun (one of them
// unfinished, perhaps) and the ones it has finished.
std::size_t settled_begun(const InkLayers& layers) { return layers.settled_marks.size(); }
std::size_t settled_done(const InkLayers& layers) {
    return layers.settled_marks.size() - (layers.settled.unfinished ? 1 : 0);
}

}  // namespace

std::uint64_t ink_frame_budget(std::uint32_t width, std::uint32_t height) {
    return kInkFrameUnits * std::max(std::uint64_t{width} * height, std::uint64_t{1920} * 1080);
}

void rasterise_stroke(std::vector<std::uint8_t>& coverage, std::span<std::uint8_t> pixels, std::uint32_t width,
                      std::uint32_t height, std::span<const InkPixelPoint> points, double radius, InkColor color,
                      double opacity) {
    const std::uint64_t bytes = ink_picture_bytes(width, height);
    if (bytes == 0 || pixels.size() < bytes || coverage.size() != bytes / 4) return;
    if (points.empty() || !std::isfinite(radius) || radius < 0.0 || !std::isfinite(opacity)) return;
    Budget unlimited;
    draw_pass(coverage, pixels, width, height, points, radius, color, opacity, 0, unlimited);
}

void restart_ink_canvas(InkCanvas& canvas) {
    if (canvas.unfinished) std::fill(canvas.coverage.begin(), canvas.coverage.end(), std::uint8_t{0});
    canvas.unfinished = false;
    canvas.stroke = 0;
    canvas.pass = 0;
    canvas.segment = 0;
    canvas.segments_drawn = 0;
}

bool render_ink_frame(InkCanvas& canvas, const InkStrokes& ink, double now, std::span<std::uint8_t> pixels,
                      std::uint32_t width, std::uint32_t height, const InkPlacement& placement, bool go_on,
                      std::uint64_t budget) {
    const std::uint64_t bytes = ink_picture_bytes(width, height);
    const bool drawable = bytes != 0 && pixels.size() >= bytes;
    Budget left{budget};
    if (!(go_on && canvas.unfinished && drawable && canvas.coverage.size() == bytes / 4)) {
        if (!pixels.empty()) std::memset(pixels.data(), 0, pixels.size());
        restart_ink_canvas(canvas);
        if (!drawable) return true;
        if (canvas.coverage.size() != bytes / 4) canvas.coverage.assign(bytes / 4, 0);
        left.charge(double(bytes / 4) * kInkCopyCost);
    }
    const bool done = draw_strokes(canvas, ink, ink.strokes.size(), now, pixels, width, height, placement, left,
                                   Stop::keep);
    if (done) canvas.stroke = 0;
    return done;
}

bool render_ink_strokes(InkCanvas& canvas, const InkStrokes& ink, double now, std::span<std::uint8_t> pixels,
                        std::uint32_t width, std::uint32_t height, const InkPlacement& placement, bool go_on) {
    return render_ink_frame(canvas, ink, now, pixels, width, height, placement, go_on,
                            ink_frame_budget(width, height));
}

void lose_ink_picture(InkLayers& layers) {
    layers.shown_marks.clear();
    layers.whole = false;
    layers.lost = true;
}

bool draw_ink_layers(InkLayers& layers, const InkStrokes& ink, double now, std::span<std::uint8_t> pixels,
                     std::uint32_t width, std::uint32_t height, const InkPlacement& placement,
                     std::uint64_t budget) {
    const std::uint64_t bytes = ink_picture_bytes(width, height);
    if (bytes == 0 || pixels.size() < bytes) {
        if (!pixels.empty()) std::memset(pixels.data(), 0, pixels.size());
        layers = InkLayers{};
        return true;
    }
    const std::size_t area = bytes / 4;
    const double copy = double(area) * kInkCopyCost;
    Budget left{budget};
    std::vector<std::uint64_t> marks(ink.strokes.size());
    for (std::size_t i = 0; i < marks.size(); ++i) marks[i] = stroke_mark(ink.strokes[i], now);

    // The settled picture is drawn anew when a stroke it holds has changed
    // or gone, or the picture's size or placement has changed.
    const bool same_frame = layers.width == width && layers.height == height &&
                            same_placement(layers.placement, placement) && layers.settled_pixels.size() == bytes;
    if (!same_frame || settled_begun(layers) > marks.size() ||
        !std::equal(layers.settled_marks.begin(), layers.settled_marks.end(), marks.begin())) {
        if (!same_frame) {
            layers.settled_pixels.assign(bytes, 0);
            layers.settled.coverage.assign(area, 0);
            layers.over.coverage.assign(area, 0);
            layers.over.unfinished = false;
            layers.width = width;
            layers.height = height;
            layers.placement = placement;
            lose_ink_picture(layers);
        } else {
            std::memset(layers.settled_pixels.data(), 0, bytes);
        }
        restart_ink_canvas(layers.settled);
        layers.settled_marks.clear();
        left.charge(copy);
    }
    // It takes the ended pen strokes from the oldest on: they change no more.
    std::size_t goal = settled_begun(layers);
    while (goal < ink.strokes.size() && ink.strokes[goal].ended && !ink.strokes[goal].laser) ++goal;
    const auto settle = [&](Budget& spend) {
        if (settled_done(layers) < goal) {
            draw_strokes(layers.settled, ink, goal, now, layers.settled_pixels, width, height, placement, spend,
                         Stop::keep);
        }
        const std::size_t begun = layers.settled.stroke + (layers.settled.unfinished ? 1 : 0);
        for (std::size_t i = settled_begun(layers); i < begun; ++i) layers.settled_marks.push_back(marks[i]);
    };
    // Copying the settled picture also clears what a finishing that a
    // change stopped left in the coverage, which costs as much again.
    const auto copy_cost = [&] { return copy * (layers.over.unfinished ? 2.0 : 1.0); };
    const auto copy_settled = [&](std::vector<std::uint8_t>* apart) {
        left.charge(copy_cost());
        restart_ink_canvas(layers.over);
        if (apart) {
            *apart = layers.settled_pixels;
        } else {
            std::memcpy(pixels.data(), layers.settled_pixels.data(), bytes);
        }
    };
    const auto finish = [&](bool drawn) {
        layers.unfinished = !layers.whole || settled_done(layers) < goal;
        return drawn;
    };

    const bool changed = layers.lost || layers.shown_marks != marks;
    if (changed) {
        layers.lost = false;
        layers.shown_marks = marks;
        layers.changed_at = now;
        layers.whole = false;
        layers.finishing = false;
        free_bytes(layers.finishing_pixels);
    } else if (layers.whole) {
        settle(left);  // in the background: the picture stays
        return finish(false);
    } else if (!layers.finishing && settled_done(layers) == goal) {
        // What is drawn over the settled picture does not fit in a frame.
        // Once the drawing has stayed the same for a moment, it is drawn on
        // in order, frame after frame, in a picture of its own: the one
        // shown, with the newest strokes, stays until that one is whole.
        if (now - layers.changed_at < kInkStillTime) return finish(false);
        copy_settled(&layers.finishing_pixels);
        layers.over.stroke = settled_done(layers);
        layers.finishing = true;
    }
    if (layers.finishing) {
        layers.whole = draw_strokes(layers.over, ink, ink.strokes.size(), now, layers.finishing_pixels, width,
                                    height, placement, left, Stop::keep);
        if (!layers.whole) return finish(false);
        // Showing it is one copy more, a sixty-fourth of a frame, which the
        // frame that finishes it spends past its budget.
        std::memcpy(pixels.data(), layers.finishing_pixels.data(), bytes);
        free_bytes(layers.finishing_pixels);
        layers.finishing = false;
        return finish(true);
    }

    // The settled picture with the strokes after it drawn over a copy of
    // it. When they do not all fit in the frame the newest are drawn; the
    // ones before them show as the settled picture takes them in, or once
    // the drawing stays the same.
    // While the settled picture is behind, it gets three quarters of the
    // budget: the newest strokes are drawn again every frame.
    const bool behind = settled_done(layers) < goal;
    const auto copying = static_cast<std::uint64_t>(copy_cost());
    const std::uint64_t share = (behind ? budget / 4 : budget) - std::min(budget / 4, copying);
    std::size_t from = ink.strokes.size();
    std::uint64_t need = 0;
    StrokePasses passes;
    while (from > settled_done(layers)) {
        stroke_passes(ink.strokes[from - 1], now, placement, passes);
        std::uint64_t cost = 0;
        for (std::size_t p = 0; p < passes.count; ++p) {
            if (drawable(passes.passes[p])) {
                cost += pass_estimate(passes.points, passes.passes[p].radius, passes.passes[p].opacity, width,
                                      height);
            }
        }
        if (from < ink.strokes.size() && need + cost > share) break;
        need += cost;
        --from;
    }
    if (behind) {
        const std::uint64_t reserve = std::min(need, share) + copying;
        const std::uint64_t allowance = left.left > reserve ? left.left - reserve : 0;
        Budget spend{allowance};  // at least one segment, so that it always gets on
        settle(spend);
        left.charge(double(allowance - std::min(allowance, spend.left)));
    }
    from = std::max(from, settled_done(layers));
    copy_settled(nullptr);
    // What the newest leave over goes to the strokes before them, oldest
    // first, when the settled picture does not need it.
    bool all = from == settled_done(layers);
    if (!all && !behind && left.left > need) {
        Budget before{left.left - need, false};
        layers.over.stroke = settled_done(layers);
        all = draw_strokes(layers.over, ink, from, now, pixels, width, height, placement, before, Stop::show);
        left.charge(double(left.left - need - before.left));
    }
    layers.over.stroke = from;
    left.fresh = true;  // the newest stroke gets at least one segment
    layers.whole = draw_strokes(layers.over, ink, ink.strokes.size(), now, pixels, width, height, placement, left,
                                Stop::show) &&
                   all;
    return finish(true);
}

}  // namespace vorlix
