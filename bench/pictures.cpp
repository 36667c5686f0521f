// The portable steps around picture coding: 24-bit rows for a screenshot
// (done once per full-size grab before PNG encoding) and the DIBV5 block and
// BMP file made for a clipboard picture.
#include "pictures/pictures.h"

#include <benchmark/benchmark.h>

namespace {

vorlix::Picture grey_picture(std::uint32_t width, std::uint32_t height) {
    return {width, height, vorlix::Bytes(std::size_t{width} * height * 4, 0x80)};
}

void screenshot_rows(benchmark::State& state) {
    const auto picture = grey_picture(static_cast<std::uint32_t>(state.range(0)), static_cast<std::uint32_t>(state.range(1)));
    for (auto _ : state) benchmark::DoNotOptimize(vorlix::bgra_to_bgr24(picture.width, picture.height, picture.pixels));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * picture.pixels.size()));
}
BENCHMARK(screenshot_rows)->Args({1920, 1080})->Args({3840, 2160});

void clipboard_dib_to_bmp(benchmark::State& state) {
    const auto block = vorlix::dibv5_from_picture(grey_picture(1920, 1080));
    for (auto _ : state) benchmark::DoNotOptimize(vorlix::bmp_from_dib(block));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * block.size()));
}
BENCHMARK(clipboard_dib_to_bmp);

}  // namespace
