#include "watch_links/watch_links.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "crypto/random.h"
#include "json/base64.h"

namespace vorlix {

namespace {

void wipe_links(std::vector<WatchLink>& links) {
    for (WatchLink& link : links) wipe_key32(link.secret);
    links.clear();
}

}  // namespace

WatchLinkId watch_link_id(const Key32& secret) {
    constexpr std::string_view kLabel = "vorlix/1 watch-link id";
    Bytes message(kLabel.begin(), kLabel.end());
    message.insert(message.end(), secret.begin(), secret.end());
    Digest32 digest = sha256(message);
    wipe_bytes(message.data(), message.size());
    WatchLinkId id;
    std::copy_n(digest.begin(), id.size(), id.begin());
    return id;
}

std::string encode_watch_link_token(const Key32& secret, const Key32& public_key, const std::string& watch_relay_url) {
    Bytes bytes{0x01};
    bytes.insert(bytes.end(), secret.begin(), secret.end());
    bytes.insert(bytes.end(), public_key.begin(), public_key.end());
    bytes.insert(bytes.end(), watch_relay_url.begin(), watch_relay_url.end());
    std::string token = base64url_encode(bytes);
    wipe_bytes(bytes.data(), bytes.size());
    return token;
}

WatchLinkRegistry::~WatchLinkRegistry() { wipe_links(links_); }

void WatchLinkRegistry::drop_expired(std::chrono::steady_clock::time_point now) {
    auto expired = [&](const WatchLink& link) { return link.deadline && *link.deadline <= now; };
    for (WatchLink& link : links_) {
        if (expired(link)) wipe_key32(link.secret);
    }
    links_.erase(std::remove_if(links_.begin(), links_.end(), expired), links_.end());
}

std::vector<WatchLink>::iterator WatchLinkRegistry::find(ByteView id) {
    return std::find_if(links_.begin(), links_.end(), [&](const WatchLink& link) {
        return id.size() == link.id.size() && std::memcmp(id.data(), link.id.data(), id.size()) == 0;
    });
}

std::optional<Key32> WatchLinkRegistry::add_watch_link(const Key32& secret) {
    const auto now = clock_->now();
    std::lock_guard<std::mutex> lock(mutex_);
    drop_expired(now);
    auto waiting = std::count_if(links_.begin(), links_.end(), [](const WatchLink& l) { return l.deadline.has_value(); });
    if (static_cast<std::size_t>(waiting) >= kMaxWaitingWatchLinks) return std::nullopt;
    links_.push_back(WatchLink{watch_link_id(secret), secret, now + kWatchLinkWait, next_seq_++, 0});
    return secret;
}

std::optional<Key32> WatchLinkRegistry::new_watch_link() {
    Key32 secret = fresh_random32();
    std::optional<Key32> added = add_watch_link(secret);
    wipe_key32(secret);
    return added;
}

std::uint64_t WatchLinkRegistry::count_watch_links() {
    const auto now = clock_->now();
    std::lock_guard<std::mutex> lock(mutex_);
    drop_expired(now);
    return static_cast<std::uint64_t>(
        std::count_if(links_.begin(), links_.end(), [](const WatchLink& l) { return l.deadline.has_value(); }));
}

std::optional<Key32> WatchLinkRegistry::find_watch_link(ByteView id) {
    const auto now = clock_->now();
    std::lock_guard<std::mutex> lock(mutex_);
    drop_expired(now);
    auto it = find(id);
    if (it == links_.end()) return std::nullopt;
    return it->secret;
}

std::optional<std::uint64_t> WatchLinkRegistry::redeem_watch_link(ByteView id, const Key32& next_secret) {
    const auto now = clock_->now();
    std::lock_guard<std::mutex> lock(mutex_);
    drop_expired(now);
    auto it = find(id);
    if (it == links_.end()) return std::nullopt;
    wipe_key32(it->secret);
    it->id = watch_link_id(next_secret);
    it->secret = next_secret;
    it->deadline.reset();
    it->failures = 0;
    return it->seq;
}

void WatchLinkRegistry::note_failed_watch_attempt(ByteView id) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = find(id);
    if (it == links_.end()) return;
    if (++it->failures >= kWatchLinkFailureLimit) {
        wipe_key32(it->secret);
        links_.erase(it);
    }
}

bool WatchLinkRegistry::holds(std::uint64_t seq) {
    const auto now = clock_->now();
    std::lock_guard<std::mutex> lock(mutex_);
    drop_expired(now);
    return std::any_of(links_.begin(), links_.end(), [&](const WatchLink& link) { return link.seq == seq; });
}

void WatchLinkRegistry::clear_watch_links() {
    std::lock_guard<std::mutex> lock(mutex_);
    wipe_links(links_);
}

}  // namespace vorlix
