#include "convert/nv12.h"

#include <algorithm>

#if defined(__x86_64__) || defined(_M_X64)
#define VORLIX_NV12_X86 1
#include <immintrin.h>
#endif

namespace vorlix {
namespace {

// One conversion job; the planes are already located in the destination.
struct Job {
    const std::uint8_t* src;
    std::uint32_t src_width;
    std::uint32_t src_height;
    bool half;
    std::uint32_t width;
    std::uint32_t height;
    std::uint8_t* y_plane;
    std::uint8_t* uv_plane;
};

struct Colour {
    int b, g, r;
};

inline const std::uint8_t* source_pixel(const Job& job, std::uint32_t x, std::uint32_t y) {
    return job.src + (static_cast<std::size_t>(y) * job.src_width + x) * 4;
}

// The colour that stands for output pixel (x, y), with clamped source
// coordinates.
inline Colour sample(const Job& job, std::uint32_t x, std::uint32_t y) {
    const std::uint32_t last_col = job.src_width - 1;
    const std::uint32_t last_row = job.src_height - 1;
    if (!job.half) {
        const std::uint8_t* p = source_pixel(job, std::min(x, last_col), std::min(y, last_row));
        return {p[0], p[1], p[2]};
    }
    const std::uint32_t x0 = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(std::uint64_t{x} * 2, last_col));
    const std::uint32_t x1 = std::min(x0 + 1, last_col);
    const std::uint32_t y0 = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(std::uint64_t{y} * 2, last_row));
    const std::uint32_t y1 = std::min(y0 + 1, last_row);
    const std::uint8_t* a = source_pixel(job, x0, y0);
    const std::uint8_t* b = source_pixel(job, x1, y0);
    const std::uint8_t* c = source_pixel(job, x0, y1);
    const std::uint8_t* d = source_pixel(job, x1, y1);
    return {(a[0] + b[0] + c[0] + d[0] + 2) >> 2, (a[1] + b[1] + c[1] + d[1] + 2) >> 2,
            (a[2] + b[2] + c[2] + d[2] + 2) >> 2};
}

inline std::uint8_t luma(Colour c) {
    return static_cast<std::uint8_t>(((47 * c.r + 157 * c.g + 16 * c.b + 128) >> 8) + 16);
}

// Output block (bx, by): output columns 2bx, 2bx + 1 and rows 2by, 2by + 1.
void convert_block(const Job& job, std::uint32_t bx, std::uint32_t by) {
    const std::uint32_t x = bx * 2;
    const std::uint32_t y = by * 2;
    const Colour c[4] = {sample(job, x, y), sample(job, x + 1, y), sample(job, x, y + 1),
                         sample(job, x + 1, y + 1)};
    std::uint8_t* row0 = job.y_plane + static_cast<std::size_t>(y) * job.width;
    std::uint8_t* row1 = row0 + job.width;
    row0[x] = luma(c[0]);
    row0[x + 1] = luma(c[1]);
    row1[x] = luma(c[2]);
    row1[x + 1] = luma(c[3]);
    const int bm = (c[0].b + c[1].b + c[2].b + c[3].b + 2) >> 2;
    const int gm = (c[0].g + c[1].g + c[2].g + c[3].g + 2) >> 2;
    const int rm = (c[0].r + c[1].r + c[2].r + c[3].r + 2) >> 2;
    // Right shifts of negative values are arithmetic: floor division by 256.
    const int u = ((112 * bm - 86 * gm - 26 * rm + 128) >> 8) + 128;
    const int v = ((112 * rm - 102 * gm - 10 * bm + 128) >> 8) + 128;
    std::uint8_t* uv = job.uv_plane + static_cast<std::size_t>(by) * job.width + x;
    uv[0] = static_cast<std::uint8_t>(u);
    uv[1] = static_cast<std::uint8_t>(v);
}

void convert_blocks_scalar(const Job& job, std::uint32_t by, std::uint32_t first_block) {
    for (std::uint32_t bx = first_block; bx < job.width / 2; ++bx) convert_block(job, bx, by);
}

// Blocks of row pair `by` that need no column clamping, so that vector code
// can read their source pixels straight.
std::uint32_t unclamped_blocks(const Job& job) {
    const std::uint32_t limit = job.half ? job.src_width / 4 : job.src_width / 2;
    return std::min(job.width / 2, limit);
}

// Source rows for output row `y`: [0] and [1] are the two rows averaged at
// half size (both the same row at full size).
void source_rows(const Job& job, std::uint32_t y, const std::uint8_t* rows[2]) {
    const std::uint32_t last_row = job.src_height - 1;
    if (!job.half) {
        rows[0] = rows[1] = source_pixel(job, 0, std::min(y, last_row));
        return;
    }
    const std::uint32_t y0 =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{y} * 2, last_row));
    rows[0] = source_pixel(job, 0, y0);
    rows[1] = source_pixel(job, 0, std::min(y0 + 1, last_row));
}

