// Feeds a browser's frames to the watch-link handshake: the first byte of
// each piece picks the frame type, two bytes its length. A registry holds one
// link whose id a Hello may name; the gate lets browsers in. Checks that a
// failure always ends the handshake and that nothing follows it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "watch_links/watch_handshake.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vorlix;
    auto registry = std::make_shared<WatchLinkRegistry>();
    Key32 secret{};
    secret.fill(7);
    (void)registry->add_watch_link(secret);
    Key32 web_key{}, ephemeral{};
    web_key.fill(1);
    ephemeral.fill(2);
    WatchHandshakeState state(web_key, "PC", "Model", registry, [] { return true; }, ephemeral);
    bool ended = false;
    std::size_t at = 0;
    while (at + 3 <= size) {
        const FrameType type = (data[at] & 1) ? FrameType::Hello : FrameType::Handshake;
        std::size_t length = (static_cast<std::size_t>(data[at + 1]) << 8) | data[at + 2];
        at += 3;
        if (length > size - at) length = size - at;
        HandshakeOutcome outcome = state.step(type, ByteView(data + at, length));
        at += length;
        if (ended && !std::holds_alternative<HandshakeFailed>(outcome)) std::abort();
        if (!std::holds_alternative<HandshakeContinue>(outcome)) ended = true;
    }
    return 0;
}
