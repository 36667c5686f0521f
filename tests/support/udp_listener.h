// A UDP socket of the test's own on 127.0.0.1 (a system-chosen port) that
// collects the datagrams sent to it, such as Wake-on-LAN magic packets.
#pragma once

#include <chrono>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include "net/socket.h"

namespace vorlix::test {

class UdpListener {
public:
    UdpListener() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(socket_.handle(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(socket_.handle(), reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            port_ = ntohs(address.sin_port);
        }
    }
    std::uint16_t port() const { return port_; }  // 0 when it could not be opened

    // The datagrams that arrive until `count` are in or a wait for the next
    // one passes `each`.
    std::vector<Bytes> receive(std::size_t count, std::chrono::milliseconds each) {
        std::vector<Bytes> datagrams;
        std::uint8_t buffer[2048];
        while (datagrams.size() < count) {
            const ReceiveOutcome outcome = socket_.receive(buffer, sizeof buffer, each);
            if (outcome.kind != ReceiveOutcome::Kind::Data) break;
            datagrams.emplace_back(buffer, buffer + outcome.size);
        }
        return datagrams;
    }

private:
    static NativeSocket open_udp() {
        net_startup();
        return static_cast<NativeSocket>(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    }
    Socket socket_{open_udp()};
    std::uint16_t port_ = 0;
};

}  // namespace vorlix::test