#ifdef VORLIX_NV12_X86

// ---- SSE2: 8 output pixels of two rows a step -------------------------------
//
// A register of 4 BGRA pixels read as 16-bit lanes is [B|G<<8, R|A<<8, ...].
// Masking the low bytes gives [B, R] pairs and shifting right by 8 gives
// [G, A] pairs; one pmaddwd then weighs a whole pixel. Sums of neighbouring
// pixels are formed as 32-bit adds of those pairs (no carry: every sum stays
// below 2^16). Every intermediate fits its lane, so the results equal the
// scalar formulas bit for bit.

struct Sse2Pixels {
    __m128i br;  // 4 pixels as 16-bit [B, R] pairs
    __m128i ga;  // 4 pixels as 16-bit [G, A] pairs
};

inline Sse2Pixels sse2_load(const std::uint8_t* p) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return {_mm_and_si128(v, _mm_set1_epi32(0x00FF00FF)), _mm_srli_epi16(v, 8)};
}

// Sums of neighbouring 32-bit lanes: [a0+a1, a2+a3, b0+b1, b2+b3].
inline __m128i sse2_pair_sums(__m128i a, __m128i b) {
    const __m128 fa = _mm_castsi128_ps(a);
    const __m128 fb = _mm_castsi128_ps(b);
    const __m128i even = _mm_castps_si128(_mm_shuffle_ps(fa, fb, _MM_SHUFFLE(2, 0, 2, 0)));
    const __m128i odd = _mm_castps_si128(_mm_shuffle_ps(fa, fb, _MM_SHUFFLE(3, 1, 3, 1)));
    return _mm_add_epi32(even, odd);
}

// Rounded mean of four: (sum + 2) >> 2 in every 16-bit lane.
inline __m128i sse2_mean4(__m128i sum) {
    return _mm_srli_epi16(_mm_add_epi16(sum, _mm_set1_epi16(2)), 2);
}

// 4 output pixels, each the mean of a 2x2 source block: 8 source pixels of
// two rows.
inline Sse2Pixels sse2_half(const std::uint8_t* row0, const std::uint8_t* row1) {
    const Sse2Pixels a0 = sse2_load(row0), a1 = sse2_load(row0 + 16);
    const Sse2Pixels b0 = sse2_load(row1), b1 = sse2_load(row1 + 16);
    const __m128i br = sse2_pair_sums(_mm_add_epi16(a0.br, b0.br), _mm_add_epi16(a1.br, b1.br));
    const __m128i ga = sse2_pair_sums(_mm_add_epi16(a0.ga, b0.ga), _mm_add_epi16(a1.ga, b1.ga));
    return {sse2_mean4(br), sse2_mean4(ga)};
}

// Y of 4 pixels as 32-bit lanes.
inline __m128i sse2_luma(Sse2Pixels p) {
    const __m128i k_br = _mm_setr_epi16(16, 47, 16, 47, 16, 47, 16, 47);
    const __m128i k_g = _mm_setr_epi16(157, 0, 157, 0, 157, 0, 157, 0);
    // ((s + 128) >> 8) + 16 == (s + 128 + 16 * 256) >> 8
    const __m128i bias = _mm_set1_epi32(128 + 16 * 256);
    const __m128i s = _mm_add_epi32(_mm_madd_epi16(p.br, k_br), _mm_madd_epi16(p.ga, k_g));
    return _mm_srli_epi32(_mm_add_epi32(s, bias), 8);
}

// [U, V] of 4 blocks given their rounded mean colours, as 16-bit pairs in
// 32-bit lanes.
inline __m128i sse2_chroma(__m128i br, __m128i ga) {
    // floor((s + 128) / 256) + 128 == (s + 128 + 128 * 256) >> 8, and the sum
    // is never negative, so a logical shift is exact.
    const __m128i bias = _mm_set1_epi32(128 + 128 * 256);
    const __m128i u_br = _mm_setr_epi16(112, -26, 112, -26, 112, -26, 112, -26);
    const __m128i u_g = _mm_setr_epi16(-86, 0, -86, 0, -86, 0, -86, 0);
    const __m128i v_br = _mm_setr_epi16(-10, 112, -10, 112, -10, 112, -10, 112);
    const __m128i v_g = _mm_setr_epi16(-102, 0, -102, 0, -102, 0, -102, 0);
    __m128i u = _mm_add_epi32(_mm_madd_epi16(br, u_br), _mm_madd_epi16(ga, u_g));
    __m128i v = _mm_add_epi32(_mm_madd_epi16(br, v_br), _mm_madd_epi16(ga, v_g));
    u = _mm_srli_epi32(_mm_add_epi32(u, bias), 8);
    v = _mm_srli_epi32(_mm_add_epi32(v, bias), 8);
    return _mm_or_si128(u, _mm_slli_epi32(v, 16));
}

