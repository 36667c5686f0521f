// The TCP listener for direct device links: IPv4 and, when it can, IPv6 on
// one port, one accept thread "vorlix-listen" per socket, and the start of
// each accepted link (its writer, its handshake and its session thread).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "handshake/handshake.h"
#include "net/socket.h"
#include "util/result.h"

namespace vorlix {

class HostState;
class LinkWriter;

// The accept threads of a listener. The program never stops them; tests do,
// with stop(), which closes the sockets and joins the threads.
class ListenerThreads {
public:
    ListenerThreads() = default;
    ~ListenerThreads();
    ListenerThreads(const ListenerThreads&) = delete;
    ListenerThreads& operator=(const ListenerThreads&) = delete;

    void stop();
    // Hands the threads over to the process: they run until it ends.
    void detach();

private:
    friend Result<std::shared_ptr<ListenerThreads>> start_listener(const std::shared_ptr<HostState>&, std::uint16_t,
                                                                   bool);
    struct Slot {
        std::shared_ptr<Listener> listener;
        std::thread thread;
        bool v6 = false;
    };
    std::vector<Slot> slots_;
    std::shared_ptr<std::atomic<bool>> stopping_ = std::make_shared<std::atomic<bool>>(false);
};

// Binds the port (or, when it is taken, one the system chooses) on 0.0.0.0
// and [::], records it in the host state, starts the accept threads and
// announces the service unless `announce` is false.
Result<std::shared_ptr<ListenerThreads>> start_listener(const std::shared_ptr<HostState>& host, std::uint16_t port,
                                                        bool announce);

// Counts a link that has not signed in yet toward the caps, its source holding
// at most `source_cap` of them; false when it must be closed. Its line
// "session {}: " + `connection` is written when it signs in, or with its end
// through the host's link log. An older link that makes room for it is closed.
// The session thread gives the place back at sign-in or at its end.
bool admit_link(HostState& host, std::uint64_t session, const std::string& source, std::size_t source_cap,
                const std::string& connection);
// Starts the writer of an admitted link on a duplicate of its socket; through
// it a newer link may close this one to make room. Nothing when it cannot
// start: the link's place is given back and the caller closes the socket.
std::optional<LinkWriter> start_admitted_link_writer(HostState& host, std::uint64_t session, const Socket& socket);

// Starts one accepted link.
void accept_connection(const std::shared_ptr<HostState>& host, Socket socket);

// The device handshake of a new link, with a fresh ephemeral secret.
std::unique_ptr<LinkHandshake> new_link_handshake(const std::shared_ptr<HostState>& host);

// Starts "vorlix-session-{}" for a link whose writer runs; false (logged)
// when the thread cannot start. Used for direct and relay links.
bool start_session_thread(const std::shared_ptr<HostState>& host, std::uint64_t session, Socket socket,
                          const LinkWriter& writer, std::unique_ptr<LinkHandshake> handshake);

}  // namespace vorlix
