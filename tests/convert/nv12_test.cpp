#include "convert/nv12.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace vorlix {
namespace {

std::vector<Nv12Path> available_paths() {
    std::vector<Nv12Path> paths;
    for (Nv12Path p : {Nv12Path::scalar, Nv12Path::sse2, Nv12Path::avx2, Nv12Path::avx512}) {
        if (nv12_path_available(p)) paths.push_back(p);
    }
    return paths;
}

Bytes solid(std::uint32_t w, std::uint32_t h, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    Bytes px(std::size_t{w} * h * 4);
    for (std::size_t i = 0; i < px.size(); i += 4) {
        px[i] = b, px[i + 1] = g, px[i + 2] = r, px[i + 3] = 0x5A;
    }
    return px;
}

Bytes random_picture(std::uint32_t w, std::uint32_t h, std::mt19937& gen) {
    Bytes px(std::size_t{w} * h * 4);
    for (auto& b : px) b = static_cast<std::uint8_t>(gen());
    return px;
}

Bytes convert(Nv12Path path, const Bytes& src, std::uint32_t sw, std::uint32_t sh, bool half,
              std::uint32_t w, std::uint32_t h) {
    Bytes dst(std::size_t{w} * h * 3 / 2, 0xEE);
    EXPECT_TRUE(convert_to_nv12_with(path, src, sw, sh, half, w, h, dst));
    return dst;
}

struct Expected {
    std::uint8_t y, u, v;
};

void expect_uniform(const Bytes& nv12, std::uint32_t w, std::uint32_t h, Expected e,
                    const char* what) {
    const std::size_t luma = std::size_t{w} * h;
    for (std::size_t i = 0; i < luma; ++i) ASSERT_EQ(nv12[i], e.y) << what << " Y at " << i;
    for (std::size_t i = luma; i < nv12.size(); i += 2) {
        ASSERT_EQ(nv12[i], e.u) << what << " U at " << i;
        ASSERT_EQ(nv12[i + 1], e.v) << what << " V at " << i;
    }
}

TEST(Nv12, PrimaryColoursOnEveryPathAndSize) {
    struct Case {
        const char* name;
        std::uint8_t b, g, r;
        Expected e;
    } cases[] = {
        {"white", 255, 255, 255, {235, 128, 128}},
        {"black", 0, 0, 0, {16, 128, 128}},
        {"red", 0, 0, 255, {63, 102, 240}},
        {"blue", 255, 0, 0, {32, 240, 118}},
        // The most negative weighted chroma sums (-28,560), at the edge of the
        // 16-bit lanes.
        {"yellow", 0, 255, 255, {219, 16, 138}},
        {"cyan", 255, 255, 0, {188, 154, 16}},
    };
    for (Nv12Path path : available_paths()) {
        SCOPED_TRACE(nv12_path_name(path));
        for (const Case& c : cases) {
            // 40 x 6 fills vector steps and leaves a scalar tail.
            const Bytes full = solid(40, 6, c.b, c.g, c.r);
            expect_uniform(convert(path, full, 40, 6, false, 40, 6), 40, 6, c.e, c.name);
            const Bytes big = solid(80, 12, c.b, c.g, c.r);
            expect_uniform(convert(path, big, 80, 12, true, 40, 6), 40, 6, c.e, c.name);
        }
    }
}

TEST(Nv12, HalfSizeRoundsEachPixelBeforeTheChromaMean) {
    // A 4 x 4 source whose only non-zero channel is blue. The four output
    // pixels average blue sums of 6, 6, 2 and 2: 2, 2, 1, 1 after rounding,
    // whose mean is 2; one mean over all 16 source pixels would give 1.
    Bytes src = solid(4, 4, 0, 0, 0);
    auto set_blue = [&](int x, int y, std::uint8_t b) { src[(y * 4 + x) * 4] = b; };
    set_blue(0, 0, 2), set_blue(1, 0, 2), set_blue(0, 1, 2);  // sum 6
    set_blue(2, 0, 3), set_blue(3, 0, 3);                     // sum 6
    set_blue(0, 2, 1), set_blue(1, 2, 1);                     // sum 2
    set_blue(2, 2, 2);                                        // sum 2
    for (Nv12Path path : available_paths()) {
        const Bytes out = convert(path, src, 4, 4, true, 2, 2);
        EXPECT_EQ(out[4], 129) << nv12_path_name(path);  // U with a blue mean of 2
        EXPECT_EQ(out[5], 128) << nv12_path_name(path);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(out[i], 16);
    }
}

TEST(Nv12, FastPathsEqualTheReferenceOnRandomPictures) {
    std::mt19937 gen(42);
    struct Size {
        std::uint32_t sw, sh, w, h;
        bool half;
    } sizes[] = {
        {64, 8, 64, 8, false},     {67, 9, 66, 8, false},    {129, 5, 128, 4, false},
        {33, 7, 48, 10, false},    {1, 1, 18, 4, false},     {100, 3, 34, 2, false},
        {64, 16, 32, 8, true},     {131, 9, 64, 4, true},    {67, 13, 34, 6, true},
        {5, 5, 4, 4, true},        {97, 33, 64, 20, true},   {258, 6, 128, 2, true},
        {2, 2, 40, 6, true},       {300, 50, 150, 24, true}, {301, 51, 300, 50, false},
        {83, 6, 82, 6, false},  // 32-pixel steps, then a 16-pixel one, then a scalar tail
    };
    for (const Size& s : sizes) {
        SCOPED_TRACE(testing::Message() << s.sw << "x" << s.sh << " -> " << s.w << "x" << s.h
                                        << (s.half ? " half" : " full"));
        const Bytes src = random_picture(s.sw, s.sh, gen);
        const Bytes reference = convert(Nv12Path::scalar, src, s.sw, s.sh, s.half, s.w, s.h);
        for (Nv12Path path : available_paths()) {
            EXPECT_EQ(convert(path, src, s.sw, s.sh, s.half, s.w, s.h), reference)
                << nv12_path_name(path);
        }
        Bytes best(reference.size());
        ASSERT_TRUE(convert_to_nv12(src, s.sw, s.sh, s.half, s.w, s.h, best));
        EXPECT_EQ(best, reference);
    }
}

TEST(Nv12, EdgesRepeatTheLastSourceRowAndColumn) {
    std::mt19937 gen(7);
    // Full size: a 3 x 3 source shown at 6 x 6 equals the 6 x 6 source made by
    // repeating its last column and row.
    const Bytes small = random_picture(3, 3, gen);
    Bytes grown(6 * 6 * 4);
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 6; ++x) {
            const int sx = std::min(x, 2), sy = std::min(y, 2);
            std::copy_n(&small[(sy * 3 + sx) * 4], 4, &grown[(y * 6 + x) * 4]);
        }
    }
    // Half size: a source of odd width 37 repeats its last column in the last
    // block, as a source of width 38 with a copied last column would.
    const Bytes odd = random_picture(37, 9, gen);
    Bytes even(38 * 9 * 4);
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 38; ++x) {
            std::copy_n(&odd[(y * 37 + std::min(x, 36)) * 4], 4, &even[(y * 38 + x) * 4]);
        }
    }
    for (Nv12Path path : available_paths()) {
        SCOPED_TRACE(nv12_path_name(path));
        EXPECT_EQ(convert(path, small, 3, 3, false, 6, 6), convert(path, grown, 6, 6, false, 6, 6));
        EXPECT_EQ(convert(path, odd, 37, 9, true, 20, 6), convert(path, even, 38, 9, true, 20, 6));
    }
}

