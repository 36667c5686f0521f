#include "net/socket.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace vorlix {

namespace {

#ifdef _WIN32
int last_error() { return WSAGetLastError(); }
SOCKET raw(NativeSocket s) { return static_cast<SOCKET>(s); }
bool interrupted(int code) { return code == WSAEINTR; }
constexpr int kTimedOutCode = WSAETIMEDOUT;
#else
int last_error() { return errno; }
int raw(NativeSocket s) { return s; }
bool interrupted(int code) { return code == EINTR; }
constexpr int kTimedOutCode = ETIMEDOUT;
#endif

int poll_one(NativeSocket handle, short events, int timeout_ms) {
#ifdef _WIN32
    WSAPOLLFD entry{};
    entry.fd = raw(handle);
    entry.events = events;
    int n = WSAPoll(&entry, 1, timeout_ms);
#else
    pollfd entry{};
    entry.fd = handle;
    entry.events = events;
    int n = ::poll(&entry, 1, timeout_ms);
#endif
    return n;
}

constexpr std::chrono::milliseconds kPollSlice{100};

int clamp_ms(std::chrono::milliseconds timeout) {
    auto count = timeout.count();
    if (count < 0) return 0;
    if (count > 0x7fffffff) return 0x7fffffff;
    return static_cast<int>(count);
}

void to_sockaddr(const IpAddress& address, std::uint16_t port, sockaddr_storage& out, socklen_t& length) {
    std::memset(&out, 0, sizeof out);
    if (address.is_v4()) {
        auto* in = reinterpret_cast<sockaddr_in*>(&out);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        std::memcpy(&in->sin_addr, address.bytes.data(), 4);
        length = sizeof(sockaddr_in);
    } else {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&out);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        std::memcpy(&in6->sin6_addr, address.bytes.data(), 16);
        length = sizeof(sockaddr_in6);
    }
}

std::optional<std::pair<IpAddress, std::uint16_t>> from_sockaddr(const sockaddr_storage& in) {
    if (in.ss_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&in);
        IpAddress address;
        address.family = IpAddress::Family::V4;
        std::memcpy(address.bytes.data(), &v4->sin_addr, 4);
        return std::make_pair(address, ntohs(v4->sin_port));
    }
    if (in.ss_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&in);
        IpAddress address;
        address.family = IpAddress::Family::V6;
        std::memcpy(address.bytes.data(), &v6->sin6_addr, 16);
        return std::make_pair(address, ntohs(v6->sin6_port));
    }
    return std::nullopt;
}

Status set_int_option(NativeSocket handle, int level, int name, int value) {
    if (::setsockopt(raw(handle), level, name, reinterpret_cast<const char*>(&value), sizeof value) != 0) {
        return Error(socket_error_text(last_error()));
    }
    return {};
}

}  // namespace

std::string socket_error_text(int code) {
#ifdef _WIN32
    wchar_t* buffer = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0,
                             nullptr);
    std::string text;
    if (n > 0 && buffer) {
        int size = WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
        text.resize(static_cast<std::size_t>(size > 0 ? size : 0));
        if (size > 0) WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(n), text.data(), size, nullptr, nullptr);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
            text.pop_back();
    }
    if (buffer) LocalFree(buffer);
    if (text.empty()) text = "socket error " + std::to_string(code);
    return text + " (os error " + std::to_string(code) + ")";
#else
    return std::string(std::strerror(code)) + " (os error " + std::to_string(code) + ")";
#endif
}

void net_startup() {
#ifdef _WIN32
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    });
#endif
}

// --- Socket -------------------------------------------------------------------

NativeSocket Socket::invalid() {
#ifdef _WIN32
    return static_cast<NativeSocket>(INVALID_SOCKET);
#else
    return -1;
#endif
}

Socket::~Socket() { close(); }

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, invalid());
        shut_down_ = std::move(other.shut_down_);
    }
    return *this;
}

void Socket::close() {
    if (!valid()) return;
#ifdef _WIN32
    ::closesocket(raw(handle_));
#else
    ::close(handle_);
#endif
    handle_ = invalid();
}

