// The registry of links that receive the picture without being in control:
// browsers that came through a watch link, and device links whose role is
// watch. Its lock may be taken while the host's main lock is held, never the
// other way round.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/link_writer.h"

namespace vorlix {

class WebWatcherRegistry {
public:
    struct Entry {
        LinkWriter writer;
        std::string peer_name;
        std::uint64_t session = 0;
        bool waiting_for_key_frame = true;
        bool browser = false;
        bool sound = false;
    };

    using KeyFrameCallback = std::function<void()>;

    // The registry's lock guards every field below.
    std::unique_lock<std::mutex> lock() const { return std::unique_lock<std::mutex>(mutex_); }

    std::vector<Entry> entries;  // in order of joining
    // The latest picture format, as the streamInfo message sent to a link as
    // it joins.
    std::optional<std::string> last_stream_info;
    std::optional<std::chrono::steady_clock::time_point> last_key_frame_request;
    KeyFrameCallback key_frame_callback;

    // Readers that take the lock themselves.
    std::size_t size() const;
    std::size_t browser_count() const;
    std::vector<LinkWriter> writers() const;

private:
    mutable std::mutex mutex_;
};

// Queues one message on every watcher's link, in registry order, serialised
// once; the lock is held only while taking the handles.
void broadcast_control_message(const WebWatcherRegistry& registry, const ControlMessage& message);

// Adds a link as a watcher (replacing this session's entries) and sends it the
// last streamInfo; after the lock, asks the stream for a key frame.
void add_stream_watcher(WebWatcherRegistry& registry, const LinkWriter& writer, std::uint64_t session,
                        const std::string& peer_name, bool browser);
// The same without the key frame: answers the callback that asks for it, for
// the caller to run once it holds no lock.
WebWatcherRegistry::KeyFrameCallback list_stream_watcher(WebWatcherRegistry& registry, const LinkWriter& writer,
                                                         std::uint64_t session, const std::string& peer_name,
                                                         bool browser);

void clear_stream_info(WebWatcherRegistry& registry);

// The peer names of all entries, sorted byte-wise.
std::vector<std::string> watcher_names(const WebWatcherRegistry& registry);

void remove_watcher_entry(WebWatcherRegistry& registry, std::uint64_t session);

}  // namespace vorlix
