// A host with a fake platform, listening on a loopback port, for tests that
// drive it with the device peer.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/host_state.h"
#include "host/listener.h"
#include "support/device_peer.h"
#include "support/fake_platform.h"
#include "support/test_host.h"

namespace vorlix {

class HostFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Builds the host state; `trusted` are stored as trusted before it starts.
    void make_host(std::vector<TrustedDevice> trusted = {});
    void start_listening();

    // From 127.0.0.1, or from `from` (another loopback address).
    std::unique_ptr<DevicePeer> connect(const DeviceIdentity& identity,
                                        const std::optional<IpAddress>& from = std::nullopt);
    // A trusted device, already signed in with no role, its sign-in messages read.
    std::unique_ptr<DevicePeer> signed_in_device(const DeviceIdentity& identity);

    std::string read_code_file() const;
    bool code_file_exists() const;
    // Whether the next control message is bye and the link then closes.
    static bool sent_away(DevicePeer& peer);
    // Waits until a log line holds `text`.
    bool wait_for_log(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(5)) const;
    std::string log_text() const;
    // Waits until every session and writer thread has ended.
    bool wait_for_threads_to_end(std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

    // The control texts of the next frames, skipping other types, until a
    // pong arrives (the pong itself is not in the list).
    std::vector<std::string> control_texts_until_pong(DevicePeer& peer, std::uint64_t ping = 99);

    std::filesystem::path dir_;
    std::shared_ptr<FakePlatform> platform_;
    std::shared_ptr<ReachServices> reach_;  // the host's reach when set before make_host
    std::shared_ptr<HostState> host_;
    std::shared_ptr<ListenerThreads> listener_;
    std::uint16_t port_ = 0;
    HostState::Clock::time_point now_;
    std::int64_t session_threads_before_ = 0;
    std::int64_t writer_threads_before_ = 0;
};

// The name of a control message text ({"name":{...}}).
std::string control_name(const std::string& json);


}  // namespace vorlix
