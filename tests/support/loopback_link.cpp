#include "support/loopback_link.h"

#include <gtest/gtest.h>

#include <future>
#include <utility>
#include <variant>

namespace vorlix {

LoopbackLink loopback_link() {
    auto listener = Listener::bind(IpAddress::v4(127, 0, 0, 1), 0);
    EXPECT_TRUE(listener);
    auto accepted = std::async(std::launch::async, [&] { return listener->accept(); });
    auto client = Socket::connect(IpAddress::v4(127, 0, 0, 1), *listener->local_port(), std::chrono::seconds(5));
    EXPECT_TRUE(client);
    auto server = accepted.get();
    EXPECT_TRUE(server);
    return {std::move(*server), std::move(*client)};
}

std::optional<Frame> FrameReader::next(std::chrono::milliseconds timeout) {
    while (true) {
        if (at_ < pending_.size()) {
            CutResult cut = cut_frame(ByteView(pending_).subspan(at_));
            if (auto* frame = std::get_if<CutFrame>(&cut)) {
                at_ += frame->consumed;
                if (at_ > (1u << 20)) {
                    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at_));
                    at_ = 0;
                }
                return std::move(frame->frame);
            }
            if (std::holds_alternative<FrameError>(cut)) return std::nullopt;
        }
        std::uint8_t buffer[16384];
        auto got = socket_.receive(buffer, sizeof buffer, timeout);
        if (got.kind != ReceiveOutcome::Kind::Data) return std::nullopt;
        pending_.insert(pending_.end(), buffer, buffer + got.size);
    }
}

}  // namespace vorlix