// Writes 8 Y values of each of the two rows and the 4 [U, V] pairs below:
// t0, t1 are the 8 pixels of the upper row, b0, b1 those of the lower one.
inline void sse2_store(Sse2Pixels t0, Sse2Pixels t1, Sse2Pixels b0, Sse2Pixels b1,
                       std::uint8_t* y0, std::uint8_t* y1, std::uint8_t* uv) {
    const __m128i yt = _mm_packs_epi32(sse2_luma(t0), sse2_luma(t1));
    const __m128i yb = _mm_packs_epi32(sse2_luma(b0), sse2_luma(b1));
    const __m128i yy = _mm_packus_epi16(yt, yb);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(y0), yy);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(y1), _mm_srli_si128(yy, 8));
    const __m128i br = sse2_pair_sums(_mm_add_epi16(t0.br, b0.br), _mm_add_epi16(t1.br, b1.br));
    const __m128i ga = sse2_pair_sums(_mm_add_epi16(t0.ga, b0.ga), _mm_add_epi16(t1.ga, b1.ga));
    const __m128i c = sse2_chroma(sse2_mean4(br), sse2_mean4(ga));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(uv), _mm_packus_epi16(c, c));
}

void convert_rows_sse2(const Job& job, std::uint32_t by) {
    const std::uint32_t y = by * 2;
    const std::uint8_t* top[2];
    const std::uint8_t* bottom[2];
    source_rows(job, y, top);
    source_rows(job, y + 1, bottom);
    std::uint8_t* y0 = job.y_plane + static_cast<std::size_t>(y) * job.width;
    std::uint8_t* y1 = y0 + job.width;
    std::uint8_t* uv = job.uv_plane + static_cast<std::size_t>(by) * job.width;
    const std::uint32_t blocks = unclamped_blocks(job);
    std::uint32_t bx = 0;
    for (; bx + 4 <= blocks; bx += 4) {
        const std::size_t x = std::size_t{bx} * 2;
        if (!job.half) {
            const std::uint8_t* t = top[0] + x * 4;
            const std::uint8_t* b = bottom[0] + x * 4;
            sse2_store(sse2_load(t), sse2_load(t + 16), sse2_load(b), sse2_load(b + 16), y0 + x,
                       y1 + x, uv + x);
        } else {
            const std::size_t sx = x * 2 * 4;
            sse2_store(sse2_half(top[0] + sx, top[1] + sx),
                       sse2_half(top[0] + sx + 32, top[1] + sx + 32),
                       sse2_half(bottom[0] + sx, bottom[1] + sx),
                       sse2_half(bottom[0] + sx + 32, bottom[1] + sx + 32), y0 + x, y1 + x,
                       uv + x);
        }
    }
    convert_blocks_scalar(job, by, bx);
}

// ---- AVX2: 32 output pixels of two rows a step -------------------------------
//
// The arithmetic is laid out for few instructions, each result exact:
//
// - Luma: vpmaddubsw multiplies unsigned bytes by signed bytes and adds
//   neighbouring products into 16-bit lanes. With the weights 16, 157, 47, 0
//   as the unsigned operand and the pixel with 0x80 flipped in every byte
//   (each channel less 128) as the signed one, a pixel gives
//   [16(B-128) + 157(G-128), 47(R-128)], within -22,144..21,971 and
//   -6,016..5,969 (no saturation). vpmaddwd by ones adds the two into
//   s = 16B + 157G + 47R - 28,160, within -28,160..27,940, which packs into a
//   16-bit lane exactly. vpmulhrsw by 128 gives floor((s + 128) / 256), which
//   is Y - 126 as 28,160 is 110 * 256; it packs into a signed byte exactly and
//   adding 126 there gives Y.
// - Block means: with a, b the upper and c, d the lower pixels of a block,
//   pavgb gives h = ceil((a + b) / 2) and l = ceil((c + d) / 2) for every
//   channel at once. ceil((h + l) / 2) is the rounded mean (S + 2) >> 2 of
//   S = a + b + c + d except when h + l is odd and a + b or c + d is odd,
//   where it is 1 too large: S = 2(h + l) - odd(a + b) - odd(c + d), and
//   (S + 2) >> 2 falls below (h + l + 1) >> 1 exactly when h + l is odd and
//   one of the two pair sums is odd. Those parities are the low bits of
//   h ^ l, a ^ b and c ^ d.
// - Chroma: with the means [B, G, R, A] of a block in a 32-bit lane, one
//   multiply-add by [112, -86, 112, 0] gives [112B - 86G, 112R] and another,
//   of the same lane shuffled to [R, 0, G, B], by [-26, 0, -102, -10] gives
//   [-26R, -102G - 10B]. Their sum is [U, V] before rounding, each within
//   -28,560..28,560; adding 128 + 128 * 256 (modulo 2^16) leaves a value within
//   4,336..61,456 whose second byte is floor((s + 128) / 256) + 128.
//
// The packs and byte shuffles work within 128-bit halves, so one cross-lane
// permutation a store puts the bytes back in order.
//
// MinGW's GCC cannot align the stack to 32 bytes, so a 256-bit value spilled
// there must not be written with an aligned move. The helpers are forced
// inline, and what that build still spills it writes with unaligned moves; the
// Windows tests run this path (under Wine too, whenever the processor has
// AVX2).

