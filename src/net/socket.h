// A small portable TCP socket layer over Winsock and POSIX sockets. Receive
// time-outs are done with poll (WSAPoll on Windows), so the same code behaves
// alike on both systems. Winsock is started once per process, on first use.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "net/ip_address.h"
#include "util/bytes.h"
#include "util/result.h"

namespace vorlix {

#ifdef _WIN32
using NativeSocket = std::uintptr_t;  // SOCKET
#else
using NativeSocket = int;
#endif

// The text of the system's error code for the last socket call.
std::string socket_error_text(int code);

// Starts the socket library once (WSAStartup on Windows); later calls do
// nothing. Every Socket and Listener call starts it as needed.
void net_startup();

// How one receive ended.
struct ReceiveOutcome {
    enum class Kind {
        Data,      // `size` bytes arrived
        Closed,    // the peer closed its side (or this side shut down its receive)
        Shutdown,  // the socket was shut down locally (WSAESHUTDOWN)
        TimedOut,  // nothing arrived within the time-out
        Failed,    // any other error; `error` holds the system's text
    };
    Kind kind = Kind::Closed;
    std::size_t size = 0;
    std::string error;
};

class Socket {
public:
    Socket() = default;
    explicit Socket(NativeSocket handle)
        : handle_(handle), shut_down_(std::make_shared<std::atomic<bool>>(false)) {}
    ~Socket();
    Socket(Socket&& other) noexcept
        : handle_(std::exchange(other.handle_, invalid())), shut_down_(std::move(other.shut_down_)) {}
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    static NativeSocket invalid();

    // Connects to address:port (the test peers and the relay use this), from
    // `from` when given (a test's peers on several loopback addresses).
    static Result<Socket> connect(const IpAddress& address, std::uint16_t port,
                                  std::chrono::milliseconds timeout = std::chrono::seconds(10),
                                  const std::optional<IpAddress>& from = std::nullopt);

    bool valid() const { return handle_ != invalid(); }
    NativeSocket handle() const { return handle_; }

    // Waits at most `timeout` for bytes and reads at most `capacity` of them.
    // An interrupted call is repeated.
    ReceiveOutcome receive(std::uint8_t* buffer, std::size_t capacity, std::chrono::milliseconds timeout);

    // Writes every byte, retrying short writes.
    Status send_all(ByteView bytes);

    // Shuts the connection down in both directions; failures are ignored. A
    // receive waiting on any duplicate of this socket then ends with Shutdown
    // (within one poll slice), whatever the system does with the shut-down.
    void shutdown_both();
    void close();

    // A second handle of the same connection (for a writer thread).
    Result<Socket> duplicate() const;

    Status set_no_delay(bool on);
    Status set_keep_alive(bool on);

    // The peer's address as "a.b.c.d:port" or "[v6]:port"; empty when unknown.
    std::string peer_text() const;

private:
    NativeSocket handle_ = invalid();
    // Shared by every duplicate: set once the connection was shut down here.
    std::shared_ptr<std::atomic<bool>> shut_down_;
};

// A listening TCP socket.
class Listener {
public:
    Listener() = default;

    // Binds address:port (port 0: the system chooses) and listens. An IPv6
    // listener takes IPv6 only, so that an IPv4 one can share the port.
    static Result<Listener> bind(const IpAddress& address, std::uint16_t port);

    // The port the socket is bound to.
    Result<std::uint16_t> local_port() const;

    // Waits for one connection.
    Result<Socket> accept();

    void close() { socket_.close(); }
    bool valid() const { return socket_.valid(); }

private:
    Socket socket_;
};

// The socket addresses of a host name or address text, in the resolver's
// order; an empty list when it has none.
std::vector<IpAddress> resolve_host(const std::string& host);

// Writes "a.b.c.d:port" or "[v6]:port".
std::string socket_address_text(const IpAddress& address, std::uint16_t port);

}  // namespace vorlix
