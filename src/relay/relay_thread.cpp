#include "relay/relay_thread.h"

#include <system_error>
#include <thread>

#include "host/log.h"
#include "util/thread_name.h"

namespace vorlix {

namespace {

using Clock = std::chrono::steady_clock;

struct HostPort {
    std::string host;
    std::uint16_t port = 0;
};

std::optional<HostPort> split_host_port(const std::string& address) {
    std::size_t colon = address.rfind(':');
    if (colon == std::string::npos || colon + 1 >= address.size() || address.size() - colon > 6) return std::nullopt;
    unsigned port = 0;
    for (std::size_t i = colon + 1; i < address.size(); ++i) {
        if (address[i] < '0' || address[i] > '9') return std::nullopt;
        port = port * 10 + static_cast<unsigned>(address[i] - '0');
    }
    if (port == 0 || port > 65535) return std::nullopt;
    std::string host = address.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    if (host.empty()) return std::nullopt;
    return HostPort{host, static_cast<std::uint16_t>(port)};
}

Status send_text(Socket& socket, const std::string& text) {
    return socket.send_all(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void close_slot(RelayShared& shared) {
    std::lock_guard<std::mutex> lock(shared.mutex);
    if (shared.socket_slot) {
        shared.socket_slot->shutdown_both();
        shared.socket_slot->close();
        shared.socket_slot.reset();
    }
}

struct RelayThread {
    RelayEndpoint endpoint;
    std::string tag;
    Ed25519KeyPair key;
    RelayMode mode;
    IncomingLinkCallback callback;
    RelayTimings timings;
    std::shared_ptr<RelayShared> shared;

    ~RelayThread() { wipe_key32(key.secret_key); }

    // One connection to one address; `signed_in` is set at the first "ok".
    Status connection(const std::string& address, bool& signed_in) {
        Result<Socket> connected = connect_with_timeout(address, timings.connect);
        if (!connected) return connected.error();
        Socket socket = std::move(*connected);
        {
            Result<Socket> copy = socket.duplicate();
            if (!copy) return copy.error();
            std::lock_guard<std::mutex> lock(shared->mutex);
            if (shared->socket_slot) shared->socket_slot->close();
            shared->socket_slot = std::move(*copy);
        }
        if (shared->stop.load()) return {};
        if (Status sent = send_text(socket, relay_sign_in_line(key.public_key, mode)); !sent) return sent;

        RelayLineReader reader;
        std::uint8_t buffer[8192];
        auto last_heard = Clock::now();
        while (!shared->stop.load()) {
            // Lines already received are handled before the next read.
            Result<std::optional<std::string>> line = reader.next();
            if (!line) return line.error();
            if (*line) {
                last_heard = Clock::now();
                if (Status acted = act(socket, **line, address, signed_in); !acted) return acted;
                continue;
            }
            ReceiveOutcome got = socket.receive(buffer, sizeof buffer, signed_in ? timings.signed_in_read : timings.sign_in);
            switch (got.kind) {
                case ReceiveOutcome::Kind::Data:
                    reader.append(buffer, got.size);
                    break;
                case ReceiveOutcome::Kind::Closed:
                case ReceiveOutcome::Kind::Shutdown:
                    if (shared->stop.load()) return {};
                    return Error("the relay closed the connection");
                case ReceiveOutcome::Kind::Failed:
                    if (shared->stop.load()) return {};
                    return Error(got.error);
                case ReceiveOutcome::Kind::TimedOut:
                    if (!signed_in) return Error("the relay did not sign this host in");
                    if (Clock::now() - last_heard > timings.silence_limit) return Error("the relay stopped answering");
                    if (Status sent = send_text(socket, write_json_line(Json{{"ping", 1}})); !sent) return sent;
                    break;
            }
        }
        return {};
    }

    Status act(Socket& socket, const std::string& text, const std::string& address, bool& signed_in) {
        RelayLine line = read_relay_line(text);
        switch (line.kind) {
            case RelayLine::Kind::Nonce:
                return send_text(socket, relay_signature_line(key, line.text));
            case RelayLine::Kind::Ok:
                signed_in = true;
                shared->registered.store(true);
                log_line(tag + ": registered at " + address + " for " +
                         (mode == RelayMode::Sessions ? "sessions" : "watch links"));
                return {};
            case RelayLine::Kind::Incoming:
                if (callback) callback(line.text, address);
                return {};
            case RelayLine::Kind::Ignored:
                return {};
        }
        return {};
    }

    void wait(std::chrono::milliseconds delay) {
        const auto until = Clock::now() + delay;
        while (!shared->stop.load() && Clock::now() < until) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            std::this_thread::sleep_for(std::min(left, timings.stop_check));
        }
    }

    void run() {
        std::size_t attempt = 0;
        std::chrono::milliseconds delay = timings.first_delay;
        while (!shared->stop.load()) {
            if (endpoint.addresses.empty()) return;
            const std::string address = endpoint.addresses[attempt % endpoint.addresses.size()];
            {
                std::lock_guard<std::mutex> lock(shared->mutex);
                shared->current_address = address;
            }
            bool signed_in = false;
            Status ended = connection(address, signed_in);
            if (!ended) log_line(tag + " " + address + ": " + ended.error().text);
            if (shared->registered.exchange(false)) log_line(tag + ": registration at " + address + " lost");
            close_slot(*shared);
            if (signed_in) {
                wait(timings.first_delay);
                delay = timings.first_delay;
            } else {
                wait(delay);
                ++attempt;
                delay = 2 * std::min(delay, timings.delay_cap);
            }
        }
    }
};

}  // namespace

std::string relay_log_tag(const std::string& name) { return name == "main" ? "relay" : "relay " + name; }

RelayHandle spawn_relay_thread(const RelayEndpoint& endpoint, const Ed25519KeyPair& key, RelayMode mode,
                               IncomingLinkCallback callback, const RelayTimings& timings) {
    RelayHandle handle{endpoint.name, std::make_shared<RelayShared>()};
    handle.shared->current_address = endpoint.addresses.empty() ? std::string() : endpoint.addresses.front();
    auto thread = std::make_shared<RelayThread>(RelayThread{endpoint, relay_log_tag(endpoint.name), key, mode,
                                                            std::move(callback), timings, handle.shared});
    const std::string thread_name = endpoint.name == "main" ? "vorlix-relay" : "vorlix-relay-" + endpoint.name;
    try {
        std::thread([thread, thread_name] {
            set_current_thread_name(thread_name);
            thread->run();
        }).detach();
    } catch (const std::system_error&) {
        // Nothing runs behind the handle.
    }
    return handle;
}

void stop_relay_thread(const RelayHandle& handle) {
    if (!handle.shared) return;
    handle.shared->stop.store(true);
    close_slot(*handle.shared);
}

Result<Socket> connect_with_timeout(const std::string& address, std::chrono::milliseconds timeout) {
    std::optional<HostPort> parts = split_host_port(address);
    if (!parts) return Error("no address");
    std::vector<IpAddress> candidates;
    if (std::optional<IpAddress> literal = IpAddress::parse(parts->host)) {
        candidates.push_back(*literal);
    } else {
        candidates = resolve_host(parts->host);
    }
    if (candidates.empty()) return Error("no address");
    Error last("no address");
    for (const IpAddress& candidate : candidates) {
        Result<Socket> connected = Socket::connect(candidate, parts->port, timeout);
        if (!connected) {
            last = connected.error();
            continue;
        }
        (void)connected->set_no_delay(true);
        (void)connected->set_keep_alive(true);
        return connected;
    }
    return last;
}

Result<Socket> join_relay_link(const std::string& address, const std::string& token, std::chrono::milliseconds timeout,
                               std::chrono::milliseconds answer_timeout) {
    Result<Socket> connected = connect_with_timeout(address, timeout);
    if (!connected) return connected;
    Socket socket = std::move(*connected);
    if (Status sent = send_text(socket, relay_accept_line(token)); !sent) return sent.error();
    std::string answer;
    while (true) {
        std::uint8_t byte = 0;
        // One byte at a time: what the peer sends after the line is the session's.
        ReceiveOutcome got = socket.receive(&byte, 1, answer_timeout);
        if (got.kind == ReceiveOutcome::Kind::Closed || got.kind == ReceiveOutcome::Kind::Shutdown) {
            return Error("the relay closed the connection");
        }
        // A join not answered in time fails with the system's time-out text.
        if (got.kind == ReceiveOutcome::Kind::TimedOut || got.kind == ReceiveOutcome::Kind::Failed) {
            return Error(got.error);
        }
        if (byte == '\n') break;
        if (answer.size() == kMaxJoinAnswer) return Error("the relay's answer to a join is too long");
        answer.push_back(static_cast<char>(byte));
    }
    if (Status joined = check_join_answer(answer); !joined) return joined.error();
    return socket;
}

}  // namespace vorlix