#define VORLIX_AVX2 __attribute__((target("avx2")))
#define VORLIX_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline

struct Avx2Tables {
    alignas(32) std::uint8_t flip[32];        // 0x80 in every byte
    alignas(32) std::uint8_t luma[32];        // 16, 157, 47, 0 a pixel
    alignas(32) std::int16_t ones[16];
    alignas(32) std::int16_t by256[16];       // vpmulhrsw: (x + 128) >> 8
    alignas(32) std::int8_t luma_bias[32];    // 126 in every byte
    alignas(32) std::uint8_t low_bit[32];     // 1 in every byte
    alignas(32) std::int8_t uv_near[32];      // 112, -86, 112, 0 a block
    alignas(32) std::uint8_t uv_shuffle[32];  // [B, G, R, A] to [R, 0, G, B]
    alignas(32) std::int8_t uv_far[32];       // -26, 0, -102, -10 a block
    alignas(32) std::int16_t uv_bias[16];     // 128 + 128 * 256
    alignas(32) std::uint8_t uv_low[32];      // second bytes to bytes 0-7 of each half
    alignas(32) std::uint8_t uv_high[32];     // second bytes to bytes 8-15 of each half
    alignas(32) std::int32_t order[8];        // 4-byte groups back in order
    alignas(32) std::int32_t pixel_order[8];  // block means back in order
};

constexpr Avx2Tables avx2_tables() {
    Avx2Tables t{};
    constexpr std::uint8_t luma[4] = {16, 157, 47, 0};
    constexpr std::int8_t uv_near[4] = {112, -86, 112, 0};
    constexpr std::int8_t uv_far[4] = {-26, 0, -102, -10};
    constexpr std::uint8_t uv_shuffle[4] = {2, 0x80, 1, 0};
    for (int i = 0; i < 32; ++i) {
        const int j = i % 16;  // byte shuffles index within their half
        t.flip[i] = 0x80;
        t.luma[i] = luma[i % 4];
        t.luma_bias[i] = 126;
        t.low_bit[i] = 1;
        t.uv_near[i] = uv_near[i % 4];
        t.uv_far[i] = uv_far[i % 4];
        const std::uint8_t s = uv_shuffle[i % 4];
        t.uv_shuffle[i] = s == 0x80 ? s : static_cast<std::uint8_t>(j / 4 * 4 + s);
        t.uv_low[i] = j < 8 ? static_cast<std::uint8_t>(j * 2 + 1) : 0x80;
        t.uv_high[i] = j < 8 ? 0x80 : static_cast<std::uint8_t>((j - 8) * 2 + 1);
    }
    for (int i = 0; i < 16; ++i) {
        t.ones[i] = 1;
        t.by256[i] = 128;
        t.uv_bias[i] = static_cast<std::int16_t>(0x8080 - 0x10000);
    }
    constexpr std::int32_t order[8] = {0, 4, 1, 5, 2, 6, 3, 7};
    constexpr std::int32_t pixel_order[8] = {0, 1, 4, 5, 2, 3, 6, 7};
    for (int i = 0; i < 8; ++i) t.order[i] = order[i], t.pixel_order[i] = pixel_order[i];
    return t;
}

constexpr Avx2Tables kAvx2Tables = avx2_tables();

VORLIX_AVX2_INLINE __m256i avx2_const(const void* p) {
    return _mm256_load_si256(static_cast<const __m256i*>(p));
}

