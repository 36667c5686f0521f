// A listening host with a given platform and one trusted device signed in
// over loopback TCP with the device peer: the road a device's `configure`
// takes to the platform's stream and back as Video frames.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "../storage/temp_folder.h"
#include "host/host_state.h"
#include "host/listener.h"
#include "host/session.h"
#include "support/device_peer.h"
#include "support/test_host.h"

namespace vorlix::testing {

class SessionRig {
public:
    // Starts the host on `platform`, signs the device in (with `role`, if
    // given) and sends its deviceInfo with `features`. Check
    // HasFatalFailure() after it.
    void start(std::shared_ptr<Platform> platform, const std::string& features_json,
               std::optional<PeerRole> role = std::nullopt) {
        device_ = DeviceIdentity::make("Tablet", "Tablet7,1");
        host_ = HostState::create(test_host_config(std::move(platform), folder_.path(), 0x35, {trusted(device_)}));
        host_->timeouts.writer_wait = std::chrono::seconds(2);
        auto started = start_listener(host_, 0, false);
        ASSERT_TRUE(started) << started.error().text;
        listener_ = *started;
        auto stream = SocketStream::connect(IpAddress::v4(127, 0, 0, 1), host_->snapshot_host_status().port);
        ASSERT_TRUE(stream);
        peer_ = std::make_unique<DevicePeer>(std::move(*stream), device_);
        Status signed_in = peer_->sign_in(role);
        ASSERT_TRUE(signed_in) << signed_in.error().text;
        ASSERT_TRUE(send(R"({"deviceInfo":{"version":"3","features":)" + features_json + "}}"));
        ASSERT_TRUE(until_pong(1).has_value());
    }

    // Ends the session (the device says goodbye) and waits for the host's
    // link threads.
    void finish() {
        if (peer_) {
            send(R"({"bye":{}})");
            peer_->wait_closed(std::chrono::seconds(5));
            peer_.reset();
        }
        if (listener_) listener_->stop();
        if (host_) host_->say_goodbye_and_close();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (running_session_threads() != 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        EXPECT_EQ(running_session_threads(), 0);
        host_.reset();
    }

    ~SessionRig() { finish(); }

    bool send(const std::string& json) { return peer_ && peer_->send_control_text(json).ok(); }

    // The control texts that arrive before the pong of a ping (other frames
    // are skipped).
    std::optional<std::vector<std::string>> until_pong(std::uint64_t ping,
                                                       std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        if (!send("{\"ping\":{\"_0\":" + std::to_string(ping) + "}}")) return std::nullopt;
        const std::string pong = "{\"pong\":{\"_0\":" + std::to_string(ping) + "}}";
        std::vector<std::string> texts;
        for (int i = 0; i < 1000; ++i) {
            auto frame = peer_->receive_frame_of(FrameType::Control, timeout);
            if (!frame) return std::nullopt;
            std::string text = to_string(frame->body);
            if (text == pong) return texts;
            texts.push_back(std::move(text));
        }
        return std::nullopt;
    }

    DevicePeer& peer() { return *peer_; }
    HostState& host() { return *host_; }
    const std::filesystem::path& folder() const { return folder_.path(); }

private:
    test::TempFolder folder_;
    DeviceIdentity device_;
    std::shared_ptr<HostState> host_;
    std::shared_ptr<ListenerThreads> listener_;
    std::unique_ptr<DevicePeer> peer_;
};

}  // namespace vorlix::testing
