// BGRA to NV12 conversion: our paths against libyuv's ARGBToNV12 on the same
// pictures (libyuv is linked into this benchmark only).
#include "convert/nv12.h"

#include <benchmark/benchmark.h>
#include <libyuv/convert_from_argb.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

std::vector<std::uint8_t> random_picture(int width, int height) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
    std::mt19937 gen(1234);
    for (auto& b : pixels) b = static_cast<std::uint8_t>(gen());
    return pixels;
}

void ours(benchmark::State& state, vorlix::Nv12Path path, bool half) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    if (!vorlix::nv12_path_available(path)) {
        state.SkipWithError("path not available on this processor");
        return;
    }
    const auto src = random_picture(width, height);
    const std::uint32_t w = half ? (width / 2) & ~1u : width;
    const std::uint32_t h = half ? (height / 2) & ~1u : height;
    std::vector<std::uint8_t> dst(std::size_t{w} * h * 3 / 2);
    for (auto _ : state) {
        vorlix::convert_to_nv12_with(path, src, width, height, half, w, h, dst);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * src.size());
}

void libyuv_argb_to_nv12(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const auto src = random_picture(width, height);
    std::vector<std::uint8_t> dst(static_cast<std::size_t>(width) * height * 3 / 2);
    std::uint8_t* y = dst.data();
    std::uint8_t* uv = y + static_cast<std::size_t>(width) * height;
    for (auto _ : state) {
        libyuv::ARGBToNV12(src.data(), width * 4, y, width, uv, width, width, height);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * src.size());
}

void sizes(benchmark::internal::Benchmark* b) {
    b->Args({1920, 1080})->Args({2560, 1440})->Unit(benchmark::kMicrosecond);
}

}  // namespace

BENCHMARK(libyuv_argb_to_nv12)->Apply(sizes);
BENCHMARK_CAPTURE(ours, full_best, vorlix::nv12_best_path(), false)->Apply(sizes);
BENCHMARK_CAPTURE(ours, full_avx512, vorlix::Nv12Path::avx512, false)->Apply(sizes);
BENCHMARK_CAPTURE(ours, full_avx2, vorlix::Nv12Path::avx2, false)->Apply(sizes);
BENCHMARK_CAPTURE(ours, full_sse2, vorlix::Nv12Path::sse2, false)->Apply(sizes);
BENCHMARK_CAPTURE(ours, full_scalar, vorlix::Nv12Path::scalar, false)->Apply(sizes);
BENCHMARK_CAPTURE(ours, half_best, vorlix::nv12_best_path(), true)->Apply(sizes);
BENCHMARK_CAPTURE(ours, half_scalar, vorlix::Nv12Path::scalar, true)->Apply(sizes);