VORLIX_AVX2_INLINE __m256i avx2_load(const std::uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

VORLIX_AVX2_INLINE void avx2_store(std::uint8_t* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

VORLIX_AVX2_INLINE void avx2_store16(std::uint8_t* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// s = 16B + 157G + 47R - 28,160 of 8 pixels as 32-bit lanes.
VORLIX_AVX2_INLINE __m256i avx2_luma_sums(__m256i px) {
    const __m256i flipped = _mm256_xor_si256(px, avx2_const(kAvx2Tables.flip));
    return _mm256_madd_epi16(_mm256_maddubs_epi16(avx2_const(kAvx2Tables.luma), flipped),
                             avx2_const(kAvx2Tables.ones));
}

// Y - 126 of 16 pixels as 16-bit lanes, in the order [0-3, 8-11 | 4-7, 12-15].
VORLIX_AVX2_INLINE __m256i avx2_luma16(__m256i a, __m256i b) {
    const __m256i s = _mm256_packs_epi32(avx2_luma_sums(a), avx2_luma_sums(b));
    return _mm256_mulhrs_epi16(s, avx2_const(kAvx2Tables.by256));
}

// Y of 32 pixels (8 in each argument) in order.
VORLIX_AVX2_INLINE __m256i avx2_luma32(__m256i p0, __m256i p1, __m256i p2, __m256i p3) {
    const __m256i y = _mm256_packs_epi16(avx2_luma16(p0, p1), avx2_luma16(p2, p3));
    return _mm256_permutevar8x32_epi32(_mm256_add_epi8(y, avx2_const(kAvx2Tables.luma_bias)),
                                       avx2_const(kAvx2Tables.order));
}

// The even and the odd pixels of a and b: [a0, a2, b0, b2 | a4, a6, b4, b6]
// and [a1, a3, b1, b3 | a5, a7, b5, b7].
VORLIX_AVX2_INLINE __m256i avx2_even(__m256i a, __m256i b) {
    return _mm256_castps_si256(
        _mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), 0x88));
}

VORLIX_AVX2_INLINE __m256i avx2_odd(__m256i a, __m256i b) {
    return _mm256_castps_si256(
        _mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), 0xDD));
}

// Rounded means of the 8 2x2 blocks of 16 pixels of two rows (t0, t1 the
// upper row, b0, b1 the lower one), as BGRA bytes in the order
// [0, 1, 4, 5 | 2, 3, 6, 7].
VORLIX_AVX2_INLINE __m256i avx2_block_means(__m256i t0, __m256i t1, __m256i b0, __m256i b1) {
    const __m256i te = avx2_even(t0, t1), to = avx2_odd(t0, t1);
    const __m256i be = avx2_even(b0, b1), bo = avx2_odd(b0, b1);
    const __m256i h = _mm256_avg_epu8(te, to), l = _mm256_avg_epu8(be, bo);
    const __m256i odd_pair = _mm256_or_si256(_mm256_xor_si256(te, to), _mm256_xor_si256(be, bo));
    const __m256i too_large = _mm256_and_si256(
        _mm256_and_si256(_mm256_xor_si256(h, l), odd_pair), avx2_const(kAvx2Tables.low_bit));
    return _mm256_sub_epi8(_mm256_avg_epu8(h, l), too_large);
}

// 16-bit lanes whose second bytes are [U, V] of the 8 blocks of 16 pixels of
// two rows, blocks in the order [0, 1, 4, 5 | 2, 3, 6, 7].
VORLIX_AVX2_INLINE __m256i avx2_chroma8(__m256i t0, __m256i t1, __m256i b0, __m256i b1) {
    const __m256i means = avx2_block_means(t0, t1, b0, b1);
    const __m256i shuffled = _mm256_shuffle_epi8(means, avx2_const(kAvx2Tables.uv_shuffle));
    const __m256i sums =
        _mm256_add_epi16(_mm256_maddubs_epi16(means, avx2_const(kAvx2Tables.uv_near)),
                         _mm256_maddubs_epi16(shuffled, avx2_const(kAvx2Tables.uv_far)));
    return _mm256_add_epi16(sums, avx2_const(kAvx2Tables.uv_bias));
}

// The interleaved [U, V] of 16 blocks in order, from two avx2_chroma8 results.
VORLIX_AVX2_INLINE __m256i avx2_chroma16(__m256i a, __m256i b) {
    const __m256i uv = _mm256_or_si256(_mm256_shuffle_epi8(a, avx2_const(kAvx2Tables.uv_low)),
                                       _mm256_shuffle_epi8(b, avx2_const(kAvx2Tables.uv_high)));
    return _mm256_permutevar8x32_epi32(uv, avx2_const(kAvx2Tables.order));
}

