#include "support/http_test_server.h"

#include <chrono>

#include "net/ip_address.h"

namespace vorlix::testing {

HttpTestServer::HttpTestServer(std::map<std::string, Answer> routes) : routes_(std::move(routes)) {
    Result<Listener> bound = Listener::bind(IpAddress::v4(127, 0, 0, 1), 0);
    if (!bound) return;
    listener_ = std::move(*bound);
    port_ = listener_.local_port().ok() ? *listener_.local_port() : 0;
    thread_ = std::thread([this] { serve(); });
}

HttpTestServer::~HttpTestServer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    // A connection of its own wakes the accept up.
    (void)Socket::connect(IpAddress::v4(127, 0, 0, 1), port_, std::chrono::seconds(2));
    if (thread_.joinable()) thread_.join();
}

std::string HttpTestServer::link(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void HttpTestServer::answer(const std::string& path, Answer answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    routes_[path] = std::move(answer);
}

std::vector<std::string> HttpTestServer::requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void HttpTestServer::serve() {
    for (int served = 0; served < 100; ++served) {
        Result<Socket> peer = listener_.accept();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) return;
        }
        if (!peer) return;
        std::string head;
        std::uint8_t buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
            const ReceiveOutcome got = peer->receive(buffer, sizeof buffer, std::chrono::seconds(5));
            if (got.kind != ReceiveOutcome::Kind::Data) break;
            head.append(reinterpret_cast<const char*>(buffer), got.size);
        }
        const std::size_t path_at = head.find(' ') + 1;
        const std::string path = head.substr(path_at, head.find(' ', path_at) - path_at);
        Answer answer{404, {}};
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(head.substr(0, head.find("\r\n\r\n")));
            if (const auto found = routes_.find(path); found != routes_.end()) answer = found->second;
        }
        const std::string reply = "HTTP/1.1 " + std::to_string(answer.status) + " X\r\nContent-Length: " +
                                  std::to_string(answer.body.size()) + "\r\nConnection: close\r\n\r\n";
        (void)peer->send_all(ByteView(reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size()));
        (void)peer->send_all(answer.body);
    }
}

}  // namespace vorlix::testing
