#include "host/link_limits.h"

#include <algorithm>
#include <utility>

#include "net/ip_address.h"

namespace vorlix {

std::string link_source(const std::string& peer) {
    std::string text = !peer.empty() && peer.front() == '[' ? peer.substr(1, peer.find(']') - 1)
                                                            : peer.substr(0, peer.rfind(':'));
    std::optional<IpAddress> address = IpAddress::parse(text);
    if (!address || address->is_v4()) return text;
    const auto& b = address->bytes;
    // An IPv4 peer of an IPv6 socket (::ffff:a.b.c.d) is that IPv4 address.
    if (std::all_of(b.begin(), b.begin() + 10, [](std::uint8_t x) { return x == 0; }) && b[10] == 0xff &&
        b[11] == 0xff) {
        return IpAddress::v4(b[12], b[13], b[14], b[15]).to_text();
    }
    std::array<std::uint8_t, 16> prefix{};
    std::copy(b.begin(), b.begin() + 8, prefix.begin());
    return IpAddress::v6(prefix).to_text() + "/64";
}

UnsignedLinks::Links::iterator UnsignedLinks::room_for(const std::string& source, std::size_t source_cap,
                                                       const LinkLimits& limits, std::string& refusal) {
    const auto from_source = static_cast<std::size_t>(
        std::count_if(links_.begin(), links_.end(), [&](const auto& link) { return link.second.source == source; }));
    if (from_source >= source_cap) {
        refusal = std::to_string(source_cap) + " links from " + source + " are waiting to sign in";
        return std::find_if(links_.begin(), links_.end(), [&](const auto& link) {
            return link.second.source == source && link.second.may_make_room();
        });
    }
    if (links_.size() < limits.unsigned_links) return links_.end();
    refusal = std::to_string(limits.unsigned_links) + " links are waiting to sign in";
    // The source with the most links that may make room gives its oldest, so
    // that one busy source does not push out another's few links.
    std::map<std::string, std::size_t> movable;
    std::size_t most = 0;
    for (const auto& [session, entry] : links_) {
        if (entry.may_make_room()) most = std::max(most, ++movable[entry.source]);
    }
    return std::find_if(links_.begin(), links_.end(), [&](const auto& link) {
        return link.second.may_make_room() && movable[link.second.source] == most;
    });
}

std::optional<std::string> UnsignedLinks::refusals_due(const LinkLimits& limits) {
    const auto now = std::chrono::steady_clock::now();
    if (refused_ == 0 || (last_line_ && now - *last_line_ < limits.refusal_log_every)) return std::nullopt;
    last_line_ = now;
    return std::to_string(std::exchange(refused_, 0)) + " links refused: " + last_refusal_;
}

UnsignedLinks::Admission UnsignedLinks::admit(std::uint64_t session, const std::string& source,
                                              std::size_t source_cap, const LinkLimits& limits) {
    Admission result;
    std::function<void()> closer;
    {
        std::lock_guard lock(mutex_);
        std::string refusal;
        auto room = room_for(source, source_cap, limits, refusal);
        if (!refusal.empty() && room == links_.end()) {
            ++refused_;
            last_refusal_ = std::move(refusal);
            result.refusals = refusals_due(limits);
            return result;
        }
        if (room != links_.end()) {
            result.closed = room->first;
            result.closed_source = room->second.source;
            closer = std::move(room->second.close);
            links_.erase(room);
        }
        links_.emplace(session, Entry{source, nullptr, Mark::None, {}});
        result.admitted = true;
        // A flood's last refusals are told with the next link admitted.
        result.refusals = refusals_due(limits);
    }
    if (closer) closer();
    return result;
}

void UnsignedLinks::set_closer(std::uint64_t session, std::function<void()> close) {
    std::lock_guard lock(mutex_);
    if (auto found = links_.find(session); found != links_.end()) found->second.close = std::move(close);
}

void UnsignedLinks::mark_pairing(std::uint64_t session) {
    std::lock_guard lock(mutex_);
    if (auto found = links_.find(session); found != links_.end()) found->second.mark = Mark::Pairing;
}

void UnsignedLinks::mark_signing(std::uint64_t session, const std::string& key) {
    std::lock_guard lock(mutex_);
    auto found = links_.find(session);
    if (found == links_.end()) return;
    // A Hello copied off the network holds the key's mark only until the
    // device itself (or another copy) says Hello again.
    for (auto& [other, entry] : links_) {
        if (entry.mark == Mark::Signing && entry.key == key) entry.mark = Mark::None;
    }
    found->second.mark = Mark::Signing;
    found->second.key = key;
}

bool UnsignedLinks::release(std::uint64_t session) {
    std::lock_guard lock(mutex_);
    return links_.erase(session) != 0;
}

std::size_t UnsignedLinks::size() const {
    std::lock_guard lock(mutex_);
    return links_.size();
}

}  // namespace vorlix