// 8 pixels of a row pair's source: straight at full size; at half size each
// the rounded mean of a 2x2 block, from 16 pixels of two source rows.
template <bool Half>
VORLIX_AVX2_INLINE __m256i avx2_pixels(const std::uint8_t* const rows[2], std::size_t x) {
    if (!Half) return avx2_load(rows[0] + x * 4);
    const std::uint8_t* r0 = rows[0] + x * 8;
    const std::uint8_t* r1 = rows[1] + x * 8;
    return _mm256_permutevar8x32_epi32(
        avx2_block_means(avx2_load(r0), avx2_load(r0 + 32), avx2_load(r1), avx2_load(r1 + 32)),
        avx2_const(kAvx2Tables.pixel_order));
}

template <bool Half>
VORLIX_AVX2 void avx2_row_pair(const Job& job, std::uint32_t by, std::uint32_t first_block) {
    const std::uint32_t y = by * 2;
    const std::uint8_t* top[2];
    const std::uint8_t* bottom[2];
    source_rows(job, y, top);
    source_rows(job, y + 1, bottom);
    std::uint8_t* y0 = job.y_plane + static_cast<std::size_t>(y) * job.width;
    std::uint8_t* y1 = y0 + job.width;
    std::uint8_t* uv = job.uv_plane + static_cast<std::size_t>(by) * job.width;
    const std::uint32_t blocks = unclamped_blocks(job);
    std::uint32_t bx = first_block;
    for (; bx + 16 <= blocks; bx += 16) {
        const std::size_t x = std::size_t{bx} * 2;
        const __m256i t0 = avx2_pixels<Half>(top, x), t1 = avx2_pixels<Half>(top, x + 8);
        const __m256i t2 = avx2_pixels<Half>(top, x + 16), t3 = avx2_pixels<Half>(top, x + 24);
        const __m256i b0 = avx2_pixels<Half>(bottom, x), b1 = avx2_pixels<Half>(bottom, x + 8);
        const __m256i b2 = avx2_pixels<Half>(bottom, x + 16);
        const __m256i b3 = avx2_pixels<Half>(bottom, x + 24);
        avx2_store(y0 + x, avx2_luma32(t0, t1, t2, t3));
        avx2_store(y1 + x, avx2_luma32(b0, b1, b2, b3));
        avx2_store(uv + x, avx2_chroma16(avx2_chroma8(t0, t1, b0, b1), avx2_chroma8(t2, t3, b2, b3)));
    }
    if (bx + 8 <= blocks) {  // one step of 16 pixels
        const std::size_t x = std::size_t{bx} * 2;
        const __m256i t0 = avx2_pixels<Half>(top, x), t1 = avx2_pixels<Half>(top, x + 8);
        const __m256i b0 = avx2_pixels<Half>(bottom, x), b1 = avx2_pixels<Half>(bottom, x + 8);
        const __m256i yy = avx2_luma32(t0, t1, b0, b1);  // the upper row, then the lower one
        avx2_store16(y0 + x, _mm256_castsi256_si128(yy));
        avx2_store16(y1 + x, _mm256_extracti128_si256(yy, 1));
        const __m256i c = avx2_chroma8(t0, t1, b0, b1);
        avx2_store16(uv + x, _mm256_castsi256_si128(avx2_chroma16(c, c)));
        bx += 8;
    }
    convert_blocks_scalar(job, by, bx);
}

// Converts row pair `by` from block `first_block` on.
VORLIX_AVX2 void convert_rows_avx2(const Job& job, std::uint32_t by,
                                   std::uint32_t first_block) {
    if (job.half) {
        avx2_row_pair<true>(job, by, first_block);
    } else {
        avx2_row_pair<false>(job, by, first_block);
    }
}

// ---- AVX-512: 32 output pixels of two rows a step (full size) ---------------
//
// With VNNI the luma of a pixel is one instruction: vpdpbusd multiplies
// unsigned bytes by signed bytes and adds each group of four products into a
// 32-bit lane. The weights 16, 157, 47, 0 are the unsigned operand and the
// pixel with 0x80 flipped in every byte (each channel less 128) the signed
// one, so the lane gains 16B + 157G + 47R - 28,160. Starting from 28,160 +
// 128 + 16 * 256 it ends at 16B + 157G + 47R + 4,224 (4,224..60,324), whose
// second byte is Y. Byte permutes (VBMI) gather those bytes into rows.
//
// Chroma is summed with the channels widened to 16 bits ([B, R] and [G, A]
// pairs), the 16 blocks of a step in one register, and weighted by vpdpwssd
// onto 128 + 128 * 256, leaving each lane within 4,336..61,456 with U or V in
// its second byte.
//
// At half size the 2x2 averaging of the source comes first and dominates;
// those rows take the AVX2 code. As there, the helpers are forced inline so
// that every value stays in a register (MinGW cannot align the stack to 64
// bytes either).

