#include "host/neighbours.h"

#include "host/host_state.h"

namespace vorlix {

void ReachServices::update_relay_registration(HostState&) {}

std::uint64_t ReachServices::count_watch_links() { return 0; }

void ReachServices::end_watch_links(HostState& host, const std::string&) {
    // Without a relay there is no web registration, so nothing is logged;
    // browsers listed as watching through a link are still sent away.
    host.send_away_web_viewers();
}

std::optional<std::string> ReachServices::open_watch_link(HostState&) { return std::nullopt; }

bool ReachServices::holds_watch_link(std::uint64_t) { return false; }

void ReachServices::flush_link_log() {}

std::string TextServices::translate(std::string_view key) { return vorlix::translate(key); }

std::string TextServices::translate_with(std::string_view key,
                                         const std::vector<std::pair<std::string, std::string>>& values) {
    return vorlix::translate_with(key, values);
}

std::string TextServices::lookup_text(std::string_view key) { return vorlix::lookup_text(current_language(), key); }

}  // namespace vorlix
