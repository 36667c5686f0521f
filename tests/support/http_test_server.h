// A small HTTP/1.1 server on 127.0.0.1 for the update tests: each path
// answers a fixed status and body; every request's head is kept.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/socket.h"
#include "util/bytes.h"

namespace vorlix::testing {

class HttpTestServer {
public:
    struct Answer {
        int status = 200;
        Bytes body;
    };
    explicit HttpTestServer(std::map<std::string, Answer> routes);
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    // Sets or changes what a path answers (for bodies that name the port).
    void answer(const std::string& path, Answer answer);
    std::uint16_t port() const { return port_; }
    std::string link(const std::string& path) const;
    // The request heads so far (request line and headers).
    std::vector<std::string> requests();

private:
    void serve();

    std::map<std::string, Answer> routes_;
    std::uint16_t port_ = 0;
    Listener listener_;
    std::mutex mutex_;
    std::vector<std::string> requests_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace vorlix::testing