#define VORLIX_AVX512 \
    __attribute__((target("avx512f,avx512bw,avx512vnni,avx512vbmi"), always_inline)) inline

// Byte permutes picking each lane's second byte: Y of 32 pixels from two
// registers of 16, and the interleaved [U, V] of 16 blocks.
struct Avx512Tables {
    alignas(64) std::uint8_t luma[64];
    alignas(64) std::uint8_t chroma[64];
};

constexpr Avx512Tables avx512_tables() {
    Avx512Tables t{};
    for (int j = 0; j < 32; ++j) {
        t.luma[j] = static_cast<std::uint8_t>((j < 16 ? 0 : 64) + (j % 16) * 4 + 1);
        t.chroma[j] = static_cast<std::uint8_t>((j % 2 ? 64 : 0) + (j / 2) * 4 + 1);
    }
    return t;
}

constexpr Avx512Tables kAvx512Tables = avx512_tables();

VORLIX_AVX512 __m512i avx512_luma(__m512i px) {
    const __m512i flip = _mm512_set1_epi32(static_cast<int>(0x80808080u));
    const __m512i weights = _mm512_set1_epi32(16 | (157 << 8) | (47 << 16));
    return _mm512_dpbusd_epi32(_mm512_set1_epi32(28160 + 128 + 16 * 256), weights,
                               _mm512_xor_si512(px, flip));
}

// [B, R] or [G, A] sums of the 16 2x2 blocks of a step, in order: `a` holds
// the vertical sums of columns 0-15, `b` those of columns 16-31.
VORLIX_AVX512 __m512i avx512_block_sums(__m512i a, __m512i b) {
    const __m512i even =
        _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    const __m512i odd = _mm512_add_epi32(even, _mm512_set1_epi32(1));
    return _mm512_add_epi32(_mm512_permutex2var_epi32(a, even, b),
                            _mm512_permutex2var_epi32(a, odd, b));
}

VORLIX_AVX512 __m512i avx512_mean4(__m512i sum) {
    return _mm512_srli_epi16(_mm512_add_epi16(sum, _mm512_set1_epi16(2)), 2);
}

// Stores the low 32 bytes of `v`.
VORLIX_AVX512 void avx512_store32(std::uint8_t* p, __m512i v) {
    _mm512_mask_storeu_epi64(p, 0x0F, v);
}

__attribute__((target("avx512f,avx512bw,avx512vnni,avx512vbmi"))) void convert_rows_avx512(
    const Job& job, std::uint32_t by) {
    if (job.half) {
        convert_rows_avx2(job, by, 0);
        return;
    }
    const std::uint32_t y = by * 2;
    const std::uint8_t* top[2];
    const std::uint8_t* bottom[2];
    source_rows(job, y, top);
    source_rows(job, y + 1, bottom);
    std::uint8_t* y0 = job.y_plane + static_cast<std::size_t>(y) * job.width;
    std::uint8_t* y1 = y0 + job.width;
    std::uint8_t* uv = job.uv_plane + static_cast<std::size_t>(by) * job.width;
    const std::uint32_t blocks = unclamped_blocks(job);
    const __m512i luma_order = _mm512_load_si512(kAvx512Tables.luma);
    const __m512i chroma_order = _mm512_load_si512(kAvx512Tables.chroma);
    const __m512i br_mask = _mm512_set1_epi32(0x00FF00FF);
    const __m512i bias = _mm512_set1_epi32(128 + 128 * 256);
    const __m512i u_br = _mm512_set1_epi32(static_cast<int>(0xFFE60070u));  // 112, -26
    const __m512i u_ga = _mm512_set1_epi32(static_cast<int>(0x0000FFAAu));  // -86, 0
    const __m512i v_br = _mm512_set1_epi32(static_cast<int>(0x0070FFF6u));  // -10, 112
    const __m512i v_ga = _mm512_set1_epi32(static_cast<int>(0x0000FF9Au));  // -102, 0
    std::uint32_t bx = 0;
    for (; bx + 16 <= blocks; bx += 16) {
        const std::size_t x = std::size_t{bx} * 2;
        const std::uint8_t* t = top[0] + x * 4;
        const std::uint8_t* b = bottom[0] + x * 4;
        const __m512i t0 = _mm512_loadu_si512(t), t1 = _mm512_loadu_si512(t + 64);
        const __m512i b0 = _mm512_loadu_si512(b), b1 = _mm512_loadu_si512(b + 64);
        const __m512i yt = _mm512_permutex2var_epi8(avx512_luma(t0), luma_order, avx512_luma(t1));
        const __m512i yb = _mm512_permutex2var_epi8(avx512_luma(b0), luma_order, avx512_luma(b1));
        avx512_store32(y0 + x, yt);
        avx512_store32(y1 + x, yb);
        const __m512i br = avx512_mean4(avx512_block_sums(
            _mm512_add_epi16(_mm512_and_si512(t0, br_mask), _mm512_and_si512(b0, br_mask)),
            _mm512_add_epi16(_mm512_and_si512(t1, br_mask), _mm512_and_si512(b1, br_mask))));
        const __m512i ga = avx512_mean4(avx512_block_sums(
            _mm512_add_epi16(_mm512_srli_epi16(t0, 8), _mm512_srli_epi16(b0, 8)),
            _mm512_add_epi16(_mm512_srli_epi16(t1, 8), _mm512_srli_epi16(b1, 8))));
        const __m512i u = _mm512_dpwssd_epi32(_mm512_dpwssd_epi32(bias, br, u_br), ga, u_ga);
        const __m512i v = _mm512_dpwssd_epi32(_mm512_dpwssd_epi32(bias, br, v_br), ga, v_ga);
        avx512_store32(uv + x, _mm512_permutex2var_epi8(u, chroma_order, v));
    }
    convert_rows_avx2(job, by, bx);
}

