// The host's relay services: the session registration at every relay while
// relay use is allowed and a device is trusted, the links the relays
// announce (joined and run as ordinary sessions), and the watch links with
// their web registration and browser links.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/link_limits.h"
#include "host/log.h"
#include "host/neighbours.h"
#include "relay/relay_settings.h"
#include "relay/relay_thread.h"
#include "watch_links/watch_links.h"

namespace vorlix {

// Links joined through a relay (devices' and browsers' alike) that may be
// joining or running at once; more announced tokens are dropped.
inline constexpr int kMaxRelayLinks = 64;

class RelayReach final : public ReachServices, public std::enable_shared_from_this<RelayReach> {
public:
    explicit RelayReach(RelaySettings settings = relay_defaults(), RelayTimings timings = {},
                        std::shared_ptr<WatchLinkRegistry> registry = std::make_shared<WatchLinkRegistry>());
    ~RelayReach() override;

    void update_relay_registration(HostState& host) override;
    std::uint64_t count_watch_links() override;
    void end_watch_links(HostState& host, const std::string& reason) override;
    std::optional<std::string> open_watch_link(HostState& host) override;
    bool holds_watch_link(std::uint64_t seq) override;
    void flush_link_log() override;

    // For tests: whether registrations run, and the links joining or running.
    bool registered_for_sessions();
    bool web_registration_running();
    int relay_links() const { return links_->load(); }
    std::shared_ptr<WatchLinkRegistry> registry() const { return registry_; }

private:
    void take_session_link(const std::weak_ptr<HostState>& host, const std::string& tag, const std::string& token,
                           const std::string& address);
    void take_browser_link(const std::weak_ptr<HostState>& host, const std::string& token, const std::string& address);
    bool reserve_link(const std::string& tag, std::chrono::milliseconds log_every);

    RelayTimings timings_;
    std::mutex settings_mutex_;
    RelaySettings settings_;
    std::mutex registrations_mutex_;
    std::vector<RelayHandle> registrations_;
    const std::shared_ptr<WatchLinkRegistry> registry_;
    std::mutex web_mutex_;
    std::optional<Ed25519KeyPair> web_key_;
    std::optional<RelayHandle> web_handle_;
    std::shared_ptr<std::atomic<int>> links_ = std::make_shared<std::atomic<int>>(0);
    // The lines of links that never sign in: dropped links and refused
    // joins, counted in a flood. Let go with these services.
    const std::shared_ptr<LinkLog> link_log_ = std::make_shared<LinkLog>(log_line);
};

}  // namespace vorlix
