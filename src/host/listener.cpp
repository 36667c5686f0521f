#include "host/listener.h"

#include <chrono>
#include <system_error>

#include "host/host_state.h"
#include "host/link_writer.h"
#include "host/log.h"
#include "host/session.h"
#include "util/thread_name.h"

namespace vorlix {

namespace {

void listen_thread(std::shared_ptr<Listener> listener, std::weak_ptr<HostState> weak,
                   std::shared_ptr<std::atomic<bool>> stopping) {
    set_current_thread_name("vorlix-listen");
    while (!stopping->load()) {
        Result<Socket> accepted = listener->accept();
        if (stopping->load()) return;
        if (!accepted) {
            log_line("accept failed: " + accepted.error().text);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            continue;
        }
        if (auto host = weak.lock()) accept_connection(host, std::move(*accepted));
    }
}

}  // namespace

ListenerThreads::~ListenerThreads() { stop(); }

void ListenerThreads::stop() {
    stopping_->store(true);
    // A connection of our own wakes each accept so that it sees the flag.
    for (auto& slot : slots_) {
        auto port = slot.listener->local_port();
        if (!port) continue;
        IpAddress loopback = slot.v6 ? *IpAddress::parse("::1") : IpAddress::v4(127, 0, 0, 1);
        (void)Socket::connect(loopback, *port, std::chrono::seconds(2));
    }
    for (auto& slot : slots_) {
        if (slot.thread.joinable()) slot.thread.join();
    }
    slots_.clear();
}

void ListenerThreads::detach() {
    for (auto& slot : slots_) {
        if (slot.thread.joinable()) slot.thread.detach();
    }
    slots_.clear();
}

Result<std::shared_ptr<ListenerThreads>> start_listener(const std::shared_ptr<HostState>& host, std::uint16_t port,
                                                        bool announce) {
    Result<Listener> v4 = Listener::bind(IpAddress::v4(0, 0, 0, 0), port);
    if (!v4) v4 = Listener::bind(IpAddress::v4(0, 0, 0, 0), 0);
    if (!v4) return v4.error();
    Result<std::uint16_t> bound = v4->local_port();
    if (!bound) return bound.error();
    const std::uint16_t actual = *bound;
    Result<Listener> v6 = Listener::bind(IpAddress::v6({}), actual);

    log_line("listening on port " + std::to_string(actual) + (v6 ? " (IPv4 and IPv6)" : " (IPv4)"));
    host->set_listening(actual);

    auto threads = std::make_shared<ListenerThreads>();
    std::vector<std::shared_ptr<Listener>> sockets;
    sockets.push_back(std::make_shared<Listener>(std::move(*v4)));
    if (v6) sockets.push_back(std::make_shared<Listener>(std::move(*v6)));
    for (auto& socket : sockets) {
        try {
            std::thread thread(listen_thread, socket, std::weak_ptr<HostState>(host), threads->stopping_);
            threads->slots_.push_back({socket, std::move(thread), socket != sockets.front()});
        } catch (const std::system_error& error) {
            threads->stop();
            return Error(error.what());
        }
    }

    if (announce) {
        host->platform->advertise(host->host_name, actual, {{"id", host->host_id()}, {"model", host->host_model}});
    } else {
        log_line("not announced on the network (--no-advertise)");
    }
    host->notify_state_changed();
    return threads;
}

std::unique_ptr<LinkHandshake> new_link_handshake(const std::shared_ptr<HostState>& host) {
    std::weak_ptr<HostState> weak = host;
    return std::make_unique<HandshakeState>(
        host->host_name, host->host_model, host->identity,
        [weak](ByteView key) { return HostState::is_key_trusted(weak, key); },
        [weak] { return HostState::current_pairing_code(weak); }, nullptr, HostState::pairing_guard(weak));
}

bool start_session_thread(const std::shared_ptr<HostState>& host, std::uint64_t session, Socket socket,
                          const LinkWriter& writer, std::unique_ptr<LinkHandshake> handshake) {
    try {
        std::thread thread([host, session, socket = std::move(socket), writer,
                            handshake = std::move(handshake)]() mutable {
            set_current_thread_name("vorlix-session-" + std::to_string(session));
            run_session_thread(std::move(host), session, std::move(socket), std::move(writer), std::move(handshake));
        });
        thread.detach();
        return true;
    } catch (const std::system_error& error) {
        log_line("session " + std::to_string(session) + ": could not start its thread (" + error.what() + ")");
        if (std::optional<std::string> connection = host->unsigned_links.release(session)) log_line(*connection);
        LinkWriter(writer).send(WriterItem::close());
        return false;
    }
}

bool admit_link(HostState& host, std::uint64_t session, const std::string& source, std::size_t source_cap,
                const std::string& connection) {
    const std::string line = "session " + std::to_string(session) + ": " + connection;
    UnsignedLinks::Admission admission = host.unsigned_links.admit(session, source, source_cap, host.limits, line);
    if (!admission.admitted) {
        host.link_log.note({{"refused (" + admission.refusal_kind + ")", line + " refused: " + admission.refusal}},
                           host.limits.link_log_every);
        return false;
    }
    if (admission.closed) {
        host.link_log.note({{"connection", std::move(admission.closed_connection)},
                            {"closed to make room",
                             "session " + std::to_string(*admission.closed) + ": closed to make room for session " +
                                 std::to_string(session) + ", the oldest of the links from " +
                                 admission.closed_source + " waiting to sign in"}},
                           host.limits.link_log_every);
    }
    return true;
}

std::optional<LinkWriter> start_admitted_link_writer(HostState& host, std::uint64_t session, const Socket& socket) {
    Result<Socket> duplicate = socket.duplicate();
    std::optional<LinkWriter> writer;
    if (duplicate) writer = start_link_writer(std::move(*duplicate), host.limits.queued_bytes);
    if (!writer) {
        if (std::optional<std::string> connection = host.unsigned_links.release(session)) log_line(*connection);
        return std::nullopt;
    }
    host.unsigned_links.set_closer(session, [closer = *writer]() mutable { closer.send(WriterItem::close()); });
    return writer;
}

void accept_connection(const std::shared_ptr<HostState>& host, Socket socket) {
    const std::string peer = socket.peer_text();
    const std::uint64_t session = host->connection_counter.fetch_add(1);
    if (!admit_link(*host, session, link_source(peer), host->limits.unsigned_links_per_address,
                    "connection from " + peer)) {
        socket.shutdown_both();
        return;
    }
    (void)socket.set_no_delay(true);
    (void)socket.set_keep_alive(true);
    std::optional<LinkWriter> writer = start_admitted_link_writer(*host, session, socket);
    if (!writer) {
        socket.shutdown_both();
        return;
    }
    start_session_thread(host, session, std::move(socket), *writer, new_link_handshake(host));
}

}  // namespace vorlix
