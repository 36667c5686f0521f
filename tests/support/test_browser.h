// A web browser's side of a watch link, for tests: it reads the watch
// address, runs the watch handshake over a link joined through a relay, and
// then opens and seals frames with the derived keys.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "support/device_peer.h"
#include "watch_links/watch_links.h"

namespace vorlix::test {

// The link secret and the web key in a watch address's token.
struct WatchAddress {
    Key32 secret{};
    Key32 web_key{};
    std::string relay_url;
};
std::optional<WatchAddress> read_watch_address(const std::string& url);

struct TestBrowser {
    DevicePeer peer;
    Key32 ephemeral = fresh_random32();
    std::optional<SealingKey> receive_key;
    std::optional<SealingKey> send_key;

    explicit TestBrowser(Socket socket);

    // Runs the handshake with the link secret (a wrong proof when asked);
    // the host's reason when it refused.
    std::optional<PairingError> open(const Key32& secret, bool right_proof = true);
    // The next opened frame before `until`.
    std::optional<Frame> next(std::chrono::steady_clock::time_point until);
    // Reads frames until a control text that contains `needle`, within the limit.
    bool receive_control(const std::string& needle, std::chrono::milliseconds limit = std::chrono::seconds(5));
    Status send(FrameType type, const Bytes& body);
};

}  // namespace vorlix::test
