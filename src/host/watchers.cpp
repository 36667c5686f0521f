#include "host/watchers.h"

#include <algorithm>

#include "control/messages.h"

namespace vorlix {

std::size_t WebWatcherRegistry::size() const {
    auto guard = lock();
    return entries.size();
}

std::size_t WebWatcherRegistry::browser_count() const {
    auto guard = lock();
    return static_cast<std::size_t>(std::count_if(entries.begin(), entries.end(), [](const Entry& e) { return e.browser; }));
}

std::vector<LinkWriter> WebWatcherRegistry::writers() const {
    auto guard = lock();
    std::vector<LinkWriter> out;
    out.reserve(entries.size());
    for (const auto& entry : entries) out.push_back(entry.writer);
    return out;
}

void broadcast_control_message(const WebWatcherRegistry& registry, const ControlMessage& message) {
    const std::string json = encode_control_message(message);
    if (json.empty()) return;
    for (const LinkWriter& writer : registry.writers()) queue_control_bytes(writer, json);
}

void add_stream_watcher(WebWatcherRegistry& registry, const LinkWriter& writer, std::uint64_t session,
                        const std::string& peer_name, bool browser) {
    if (auto callback = list_stream_watcher(registry, writer, session, peer_name, browser)) callback();
}

WebWatcherRegistry::KeyFrameCallback list_stream_watcher(WebWatcherRegistry& registry, const LinkWriter& writer,
                                                         std::uint64_t session, const std::string& peer_name,
                                                         bool browser) {
    WebWatcherRegistry::KeyFrameCallback callback;
    {
        auto guard = registry.lock();
        auto& entries = registry.entries;
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [&](const WebWatcherRegistry::Entry& e) { return e.session == session; }),
                      entries.end());
        WebWatcherRegistry::Entry entry;
        entry.writer = writer;
        entry.peer_name = peer_name;
        entry.session = session;
        entry.browser = browser;
        entries.push_back(std::move(entry));
        if (registry.last_stream_info) queue_control_bytes(writer, *registry.last_stream_info);
        callback = registry.key_frame_callback;
    }
    return callback;
}

void clear_stream_info(WebWatcherRegistry& registry) {
    auto guard = registry.lock();
    registry.last_stream_info.reset();
}

std::vector<std::string> watcher_names(const WebWatcherRegistry& registry) {
    std::vector<std::string> names;
    {
        auto guard = registry.lock();
        for (const auto& entry : registry.entries) names.push_back(entry.peer_name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void remove_watcher_entry(WebWatcherRegistry& registry, std::uint64_t session) {
    auto guard = registry.lock();
    auto& entries = registry.entries;
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const WebWatcherRegistry::Entry& e) { return e.session == session; }),
                  entries.end());
}

}  // namespace vorlix
