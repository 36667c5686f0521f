#include "host/link_limits.h"

#include <algorithm>

namespace vorlix {

UnsignedLinks::Admission UnsignedLinks::admit(std::uint64_t session, const std::string& source,
                                              const LinkLimits& limits) {
    std::lock_guard lock(mutex_);
    if (links_.size() >= limits.unsigned_links) return Admission::TooMany;
    const auto from_source = static_cast<std::size_t>(
        std::count_if(links_.begin(), links_.end(), [&](const auto& link) { return link.second == source; }));
    if (from_source >= limits.unsigned_links_per_address) return Admission::TooManyFromAddress;
    links_.emplace(session, source);
    return Admission::Admitted;
}

void UnsignedLinks::release(std::uint64_t session) {
    std::lock_guard lock(mutex_);
    links_.erase(session);
}

std::size_t UnsignedLinks::size() const {
    std::lock_guard lock(mutex_);
    return links_.size();
}

}  // namespace vorlix
