// The UDP socket that Wake-on-LAN packets leave from, over Winsock or POSIX
// sockets.
#include <cerrno>
#include <cstring>

#include "net/socket.h"
#include "reach/wake_on_lan.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace vorlix {

namespace {

#ifdef _WIN32
int last_socket_error() { return WSAGetLastError(); }
#else
int last_socket_error() { return errno; }
#endif

sockaddr_in v4_address(const Ipv4Address& address, std::uint16_t port) {
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = htons(port);
    std::memcpy(&in.sin_addr, address.data(), 4);
    return in;
}

class UdpWakeSocket final : public WakeSocket {
public:
    UdpWakeSocket(Socket socket, std::optional<WakeDestination> redirect)
        : socket_(std::move(socket)), redirect_(redirect) {}

    Result<void> allow_broadcast() override {
        const int on = 1;
        if (::setsockopt(socket_.handle(), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on),
                         sizeof on) != 0) {
            return Error(socket_error_text(last_socket_error()));
        }
        return {};
    }

    bool send_to(const WakeDestination& destination, ByteView packet) override {
        const WakeDestination& to = redirect_ ? *redirect_ : destination;
        const sockaddr_in address = v4_address(to.address, to.port);
        const auto sent = ::sendto(socket_.handle(), reinterpret_cast<const char*>(packet.data()),
                                   static_cast<int>(packet.size()), 0,
                                   reinterpret_cast<const sockaddr*>(&address), sizeof address);
        return sent >= 0 && static_cast<std::size_t>(sent) == packet.size();
    }

private:
    Socket socket_;
    std::optional<WakeDestination> redirect_;
};

}  // namespace

Result<std::unique_ptr<WakeSocket>> open_udp_wake_socket(std::optional<WakeDestination> redirect) {
    net_startup();
    Socket socket(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (!socket.valid()) return Error(socket_error_text(last_socket_error()));
    const sockaddr_in any = v4_address({0, 0, 0, 0}, 0);
    if (::bind(socket.handle(), reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
        return Error(socket_error_text(last_socket_error()));
    }
    return std::unique_ptr<WakeSocket>(std::make_unique<UdpWakeSocket>(std::move(socket), redirect));
}

}  // namespace vorlix
