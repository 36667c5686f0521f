// A connected pair of loopback sockets, and a reader that cuts whole frames
// from the device end: for tests of what the host writes on a link.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>

#include "net/socket.h"
#include "util/bytes.h"
#include "wire/frame.h"

namespace vorlix {

struct LoopbackLink {
    Socket host_end;    // the writer's side
    Socket device_end;
};

// Connects a client to a listener on 127.0.0.1; test assertions fail when
// that does not work.
LoopbackLink loopback_link();

// Reads whole frames from a socket.
class FrameReader {
public:
    explicit FrameReader(Socket& socket) : socket_(socket) {}
    // The next frame, or nothing when the link closed, failed, broke its
    // framing or stayed silent for `timeout`.
    std::optional<Frame> next(std::chrono::milliseconds timeout = std::chrono::seconds(5));

private:
    Socket& socket_;
    Bytes pending_;
    std::size_t at_ = 0;
};

}  // namespace vorlix