TEST(Nv12, RefusesUnusableSizesWithoutWriting) {
    const Bytes src = solid(8, 8, 1, 2, 3);
    Bytes dst(8 * 8 * 3 / 2, 0xEE);
    const Bytes untouched = dst;
    EXPECT_FALSE(convert_to_nv12(src, 8, 8, false, 7, 8, dst));           // odd width
    EXPECT_FALSE(convert_to_nv12(src, 8, 8, false, 8, 7, dst));           // odd height
    EXPECT_FALSE(convert_to_nv12(src, 8, 8, false, 10, 8, dst));          // destination too small
    EXPECT_FALSE(convert_to_nv12(src, 8, 9, false, 8, 8, dst));           // source too small
    EXPECT_FALSE(convert_to_nv12(src, 0, 8, false, 8, 8, dst));           // empty source
    EXPECT_FALSE(convert_to_nv12(src, 0x40000000, 0x40000000, false, 8, 8, dst));
    EXPECT_TRUE(convert_to_nv12(src, 8, 8, false, 0, 8, dst));            // nothing to do
    EXPECT_EQ(dst, untouched);
    EXPECT_TRUE(convert_to_nv12(src, 8, 8, false, 8, 8, dst));
    EXPECT_NE(dst, untouched);
}

}  // namespace
}  // namespace vorlix
