#include "support/udp_listener.h"

#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace vorlix::test {

UdpListener::UdpListener() {
    net_startup();
    socket_ = Socket(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (!socket_.valid()) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(socket_.handle(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(socket_.handle(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return;
    }
    port_ = ntohs(address.sin_port);
}

std::vector<Bytes> UdpListener::receive(std::size_t count, std::chrono::milliseconds limit) {
    std::vector<Bytes> datagrams;
    const auto end = std::chrono::steady_clock::now() + limit;
    std::uint8_t buffer[2048];
    while (datagrams.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        const ReceiveOutcome outcome = socket_.receive(buffer, sizeof buffer, left);
        if (outcome.kind != ReceiveOutcome::Kind::Data) break;
        datagrams.emplace_back(buffer, buffer + outcome.size);
    }
    return datagrams;
}

}  // namespace vorlix::test
