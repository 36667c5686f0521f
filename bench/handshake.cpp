// The host's CPU time for one whole handshake: pairing with the code and a
// sign-in with a stored key. The device's half runs in the same process, its
// steps outside the timed part, and the messages pass as byte strings.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <variant>

#include "handshake/handshake.h"
#include "support/device_peer.h"

namespace vorlix {
namespace {

const Ed25519KeyPair& host_identity() {
    static const Ed25519KeyPair keys = ed25519_from_seed(Key32{0x42});
    return keys;
}

const DeviceIdentity& device_identity() {
    static const DeviceIdentity device = DeviceIdentity::make("Bench Phone");
    return device;
}

// The single frame's body of a host answer; stops the run on anything else.
Bytes answer(const HandshakeOutcome& outcome) {
    const auto& frames = outcome_frames(outcome);
    if (frames.size() != 1 || std::holds_alternative<HandshakeFailed>(outcome)) std::abort();
    return frames.front().body;
}

void check(const Status& status) {
    if (!status) std::abort();
}

void BM_PairingHandshake(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        DeviceHandshake device(device_identity());
        Bytes hello = device.hello(HelloMode::Pair);
        state.ResumeTiming();
        HandshakeState host("Bench PC", "PC", host_identity(), nullptr, [] { return std::string("123456"); });
        Bytes host_hello = answer(host.step(FrameType::Hello, hello));
        state.PauseTiming();
        check(device.receive_host_hello(host_hello));
        Bytes commit = device.commit("123456");
        state.ResumeTiming();
        Bytes host_commit = answer(host.step(FrameType::Handshake, commit));
        state.PauseTiming();
        check(device.receive_host_commit(host_commit));
        Bytes reveal = device.reveal();
        state.ResumeTiming();
        HandshakeOutcome done = host.step(FrameType::Handshake, reveal);
        state.PauseTiming();
        check(device.receive_host_reveal(answer(done)));
        state.ResumeTiming();
    }
}
BENCHMARK(BM_PairingHandshake)->Unit(benchmark::kMicrosecond);

void BM_SignInHandshake(benchmark::State& state) {
    const Bytes device_key(device_identity().keys.public_key.begin(), device_identity().keys.public_key.end());
    for (auto _ : state) {
        state.PauseTiming();
        DeviceHandshake device(device_identity());
        Bytes hello = device.hello(HelloMode::Auth);
        state.ResumeTiming();
        HandshakeState host("Bench PC", "PC", host_identity(),
                            [&](ByteView key) { return Bytes(key.begin(), key.end()) == device_key; },
                            [] { return std::nullopt; });
        Bytes host_hello = answer(host.step(FrameType::Hello, hello));
        state.PauseTiming();
        check(device.receive_host_hello(host_hello));
        Bytes signature = device.signature();
        state.ResumeTiming();
        HandshakeOutcome done = host.step(FrameType::Handshake, signature);
        state.PauseTiming();
        check(device.receive_host_signature(answer(done)));
        state.ResumeTiming();
    }
}
BENCHMARK(BM_SignInHandshake)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vorlix
