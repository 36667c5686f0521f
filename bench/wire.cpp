// Throughput of the wire layer: sealing and opening frames of several body
// sizes, and cutting a receive buffer full of small frames.
#include <benchmark/benchmark.h>

#include "crypto/crypto.h"
#include "wire/frame.h"
#include "wire/sealed.h"

namespace vorlix {
namespace {

Key32 bench_key() {
    Key32 key;
    for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(i * 13 + 1);
    return key;
}

Bytes bench_body(std::size_t size) {
    Bytes body(size);
    for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<std::uint8_t>(i * 31);
    return body;
}

void BM_SealFrame(benchmark::State& state) {
    const Bytes body = bench_body(static_cast<std::size_t>(state.range(0)));
    SealingKey key(bench_key());
    for (auto _ : state) {
        Bytes frame = seal_frame(key, FrameType::Video, body);
        benchmark::DoNotOptimize(frame.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_SealFrame)->Arg(64)->Arg(1024)->Arg(64 * 1024);

void BM_OpenFrame(benchmark::State& state) {
    const Bytes body = bench_body(static_cast<std::size_t>(state.range(0)));
    // Every frame opens under the counter it was sealed with, so seal a batch
    // ahead and open it in order, resealing outside the timing.
    constexpr std::size_t kBatch = 64;
    SealingKey send(bench_key());
    SealingKey receive(bench_key());
    std::vector<Bytes> frames(kBatch);
    std::size_t next = kBatch;
    for (auto _ : state) {
        if (next == kBatch) {
            state.PauseTiming();
            for (auto& f : frames) f = seal_frame(send, FrameType::Video, body);
            next = 0;
            state.ResumeTiming();
        }
        auto opened = open_frame(receive, ByteView(frames[next++]).subspan(kFrameHeaderSize));
        if (!opened) state.SkipWithError("a sealed frame did not open");
        benchmark::DoNotOptimize(opened->body.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_OpenFrame)->Arg(64)->Arg(1024)->Arg(64 * 1024);

// The same sealing with a cipher prepared for every message, for comparison
// with the per-key cipher that SealingKey keeps.
void BM_SealOneShotCipher(benchmark::State& state) {
    const std::size_t size = static_cast<std::size_t>(state.range(0));
    Bytes data = bench_body(size + 1);
    const Key32 key = bench_key();
    std::uint8_t tag[kAeadTagSize];
    std::uint64_t counter = 0;
    for (auto _ : state) {
        chacha20_poly1305_seal_in_place(key, sealing_nonce(counter++), {}, data.data(), data.size(), tag);
        benchmark::DoNotOptimize(tag);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_SealOneShotCipher)->Arg(64)->Arg(1024)->Arg(64 * 1024);

void BM_CutFrames(benchmark::State& state) {
    // Small input and control frames back to back, as a busy link delivers them.
    Bytes buffer;
    std::size_t count = 0;
    while (buffer.size() < 256 * 1024) {
        append(buffer, encode_plain_frame(count % 3 ? FrameType::Input : FrameType::Control,
                                          bench_body(9 + count % 40)));
        ++count;
    }
    for (auto _ : state) {
        std::size_t offset = 0, frames = 0;
        while (offset < buffer.size()) {
            CutResult result = cut_frame(ByteView(buffer).subspan(offset));
            auto* cut = std::get_if<CutFrame>(&result);
            if (!cut) {
                state.SkipWithError("buffer did not cut cleanly");
                break;
            }
            offset += cut->consumed;
            ++frames;
        }
        benchmark::DoNotOptimize(frames);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * count));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * buffer.size()));
}
BENCHMARK(BM_CutFrames);

}  // namespace
}  // namespace vorlix
