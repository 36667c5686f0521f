#include "host/link_limits.h"

#include <algorithm>

namespace vorlix {

UnsignedLinks::Admission UnsignedLinks::admit(std::uint64_t session, const std::string& source,
                                              const LinkLimits& limits) {
    std::lock_guard lock(mutex_);
    if (links_.size() >= limits.unsigned_links) return Admission::TooMany;
    const auto from_source = static_cast<std::size_t>(
        std::count_if(links_.begin(), links_.end(), [&](const auto& link) { return link.second.source == source; }));
    if (from_source >= limits.unsigned_links_per_address) return Admission::TooManyFromAddress;
    links_.emplace(session, Entry{source, false, false, nullptr});
    return Admission::Admitted;
}

UnsignedLinks::RelayAdmission UnsignedLinks::admit_through_relay(std::uint64_t session, const std::string& relay,
                                                                 const LinkLimits& limits,
                                                                 std::function<void()> close) {
    RelayAdmission result;
    std::function<void()> closer;
    {
        std::lock_guard lock(mutex_);
        std::size_t from_relay = 0;
        auto oldest = links_.end();
        for (auto it = links_.begin(); it != links_.end(); ++it) {
            if (!it->second.relay || it->second.source != relay) continue;
            ++from_relay;
            if (oldest == links_.end() && !it->second.in_handshake) oldest = it;
        }
        const bool full = links_.size() >= limits.unsigned_links;
        if (full || from_relay >= limits.unsigned_links_per_relay) {
            if (oldest == links_.end()) {
                result.admission = full ? Admission::TooMany : Admission::TooManyFromAddress;
                return result;
            }
            result.closed = oldest->first;
            closer = std::move(oldest->second.close);
            links_.erase(oldest);
        }
        links_.emplace(session, Entry{relay, true, false, std::move(close)});
    }
    if (closer) closer();
    return result;
}

void UnsignedLinks::set_in_handshake(std::uint64_t session) {
    std::lock_guard lock(mutex_);
    if (auto found = links_.find(session); found != links_.end()) found->second.in_handshake = true;
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
