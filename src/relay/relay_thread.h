// One relay registration: a detached thread that keeps a connection open to
// one relay, signs the host in with a key and hands every announced link to
// a callback; it reconnects with a back-off until it is stopped.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "crypto/crypto.h"
#include "net/socket.h"
#include "relay/relay_lines.h"
#include "relay/relay_settings.h"
#include "util/result.h"

namespace vorlix {

// The times of a registration; tests shrink them.
struct RelayTimings {
    std::chrono::milliseconds connect{8000};
    std::chrono::milliseconds sign_in{10000};        // the read time-out before "ok"
    std::chrono::milliseconds signed_in_read{25000};  // the read time-out after it
    std::chrono::milliseconds silence_limit{70000};  // no line for longer ends it
    std::chrono::milliseconds first_delay{1000};
    std::chrono::milliseconds delay_cap{15000};  // the delay doubles the smaller of itself and this
    std::chrono::milliseconds stop_check{100};
};

// The state a registration shares with whoever started it.
struct RelayShared {
    std::atomic<bool> stop{false};
    std::atomic<bool> registered{false};
    std::mutex mutex;  // guards socket_slot and current_address
    std::optional<Socket> socket_slot;
    std::string current_address;
};

struct RelayHandle {
    std::string name;
    std::shared_ptr<RelayShared> shared;
};

// Called on the relay thread with the link token and the relay address; it
// must return quickly.
using IncomingLinkCallback = std::function<void(const std::string& token, const std::string& address)>;

// "relay" for "main", else "relay " and the name.
std::string relay_log_tag(const std::string& name);

RelayHandle spawn_relay_thread(const RelayEndpoint& endpoint, const Ed25519KeyPair& key, RelayMode mode,
                               IncomingLinkCallback callback, const RelayTimings& timings = {});

// Sets stop and shuts the open connection; does not wait for the thread.
void stop_relay_thread(const RelayHandle& handle);

// Resolves host:port and connects to its addresses in turn, each with the
// time-out; TCP_NODELAY and SO_KEEPALIVE on the connected socket.
Result<Socket> connect_with_timeout(const std::string& address, std::chrono::milliseconds timeout);

// Joins an announced link: the relay answers one line, then the socket is a
// plain byte pipe to the peer.
Result<Socket> join_relay_link(const std::string& address, const std::string& token,
                               std::chrono::milliseconds timeout = std::chrono::milliseconds(8000),
                               std::chrono::milliseconds answer_timeout = std::chrono::milliseconds(10000));

}  // namespace vorlix
