#include "relay/relay_reach.h"

#include <system_error>
#include <thread>

#include "host/host_state.h"
#include "host/link_writer.h"
#include "host/listener.h"
#include "host/log.h"
#include "host/session.h"
#include "util/thread_name.h"
#include "watch_links/watch_handshake.h"

namespace vorlix {

namespace {

// Holds one place among the relay links until released.
class LinkPlace {
public:
    explicit LinkPlace(std::shared_ptr<std::atomic<int>> count) : count_(std::move(count)) {}
    ~LinkPlace() { count_->fetch_sub(1); }
    LinkPlace(const LinkPlace&) = delete;
    LinkPlace& operator=(const LinkPlace&) = delete;

private:
    std::shared_ptr<std::atomic<int>> count_;
};

// Runs a joined link's session on this thread, counted among the links not
// yet signed in under the relay's own cap.
void run_joined_link(const std::shared_ptr<HostState>& host, Socket socket, const std::string& source,
                     const std::string& what, std::unique_ptr<LinkHandshake> (*make)(const std::shared_ptr<HostState>&,
                                                                                      const Key32&),
                     const Key32& web_key) {
    const std::uint64_t session = host->connection_counter.fetch_add(1);
    if (!admit_link(*host, session, source, host->limits.unsigned_links_per_relay, what)) {
        socket.shutdown_both();
        socket.close();
        return;
    }
    std::optional<LinkWriter> writer = start_admitted_link_writer(*host, session, socket);
    if (!writer) {
        socket.shutdown_both();
        socket.close();
        return;
    }
    run_session_thread(host, session, std::move(socket), *writer, make(host, web_key));
}

std::unique_ptr<LinkHandshake> device_handshake(const std::shared_ptr<HostState>& host, const Key32&) {
    return new_link_handshake(host);
}

std::unique_ptr<LinkHandshake> browser_handshake(const std::shared_ptr<HostState>& host, const Key32& web_key) {
    std::weak_ptr<HostState> weak = host;
    auto reach = std::dynamic_pointer_cast<RelayReach>(host->reach);
    return std::make_unique<WatchHandshakeState>(web_key, host->host_name, host->host_model,
                                                 reach ? reach->registry() : std::make_shared<WatchLinkRegistry>(),
                                                 [weak] {
                                                     auto strong = weak.lock();
                                                     if (!strong) return false;
                                                     auto lock = strong->lock_main();
                                                     return strong->main().current_session.has_value();
                                                 });
}

}  // namespace

RelayReach::RelayReach(RelaySettings settings, RelayTimings timings, std::shared_ptr<WatchLinkRegistry> registry)
    : timings_(timings), settings_(std::move(settings)), registry_(std::move(registry)) {}

RelayReach::~RelayReach() {
    for (const RelayHandle& handle : registrations_) stop_relay_thread(handle);
    if (web_handle_) stop_relay_thread(*web_handle_);
    if (web_key_) wipe_key32(web_key_->secret_key);
}

namespace {

// The host's interval for the lines of links that never sign in.
std::chrono::milliseconds link_log_every(const std::weak_ptr<HostState>& weak) {
    auto host = weak.lock();
    return host ? host->limits.link_log_every : LinkLimits{}.link_log_every;
}

// A join's thread may outlive the relay services: its line is then written whole.
void note_link_line(const std::weak_ptr<LinkLog>& weak, LinkLog::Line line, std::chrono::milliseconds every) {
    if (auto log = weak.lock()) {
        log->note({std::move(line)}, every);
    } else {
        log_line(line.text);
    }
}

}  // namespace

bool RelayReach::reserve_link(const std::string& tag, std::chrono::milliseconds log_every) {
    if (links_->fetch_add(1) >= kMaxRelayLinks) {
        links_->fetch_sub(1);
        // Dropped links never sign in: a flood of them is counted.
        const std::string line =
            tag + ": " + std::to_string(kMaxRelayLinks) + " links are joining or running; dropping a link";
        link_log_->note({{line, line}}, log_every);
        return false;
    }
    return true;
}

void RelayReach::flush_link_log() { link_log_->flush(); }

void RelayReach::update_relay_registration(HostState& host) {
    bool wanted;
    {
        auto lock = host.lock_main();
        wanted = host.relay_allowed.load() && !host.main().trusted_devices.empty();
    }
    std::lock_guard<std::mutex> lock(registrations_mutex_);
    const bool running = !registrations_.empty();
    if (wanted && !running) {
        std::vector<RelayEndpoint> endpoints;
        {
            std::lock_guard<std::mutex> settings_lock(settings_mutex_);
            endpoints = relay_endpoints(settings_);
        }
        std::weak_ptr<HostState> weak = host.self_ref();
        std::weak_ptr<RelayReach> self = weak_from_this();
        for (const RelayEndpoint& endpoint : endpoints) {
            const std::string tag = relay_log_tag(endpoint.name);
            registrations_.push_back(spawn_relay_thread(
                endpoint, host.identity, RelayMode::Sessions,
                [self, weak, tag](const std::string& token, const std::string& address) {
                    if (auto reach = self.lock()) reach->take_session_link(weak, tag, token, address);
                },
                timings_));
        }
    } else if (!wanted && running) {
        for (const RelayHandle& handle : registrations_) {
            stop_relay_thread(handle);
            log_line(relay_log_tag(handle.name) + ": no longer registered for sessions");
        }
        registrations_.clear();
    }
}

void RelayReach::take_session_link(const std::weak_ptr<HostState>& weak, const std::string& tag,
                                   const std::string& token, const std::string& address) {
    if (weak.expired()) return;
    {
        std::lock_guard<std::mutex> lock(registrations_mutex_);
        if (registrations_.empty()) return;
    }
    const std::chrono::milliseconds log_every = link_log_every(weak);
    if (!reserve_link(tag, log_every)) return;
    auto place = std::make_shared<LinkPlace>(links_);
    const RelayTimings timings = timings_;
    try {
        // The host is held only once the link is joined: a join the relay
        // keeps waiting must not keep a released host state alive.
        std::thread([weak, place, tag, token, address, timings, log = std::weak_ptr<LinkLog>(link_log_),
                     log_every]() mutable {
            set_current_thread_name("vorlix-relay-session");
            Result<Socket> joined = join_relay_link(address, token, timings.connect, timings.sign_in);
            if (!joined) {
                // A relay refuses the join of a link whose device left: a
                // flood of them is counted, without the address.
                const std::string& error = joined.error().text;
                note_link_line(log,
                               {tag + ": could not take the device's link (" + error + ")",
                                tag + ": could not take the device's link at " + address + ": " + error},
                               log_every);
                return;
            }
            auto host = weak.lock();
            if (!host) return;
            run_joined_link(host, std::move(*joined), "relay " + address,
                            "connection through the " + tag + " (" + address + ")", device_handshake, Key32{});
        }).detach();
    } catch (const std::system_error& e) {
        log_line(std::string("relay: could not start a thread for a link: ") + e.what());
    }
}

std::uint64_t RelayReach::count_watch_links() { return registry_->count_watch_links(); }

bool RelayReach::holds_watch_link(std::uint64_t seq) { return registry_->holds(seq); }

std::optional<std::string> RelayReach::open_watch_link(HostState& host) {
    std::optional<Key32> secret = registry_->new_watch_link();
    if (!secret) return std::nullopt;
    RelaySettings settings;
    {
        std::lock_guard<std::mutex> lock(settings_mutex_);
        settings = settings_;
    }
    Key32 public_key;
    {
        std::lock_guard<std::mutex> lock(web_mutex_);
        if (!web_handle_) {
            web_key_ = new_identity_key();
            std::weak_ptr<HostState> weak = host.self_ref();
            std::weak_ptr<RelayReach> self = weak_from_this();
            web_handle_ = spawn_relay_thread(
                main_relay_endpoint(settings), *web_key_, RelayMode::WatchLinks,
                [self, weak](const std::string& token, const std::string& address) {
                    if (auto reach = self.lock()) reach->take_browser_link(weak, token, address);
                },
                timings_);
        }
        public_key = web_key_->public_key;
    }
    std::string url = settings.watch_page_url + "#" + encode_watch_link_token(*secret, public_key, settings.watch_relay_url);
    wipe_key32(*secret);
    return url;
}

void RelayReach::take_browser_link(const std::weak_ptr<HostState>& weak, const std::string& token,
                                   const std::string& address) {
    if (weak.expired()) return;
    Key32 web_key;
    {
        std::lock_guard<std::mutex> lock(web_mutex_);
        if (!web_key_) return;
        web_key = web_key_->public_key;
    }
    const std::chrono::milliseconds log_every = link_log_every(weak);
    if (!reserve_link("watch link", log_every)) return;
    auto place = std::make_shared<LinkPlace>(links_);
    const RelayTimings timings = timings_;
    try {
        std::thread([weak, place, token, address, web_key, timings, log = std::weak_ptr<LinkLog>(link_log_),
                     log_every]() mutable {
            set_current_thread_name("vorlix-relay-accept");
            Result<Socket> joined = join_relay_link(address, token, timings.connect, timings.sign_in);
            if (!joined) {
                const std::string line =
                    "watch link: could not take the browser at the relay: " + joined.error().text;
                note_link_line(log, {line, line}, log_every);
                return;
            }
            auto host = weak.lock();
            if (!host) return;
            run_joined_link(host, std::move(*joined), "relay " + address,
                            "a browser with a watch link, through the relay", browser_handshake, web_key);
        }).detach();
    } catch (const std::system_error&) {
        // The browser may try again.
    }
}

void RelayReach::end_watch_links(HostState& host, const std::string& reason) {
    registry_->clear_watch_links();
    std::optional<RelayHandle> handle;
    std::vector<WebViewer> taken;
    {
        std::lock_guard<std::mutex> lock(web_mutex_);
        if (web_key_) wipe_key32(web_key_->secret_key);
        web_key_.reset();
        handle = std::move(web_handle_);
        web_handle_.reset();
        auto viewers_lock = host.lock_web_viewers();
        taken.swap(host.web_viewers());
    }
    if (handle) {
        stop_relay_thread(*handle);
        log_line("watch links ended (" + reason + "); " + std::to_string(taken.size()) + " browser(s) sent away");
    }
    for (WebViewer& viewer : taken) {
        remove_watcher_entry(*host.watchers, viewer.session);
        queue_control_message(viewer.writer, control::Bye{});
        viewer.writer.send(WriterItem::close());
    }
    host.update_session_relay_state();
}

bool RelayReach::registered_for_sessions() {
    std::lock_guard<std::mutex> lock(registrations_mutex_);
    return !registrations_.empty();
}

bool RelayReach::web_registration_running() {
    std::lock_guard<std::mutex> lock(web_mutex_);
    return web_handle_.has_value();
}

}  // namespace vorlix
