#include "net/socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

namespace vorlix {
namespace {

using namespace std::chrono_literals;

struct Pair {
    Socket client;
    Socket server;
};

Pair connected_pair(const IpAddress& loopback) {
    auto listener = Listener::bind(loopback, 0);
    EXPECT_TRUE(listener) << (listener ? "" : listener.error().text);
    auto port = listener->local_port();
    EXPECT_TRUE(port);
    auto accepted = std::async(std::launch::async, [&] { return listener->accept(); });
    auto client = Socket::connect(loopback, *port, 5s);
    EXPECT_TRUE(client) << (client ? "" : client.error().text);
    auto server = accepted.get();
    EXPECT_TRUE(server);
    return {std::move(*client), std::move(*server)};
}

TEST(Socket, BytesCrossBothFamilies) {
    for (const auto& loopback : {IpAddress::v4(127, 0, 0, 1), *IpAddress::parse("::1")}) {
        auto listener = Listener::bind(loopback, 0);
        if (!listener && !loopback.is_v4()) continue;  // a machine without IPv6
        Pair pair = connected_pair(loopback);
        ASSERT_TRUE(pair.client.send_all(to_bytes("hello")).ok());
        std::uint8_t buffer[16];
        auto got = pair.server.receive(buffer, sizeof buffer, 5s);
        ASSERT_EQ(got.kind, ReceiveOutcome::Kind::Data);
        EXPECT_EQ(to_string(ByteView(buffer, got.size)), "hello");
        std::string peer = pair.server.peer_text();
        EXPECT_EQ(peer.rfind(loopback.is_v4() ? "127.0.0.1:" : "[::1]:", 0), 0u) << peer;
    }
}

TEST(Socket, ReceiveTimesOutAndReportsClose) {
    Pair pair = connected_pair(IpAddress::v4(127, 0, 0, 1));
    std::uint8_t buffer[4];
    auto start = std::chrono::steady_clock::now();
    auto got = pair.server.receive(buffer, sizeof buffer, 50ms);
    EXPECT_EQ(got.kind, ReceiveOutcome::Kind::TimedOut);
    EXPECT_FALSE(got.error.empty());
    EXPECT_GE(std::chrono::steady_clock::now() - start, 45ms);

    pair.client.close();
    got = pair.server.receive(buffer, sizeof buffer, 5s);
    EXPECT_NE(got.kind, ReceiveOutcome::Kind::Data);
    EXPECT_NE(got.kind, ReceiveOutcome::Kind::TimedOut);
}

// The link writer shuts its own duplicate down; the reader blocked on the
// first handle must wake up at once rather than wait for its time-out.
TEST(Socket, ShutdownOfADuplicateWakesABlockedReceive) {
    Pair pair = connected_pair(IpAddress::v4(127, 0, 0, 1));
    auto copy = pair.server.duplicate();
    ASSERT_TRUE(copy);
    auto reader = std::async(std::launch::async, [&] {
        std::uint8_t buffer[4];
        return pair.server.receive(buffer, sizeof buffer, 10s);
    });
    std::this_thread::sleep_for(50ms);
    auto start = std::chrono::steady_clock::now();
    copy->shutdown_both();
    ASSERT_EQ(reader.wait_for(5s), std::future_status::ready);
    auto outcome = reader.get();
    EXPECT_NE(outcome.kind, ReceiveOutcome::Kind::Data);
    EXPECT_NE(outcome.kind, ReceiveOutcome::Kind::TimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);

    // The peer sees the end of the stream too.
    std::uint8_t buffer[4];
    EXPECT_EQ(pair.client.receive(buffer, sizeof buffer, 5s).kind, ReceiveOutcome::Kind::Closed);
}

TEST(Socket, ATakenPortCannotBeBoundTwice) {
    auto first = Listener::bind(IpAddress::v4(127, 0, 0, 1), 0);
    ASSERT_TRUE(first);
    auto second = Listener::bind(IpAddress::v4(127, 0, 0, 1), *first->local_port());
    EXPECT_FALSE(second);
}

}  // namespace
}  // namespace vorlix
