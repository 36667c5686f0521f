// Drives a device handshake with arbitrary frames. The input is a list of
// frames, each a type byte, a 16-bit big-endian body length and the body.
// When the first input byte is odd, a well-formed device Hello (pair or
// sign-in, by bit 1) goes first, so that the later frames reach the commit,
// reveal and signature steps.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <variant>

#include "handshake/handshake.h"

namespace {

vorlix::Key32 fixed(std::uint8_t v) {
    vorlix::Key32 k;
    k.fill(v);
    return k;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vorlix;
    if (size == 0) return 0;
    static const Ed25519KeyPair host_identity = ed25519_from_seed(fixed(7));
    static const Ed25519KeyPair device_identity = ed25519_from_seed(fixed(9));

    std::uint8_t counter = 1;
    HandshakeState state(
        "Desk", "PC", host_identity, [](ByteView) { return true; }, [] { return std::string("123456"); },
        [&counter] { return fixed(counter++); });

    const std::uint8_t flags = data[0];
    ByteView rest(data + 1, size - 1);
    if (flags & 1) {
        Hello hello;
        hello.version = 1;
        hello.name = "Phone";
        hello.model = "P1";
        hello.id_key.assign(device_identity.public_key.begin(), device_identity.public_key.end());
        Key32 ephemeral = x25519_public_key(fixed(0x55));
        hello.ephemeral_key.assign(ephemeral.begin(), ephemeral.end());
        hello.mode = (flags & 2) ? HelloMode::Auth : HelloMode::Pair;
        HandshakeOutcome first = state.step(FrameType::Hello, write_hello(hello));
        if (!std::holds_alternative<HandshakeContinue>(first)) std::abort();
    }

    while (rest.size() >= 3) {
        auto type = static_cast<FrameType>(rest[0]);
        std::size_t length = (std::size_t{rest[1]} << 8) | rest[2];
        rest = rest.subspan(3);
        if (length > rest.size()) length = rest.size();
        int before = state.current_step();
        HandshakeOutcome outcome = state.step(type, rest.first(length));
        rest = rest.subspan(length);
        if (outcome_frames(outcome).empty()) std::abort();
        if (std::holds_alternative<HandshakeFailed>(outcome)) {
            if (state.current_step() != before) std::abort();  // a failure leaves the state as it was
            break;
        }
        if (std::holds_alternative<HandshakeDone>(outcome)) break;
    }
    return 0;
}
