// A stream audience that hands every call to another one: tests derive from
// it and override only what they watch or change.
#pragma once

#include <memory>
#include <utility>

#include "stream/stream_loop.h"

namespace vorlix::testing {

class ForwardingAudience : public StreamAudience {
public:
    explicit ForwardingAudience(std::shared_ptr<StreamAudience> inner = nullptr) : inner(std::move(inner)) {}
    bool closed() override { return inner->closed(); }
    bool must_wait(Instant now) override { return inner->must_wait(now); }
    std::optional<std::uint64_t> best_delivered_rate() override { return inner->best_delivered_rate(); }
    std::optional<std::uint64_t> acked_rate() override { return inner->acked_rate(); }
    std::size_t send_output(ParameterSets& s, VideoEncoder& e, const EncodedOutput& o, std::uint32_t& n,
                            Instant origin, bool last, Instant now) override {
        return inner->send_output(s, e, o, n, origin, last, now);
    }
    void announce(const StreamGeometry& g, std::uint32_t f, std::int64_t n) override { inner->announce(g, f, n); }
    void picture_stopped(std::uint8_t v) override { inner->picture_stopped(v); }
    void notice(std::string_view t) override { inner->notice(t); }
    void send_to_all(const std::string& m) override { inner->send_to_all(m); }

    std::shared_ptr<StreamAudience> inner;
};

}  // namespace vorlix::testing
