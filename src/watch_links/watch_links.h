// The watch links the device in control asked for: each waits at most 30
// minutes for a browser, is named by an id derived from its secret and is
// removed at its third failed proof. Also the link token of the watch address.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "crypto/crypto.h"
#include "util/bytes.h"

namespace vorlix {

inline constexpr std::chrono::seconds kWatchLinkWait{1800};
inline constexpr std::size_t kMaxWaitingWatchLinks = 20;
inline constexpr std::uint32_t kWatchLinkFailureLimit = 3;

using WatchLinkId = std::array<std::uint8_t, 16>;

// The registry's clock; tests give it a fake one.
class MonotonicClock {
public:
    virtual ~MonotonicClock() = default;
    virtual std::chrono::steady_clock::time_point now() const { return std::chrono::steady_clock::now(); }
};

struct WatchLink {
    WatchLinkId id{};
    Key32 secret{};
    std::optional<std::chrono::steady_clock::time_point> deadline;  // while waiting to be opened
    std::uint64_t seq = 0;
    std::uint32_t failures = 0;
};

// The first 16 bytes of SHA-256 over "vorlix/1 watch-link id" and the secret.
WatchLinkId watch_link_id(const Key32& secret);

// URL-safe Base64 without padding of 0x01, the secret, the public key and the URL.
std::string encode_watch_link_token(const Key32& secret, const Key32& public_key, const std::string& watch_relay_url);

class WatchLinkRegistry {
public:
    explicit WatchLinkRegistry(std::shared_ptr<const MonotonicClock> clock = std::make_shared<MonotonicClock>())
        : clock_(std::move(clock)) {}
    ~WatchLinkRegistry();

    // The secret back, or nothing when 20 links already wait.
    std::optional<Key32> add_watch_link(const Key32& secret);
    std::optional<Key32> new_watch_link();
    // The links still waiting to be opened.
    std::uint64_t count_watch_links();
    std::optional<Key32> find_watch_link(ByteView id);
    // Gives the link its next secret and id and ends its wait; its seq.
    std::optional<std::uint64_t> redeem_watch_link(ByteView id, const Key32& next_secret);
    void note_failed_watch_attempt(ByteView id);
    // Whether the link with this creation number is still here.
    bool holds(std::uint64_t seq);
    void clear_watch_links();

private:
    void drop_expired(std::chrono::steady_clock::time_point now);
    std::vector<WatchLink>::iterator find(ByteView id);

    std::shared_ptr<const MonotonicClock> clock_;
    std::mutex mutex_;
    std::vector<WatchLink> links_;
    std::uint64_t next_seq_ = 0;
};

}  // namespace vorlix
