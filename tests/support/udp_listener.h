// A UDP socket of the test's own on 127.0.0.1 (a system-chosen port) that
// collects the datagrams sent to it, such as Wake-on-LAN magic packets.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "net/socket.h"
#include "util/bytes.h"

namespace vorlix::test {

class UdpListener {
public:
    UdpListener();
    bool ready() const { return socket_.valid() && port_ != 0; }
    std::uint16_t port() const { return port_; }
    // The datagrams that arrive until `count` are in or `limit` passes.
    std::vector<Bytes> receive(std::size_t count, std::chrono::milliseconds limit);

private:
    Socket socket_;
    std::uint16_t port_ = 0;
};

}  // namespace vorlix::test
