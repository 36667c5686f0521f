// The handshake of a browser that opened a watch link: it proves that it
// knows the link secret, both ends derive the session keys from an X25519
// agreement, the link secret and the transcript, and the link gets its next
// secret. The session reader drives it like the device handshake.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "handshake/handshake.h"
#include "watch_links/watch_links.h"

namespace vorlix {

// The four keys of a watch session, in the order of their labels.
struct WatchKeys {
    Key32 device_to_mac{};
    Key32 mac_to_device{};
    Key32 proof{};
    Key32 next{};
    ~WatchKeys();
};

// HKDF-SHA256: salt the transcript, input the shared secret and the link
// secret, info "vorlix/1 watch-link " and the label.
WatchKeys derive_watch_keys(const Key32& shared, const Key32& link_secret, const Digest32& transcript);

// HMAC-SHA256 under the key over the label's bytes and the data.
Digest32 watch_hmac(const Key32& key, std::string_view label, ByteView data);

// The browser's name as shown: UTF-8 with bad sequences replaced, trimmed of
// Unicode white space, cut to 40 characters; "Web browser" when empty.
std::string viewer_display_name(ByteView bytes);

// True while a device session is current.
using WatchGate = std::function<bool()>;

class WatchHandshakeState final : public LinkHandshake {
public:
    WatchHandshakeState(const Key32& web_key, std::string host_name, std::string host_model,
                        std::shared_ptr<WatchLinkRegistry> registry, WatchGate gate,
                        const Key32& ephemeral_secret = fresh_random32());
    ~WatchHandshakeState() override;

    HandshakeOutcome step(FrameType type, ByteView body) override;
    std::optional<PeerRole> peer_role() const override;
    std::pair<LinkKind, std::uint64_t> link_kind() const override;

private:
    HandshakeOutcome hello(FrameType type, ByteView body);
    HandshakeOutcome proof(FrameType type, ByteView body);
    HandshakeOutcome fail(PairingError error);

    Key32 web_key_;
    std::string host_name_, host_model_;
    std::shared_ptr<WatchLinkRegistry> registry_;
    WatchGate gate_;
    Key32 ephemeral_secret_;
    std::optional<Hello> viewer_hello_;
    Bytes link_id_;
    Digest32 transcript_{};
    std::optional<WatchKeys> keys_;
    std::uint8_t step_ = 0;
    std::optional<std::uint64_t> opened_link_;
};

}  // namespace vorlix