Result<Socket> Socket::connect(const IpAddress& address, std::uint16_t port, std::chrono::milliseconds timeout,
                               const std::optional<IpAddress>& from) {
    net_startup();
    int family = address.is_v4() ? AF_INET : AF_INET6;
    Socket socket(static_cast<NativeSocket>(::socket(family, SOCK_STREAM, IPPROTO_TCP)));
    if (!socket.valid()) return Error(socket_error_text(last_error()));
    if (from) {
        sockaddr_storage local;
        socklen_t local_length;
        to_sockaddr(*from, 0, local, local_length);
        if (::bind(raw(socket.handle_), reinterpret_cast<const sockaddr*>(&local), local_length) != 0) {
            return Error(socket_error_text(last_error()));
        }
    }

    sockaddr_storage target;
    socklen_t length;
    to_sockaddr(address, port, target, length);

    // Non-blocking connect, so that the wait is bounded.
#ifdef _WIN32
    u_long on = 1;
    ioctlsocket(raw(socket.handle_), FIONBIO, &on);
#else
    int flags = ::fcntl(socket.handle_, F_GETFL, 0);
    ::fcntl(socket.handle_, F_SETFL, flags | O_NONBLOCK);
#endif
    int rc = ::connect(raw(socket.handle_), reinterpret_cast<const sockaddr*>(&target), length);
    if (rc != 0) {
        int code = last_error();
#ifdef _WIN32
        bool pending = code == WSAEWOULDBLOCK;
#else
        bool pending = code == EINPROGRESS;
#endif
        if (!pending) return Error(socket_error_text(code));
        int n = poll_one(socket.handle_, POLLOUT, clamp_ms(timeout));
        if (n == 0) return Error(socket_error_text(kTimedOutCode));
        if (n < 0) return Error(socket_error_text(last_error()));
        int so_error = 0;
        socklen_t so_length = sizeof so_error;
        ::getsockopt(raw(socket.handle_), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&so_error), &so_length);
        if (so_error != 0) return Error(socket_error_text(so_error));
    }
#ifdef _WIN32
    u_long off = 0;
    ioctlsocket(raw(socket.handle_), FIONBIO, &off);
#else
    ::fcntl(socket.handle_, F_SETFL, flags);
#endif
    return socket;
}

ReceiveOutcome Socket::receive(std::uint8_t* buffer, std::size_t capacity, std::chrono::milliseconds timeout) {
    ReceiveOutcome outcome;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (shut_down_ && shut_down_->load()) {
            outcome.kind = ReceiveOutcome::Kind::Shutdown;
            return outcome;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        // Waits in short slices: on some systems a shut-down made through
        // another handle of the socket does not wake a poll already waiting.
        int n = poll_one(handle_, POLLIN, clamp_ms(std::min(left, kPollSlice)));
        if (n < 0) {
            int code = last_error();
            if (interrupted(code)) continue;
            outcome.kind = ReceiveOutcome::Kind::Failed;
            outcome.error = socket_error_text(code);
            return outcome;
        }
        if (n == 0) {
            if (std::chrono::steady_clock::now() < deadline) continue;
            outcome.kind = ReceiveOutcome::Kind::TimedOut;
            outcome.error = socket_error_text(kTimedOutCode);
            return outcome;
        }
        int want = capacity > 0x7fffffff ? 0x7fffffff : static_cast<int>(capacity);
        auto got = ::recv(raw(handle_), reinterpret_cast<char*>(buffer), want, 0);
        if (got > 0) {
            outcome.kind = ReceiveOutcome::Kind::Data;
            outcome.size = static_cast<std::size_t>(got);
            return outcome;
        }
        if (got == 0) {
            outcome.kind = ReceiveOutcome::Kind::Closed;
            return outcome;
        }
        int code = last_error();
        if (interrupted(code)) continue;
#ifdef _WIN32
        if (code == WSAESHUTDOWN) {
            outcome.kind = ReceiveOutcome::Kind::Shutdown;
            return outcome;
        }
        if (code == WSAEWOULDBLOCK) continue;
#else
        if (code == EAGAIN || code == EWOULDBLOCK) continue;
#endif
        outcome.kind = ReceiveOutcome::Kind::Failed;
        outcome.error = socket_error_text(code);
        return outcome;
    }
}

Status Socket::send_all(ByteView bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        std::size_t left = bytes.size() - done;
        int chunk = left > 0x40000000 ? 0x40000000 : static_cast<int>(left);
#ifdef _WIN32
        int sent = ::send(raw(handle_), reinterpret_cast<const char*>(bytes.data() + done), chunk, 0);
#else
        auto sent = ::send(handle_, bytes.data() + done, static_cast<std::size_t>(chunk), MSG_NOSIGNAL);
#endif
        if (sent < 0) {
            int code = last_error();
            if (interrupted(code)) continue;
            return Error(socket_error_text(code));
        }
        if (sent == 0) return Error("the link wrote nothing");
        done += static_cast<std::size_t>(sent);
    }
    return {};
}

void Socket::shutdown_both() {
    if (!valid()) return;
    if (shut_down_) shut_down_->store(true);
#ifdef _WIN32
    ::shutdown(raw(handle_), SD_BOTH);
#else
    ::shutdown(handle_, SHUT_RDWR);
#endif
}

