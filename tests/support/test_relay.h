// A small relay on 127.0.0.1 that speaks the relay's line protocol: it signs
// a host in by a nonce and its signature, answers "ok", announces links and
// hands the test the relay's end of a joined connection. It can stay silent,
// refuse joins and send whatever raw bytes a test asks for.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "crypto/crypto.h"
#include "net/socket.h"

namespace vorlix::test {

class TestRelay {
public:
    // On a free port, or on `port` (nothing listens when it is taken).
    explicit TestRelay(std::uint16_t port = 0);
    ~TestRelay();
    TestRelay(const TestRelay&) = delete;
    TestRelay& operator=(const TestRelay&) = delete;

    std::string address() const;
    bool listening() const { return port_ != 0; }

    // A silent relay reads the sign-in line and then says nothing.
    void set_silent(bool silent) { silent_ = silent; }
    // The line answering a join ("{\"ok\":true}" unless set).
    void set_join_answer(std::string line);

    // Counts of what hosts did; all connections of the relay's life.
    int connections() const { return connections_.load(); }
    int good_signatures() const { return good_signatures_.load(); }
    int bad_signatures() const { return bad_signatures_.load(); }
    int pings() const { return pings_.load(); }
    // Joins answered with anything but "ok"; their connections are not kept.
    int refused_joins() const { return refused_joins_.load(); }
    bool web_sign_in() const { return web_.load(); }
    std::optional<Key32> host_key() const;

    // Raw bytes to the host connection signed in last; false without one.
    bool send_to_host(const std::string& bytes);
    // Drops the connection of the host signed in last.
    void drop_host();

    // Announces a link and waits for the host to join it; the relay's end of
    // the joined connection, or nothing within the limit.
    std::optional<Socket> open_link(std::chrono::milliseconds limit = std::chrono::seconds(5));
    // Announces a token without waiting.
    bool announce(const std::string& token);
    // The next joined connection for a token announced with announce().
    std::optional<Socket> take_joined(const std::string& token, std::chrono::milliseconds limit);

private:
    void accept_loop();
    void serve(Socket socket);
    void serve_host(Socket& socket, const std::string& first_line);
    std::optional<std::string> read_line(Socket& socket);

    Listener listener_;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> silent_{false};
    std::atomic<int> connections_{0}, good_signatures_{0}, bad_signatures_{0}, pings_{0}, refused_joins_{0};
    std::atomic<bool> web_{false};
    std::atomic<int> next_token_{0};

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<Key32> host_key_;
    std::optional<Socket> host_;  // a duplicate of the signed-in host's connection
    std::map<std::string, Socket> joined_;
    std::vector<Socket> open_;  // duplicates of every connection, shut at the end
    std::string join_answer_ = "{\"ok\":true}\n";
    std::vector<std::thread> threads_;
    std::thread accept_thread_;
};

}  // namespace vorlix::test