bool cpu_has_avx2() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
}

bool cpu_has_avx512() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512vnni") && __builtin_cpu_supports("avx512vbmi");
    }();
    return has;
}

#endif  // VORLIX_NV12_X86

}  // namespace

bool nv12_path_available(Nv12Path path) {
    switch (path) {
    case Nv12Path::scalar:
        return true;
#ifdef VORLIX_NV12_X86
    case Nv12Path::sse2:
        return true;
    case Nv12Path::avx2:
        return cpu_has_avx2();
    case Nv12Path::avx512:
        return cpu_has_avx2() && cpu_has_avx512();
#else
    case Nv12Path::sse2:
    case Nv12Path::avx2:
    case Nv12Path::avx512:
        return false;
#endif
    }
    return false;
}

Nv12Path nv12_best_path() {
    if (nv12_path_available(Nv12Path::avx512)) return Nv12Path::avx512;
    if (nv12_path_available(Nv12Path::avx2)) return Nv12Path::avx2;
    if (nv12_path_available(Nv12Path::sse2)) return Nv12Path::sse2;
    return Nv12Path::scalar;
}

const char* nv12_path_name(Nv12Path path) {
    switch (path) {
    case Nv12Path::scalar: return "scalar";
    case Nv12Path::sse2: return "sse2";
    case Nv12Path::avx2: return "avx2";
    case Nv12Path::avx512: return "avx512";
    }
    return "?";
}

bool convert_to_nv12_with(Nv12Path path, ByteView src, std::uint32_t src_width,
                          std::uint32_t src_height, bool half, std::uint32_t width,
                          std::uint32_t height, std::span<std::uint8_t> dst) {
    if (!nv12_path_available(path)) return false;
    if (width % 2 != 0 || height % 2 != 0) return false;
    if (width == 0 || height == 0) return true;
    if (src_width == 0 || src_height == 0) return false;
    if (src.size() / 4 / src_width < src_height) return false;
    const std::uint64_t luma_bytes = std::uint64_t{width} * height;
    if (dst.size() < luma_bytes + luma_bytes / 2) return false;

    const Job job{src.data(), src_width, src_height, half, width, height, dst.data(),
                  dst.data() + luma_bytes};
    const std::uint32_t pairs = height / 2;
    switch (path) {
#ifdef VORLIX_NV12_X86
    case Nv12Path::avx512:
        for (std::uint32_t by = 0; by < pairs; ++by) convert_rows_avx512(job, by);
        return true;
    case Nv12Path::avx2:
        for (std::uint32_t by = 0; by < pairs; ++by) convert_rows_avx2(job, by, 0);
        return true;
    case Nv12Path::sse2:
        for (std::uint32_t by = 0; by < pairs; ++by) convert_rows_sse2(job, by);
        return true;
#endif
    default:
        for (std::uint32_t by = 0; by < pairs; ++by) convert_blocks_scalar(job, by, 0);
        return true;
    }
}

bool convert_to_nv12(ByteView src, std::uint32_t src_width, std::uint32_t src_height, bool half,
                     std::uint32_t width, std::uint32_t height, std::span<std::uint8_t> dst) {
    static const Nv12Path best = nv12_best_path();
    return convert_to_nv12_with(best, src, src_width, src_height, half, width, height, dst);
}

}  // namespace vorlix