Result<Socket> Socket::duplicate() const {
#ifdef _WIN32
    WSAPROTOCOL_INFOW info;
    if (WSADuplicateSocketW(raw(handle_), GetCurrentProcessId(), &info) != 0) {
        return Error(socket_error_text(last_error()));
    }
    SOCKET copy = WSASocketW(info.iAddressFamily, info.iSocketType, info.iProtocol, &info, 0, WSA_FLAG_OVERLAPPED);
    if (copy == INVALID_SOCKET) return Error(socket_error_text(last_error()));
    Socket twin(static_cast<NativeSocket>(copy));
    twin.shut_down_ = shut_down_;
    return twin;
#else
    int copy = ::fcntl(handle_, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return Error(socket_error_text(last_error()));
    Socket twin(copy);
    twin.shut_down_ = shut_down_;
    return twin;
#endif
}

Status Socket::set_no_delay(bool on) { return set_int_option(handle_, IPPROTO_TCP, TCP_NODELAY, on ? 1 : 0); }

Status Socket::set_keep_alive(bool on) { return set_int_option(handle_, SOL_SOCKET, SO_KEEPALIVE, on ? 1 : 0); }

std::string Socket::peer_text() const {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(raw(handle_), reinterpret_cast<sockaddr*>(&peer), &length) != 0) return {};
    auto address = from_sockaddr(peer);
    if (!address) return {};
    return socket_address_text(address->first, address->second);
}

std::string socket_address_text(const IpAddress& address, std::uint16_t port) {
    if (address.is_v4()) return address.to_text() + ":" + std::to_string(port);
    return "[" + address.to_text() + "]:" + std::to_string(port);
}

// --- Listener -----------------------------------------------------------------

Result<Listener> Listener::bind(const IpAddress& address, std::uint16_t port) {
    net_startup();
    int family = address.is_v4() ? AF_INET : AF_INET6;
    Socket socket(static_cast<NativeSocket>(::socket(family, SOCK_STREAM, IPPROTO_TCP)));
    if (!socket.valid()) return Error(socket_error_text(last_error()));
#ifdef _WIN32
    // A program this one starts (the copy an update installs) must not
    // inherit the listening socket and keep the port held.
    SetHandleInformation(reinterpret_cast<HANDLE>(raw(socket.handle())), HANDLE_FLAG_INHERIT, 0);
#endif
    if (!address.is_v4()) {
        // Best effort: an IPv6 listener leaves IPv4 to its own socket.
        (void)set_int_option(socket.handle(), IPPROTO_IPV6, IPV6_V6ONLY, 1);
    }
#ifndef _WIN32
    // Lets a restarted host take its port back at once; on Windows the same
    // option would let two programs share a port, so it stays off there.
    (void)set_int_option(socket.handle(), SOL_SOCKET, SO_REUSEADDR, 1);
#endif
    sockaddr_storage local;
    socklen_t length;
    to_sockaddr(address, port, local, length);
    if (::bind(raw(socket.handle()), reinterpret_cast<const sockaddr*>(&local), length) != 0) {
        return Error(socket_error_text(last_error()));
    }
    if (::listen(raw(socket.handle()), SOMAXCONN) != 0) return Error(socket_error_text(last_error()));
    Listener listener;
    listener.socket_ = std::move(socket);
    return listener;
}

Result<std::uint16_t> Listener::local_port() const {
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (::getsockname(raw(socket_.handle()), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        return Error(socket_error_text(last_error()));
    }
    auto address = from_sockaddr(local);
    if (!address) return Error("the listening address is not an internet address");
    return address->second;
}

Result<Socket> Listener::accept() {
    while (true) {
        auto handle = ::accept(raw(socket_.handle()), nullptr, nullptr);
        if (handle == raw(Socket::invalid())) {
            int code = last_error();
            if (interrupted(code)) continue;
            return Error(socket_error_text(code));
        }
        return Socket(static_cast<NativeSocket>(handle));
    }
}

std::vector<IpAddress> resolve_host(const std::string& host) {
    net_startup();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    std::vector<IpAddress> out;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) return out;
    for (addrinfo* it = found; it; it = it->ai_next) {
        if (!it->ai_addr || it->ai_addrlen > sizeof(sockaddr_storage)) continue;
        sockaddr_storage storage{};
        std::memcpy(&storage, it->ai_addr, it->ai_addrlen);
        if (auto address = from_sockaddr(storage)) out.push_back(address->first);
    }
    ::freeaddrinfo(found);
    return out;
}

}  // namespace vorlix
