// The control messages sent most often: the device's acknowledgement of each
// video frame and the host's pointer position, read and written; and the
// largest one, a file piece as a fileChunk message.
#include <benchmark/benchmark.h>

#include "control/messages.h"

namespace {

void BM_ParseReceived(benchmark::State& state) {
    const vorlix::Bytes body = vorlix::to_bytes(R"({"received":{"captureMicros":1234567890123}})");
    for (auto _ : state) {
        auto message = vorlix::parse_control_message(body);
        benchmark::DoNotOptimize(message);
    }
}
BENCHMARK(BM_ParseReceived);

void BM_EncodePointer(benchmark::State& state) {
    const vorlix::ControlMessage message = vorlix::control::Pointer{0.4375, 0.71875, std::int64_t{12}};
    for (auto _ : state) {
        std::string text = vorlix::encode_control_message(message);
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(BM_EncodePointer);

// A file piece for a device that does not take binary pieces.
void BM_EncodeFileChunk(benchmark::State& state) {
    const vorlix::ControlMessage message = vorlix::control::FileChunk{7, vorlix::Bytes(196'608, 0x5a)};
    for (auto _ : state) {
        std::string text = vorlix::encode_control_message(message);
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 196'608);
}
BENCHMARK(BM_EncodeFileChunk);

void BM_ParseMenuCommands(benchmark::State& state) {
    std::string text = R"({"menuCommands":{"_0":[)";
    for (int i = 0; i < 200; ++i) {
        if (i) text += ',';
        text += R"({"id":)" + std::to_string(i) + R"(,"title":"Entry )" + std::to_string(i) +
                R"(","menu":"Edit","shortcut":"Ctrl+E","enabled":true})";
    }
    text += "]}}";
    const vorlix::Bytes body = vorlix::to_bytes(text);
    for (auto _ : state) {
        auto message = vorlix::parse_control_message(body);
        benchmark::DoNotOptimize(message);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(body.size()));
}
BENCHMARK(BM_ParseMenuCommands);

}  // namespace
