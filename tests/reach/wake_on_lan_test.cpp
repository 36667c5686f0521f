#include "reach/wake_on_lan.h"

#include <gtest/gtest.h>

#include "storage/log_capture.h"
#include "support/udp_listener.h"

namespace vorlix {
namespace {

using namespace std::chrono_literals;

TEST(WakeOnLan, DestinationsAndMagicPackets) {
    using Targets = std::vector<Ipv4Address>;
    const struct {
        Targets given;
        Targets destinations;
    } cases[] = {
        {{}, {{255, 255, 255, 255}}},
        {{{192, 168, 1, 20}, {192, 168, 1, 30}},
         {{192, 168, 1, 20}, {192, 168, 1, 255}, {192, 168, 1, 30}, {255, 255, 255, 255}}},
        {{{10, 0, 0, 255}, {10, 0, 0, 1}, {10, 0, 0, 255}}, {{10, 0, 0, 255}, {10, 0, 0, 1}, {255, 255, 255, 255}}},
        {{{255, 255, 255, 255}}, {{255, 255, 255, 255}}},
    };
    for (const auto& c : cases) EXPECT_EQ(wake_broadcast_targets(c.given), c.destinations);

    const Bytes packet = magic_packet({0x00, 0x11, 0x22, 0x33, 0x44, 0x55});
    ASSERT_EQ(packet.size(), kMagicPacketBytes);
    EXPECT_EQ(Bytes(packet.begin(), packet.begin() + 6), Bytes(6, 0xFF));
    for (std::size_t at = 6; at < packet.size(); at += 6) {
        EXPECT_EQ(Bytes(packet.begin() + at, packet.begin() + at + 6), (Bytes{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}));
    }

    EXPECT_EQ(parse_wake_destination("127.0.0.1:40009"), (WakeDestination{{127, 0, 0, 1}, 40009}));
    for (const char* bad : {"127.0.0.1", "127.0.0.1:", "127.0.0.1:0", "127.0.0.1:65536", "::1:9", "host:9", "127.0.0.1:9x"}) {
        EXPECT_FALSE(parse_wake_destination(bad)) << bad;
    }
}

// A socket that records what would have been sent, and a clock that only
// records the pauses.
struct Recorder {
    std::vector<std::string> events;
    bool broadcast_allowed = true;
    bool sends_pass = true;
};

class RecordingSocket final : public WakeSocket {
public:
    explicit RecordingSocket(Recorder& recorder) : recorder_(recorder) {}
    Result<void> allow_broadcast() override {
        if (recorder_.broadcast_allowed) return {};
        return Error("refused here");
    }
    bool send_to(const WakeDestination& d, ByteView packet) override {
        recorder_.events.push_back(std::to_string(d.address[0]) + "." + std::to_string(d.address[3]) + ":" +
                                   std::to_string(d.port) + " " + std::to_string(packet[6]) + "/" +
                                   std::to_string(packet.size()));
        return recorder_.sends_pass;
    }

private:
    Recorder& recorder_;
};

TEST(WakeOnLan, ThreeRoundsToEveryDestinationAndPortUnderAFakeClock) {
    test::LogCapture log;
    Recorder recorder;
    int opened = 0;
    const WakeSocketOpener open = [&]() -> Result<std::unique_ptr<WakeSocket>> {
        ++opened;
        return std::unique_ptr<WakeSocket>(std::make_unique<RecordingSocket>(recorder));
    };
    const WakePause pause = [&](std::chrono::milliseconds ms) { recorder.events.push_back("pause " + std::to_string(ms.count())); };
    WakeTargets targets{{{0xAA, 1, 2, 3, 4, 5}, {0xBB, 1, 2, 3, 4, 5}}, {{192, 168, 1, 20}}};

    EXPECT_TRUE(broadcast_magic_packets(targets, open, pause));
    const std::vector<std::string> round{"192.20:9 170/102",  "192.20:9 187/102",  "192.20:7 170/102",
                                         "192.20:7 187/102",  "192.255:9 170/102", "192.255:9 187/102",
                                         "192.255:7 170/102", "192.255:7 187/102", "255.255:9 170/102",
                                         "255.255:9 187/102", "255.255:7 170/102", "255.255:7 187/102"};
    std::vector<std::string> expected = round;
    for (int i = 0; i < 2; ++i) {
        expected.push_back("pause 120");
        expected.insert(expected.end(), round.begin(), round.end());
    }
    EXPECT_EQ(recorder.events, expected);

    // Broadcasts refused and every send refused: logged, and no packet left.
    recorder = Recorder{{}, false, false};
    targets.mac_addresses.pop_back();
    EXPECT_FALSE(broadcast_magic_packets(targets, open, pause));
    EXPECT_EQ(recorder.events.size(), 18u + 2u);

    // No MAC address: no socket at all. No socket: logged.
    EXPECT_FALSE(broadcast_magic_packets(WakeTargets{{}, {{10, 0, 0, 1}}}, open, pause));
    EXPECT_EQ(opened, 2);
    EXPECT_FALSE(broadcast_magic_packets(targets, [] { return Result<std::unique_ptr<WakeSocket>>(Error("no ports")); },
                                         pause));
    EXPECT_EQ(log.messages(), "wake: 36 packet(s) sent for 2 network card(s)\n"
                              "wake: broadcasts refused (refused here); sending to the addresses only\n"
                              "wake: 0 packet(s) sent for 1 network card(s), 18 refused\n"
                              "wake: no socket to send from: no ports\n");
}

TEST(WakeOnLan, MagicPacketsArriveWholeAtALoopbackListener) {
    test::UdpListener listener;
    ASSERT_TRUE(listener.ready());
    // Every packet is redirected to the listener; nothing leaves the machine.
    const WakeDestination here{{127, 0, 0, 1}, listener.port()};
    const WakeTargets targets{{{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}}, {{192, 168, 1, 20}}};
    int pauses = 0;
    EXPECT_TRUE(broadcast_magic_packets(targets, [&] { return open_udp_wake_socket(here); },
                                        [&](std::chrono::milliseconds) { ++pauses; }));
    const std::vector<Bytes> received = listener.receive(18, 5s);
    ASSERT_EQ(received.size(), 18u);
    for (const Bytes& datagram : received) EXPECT_EQ(datagram, magic_packet(targets.mac_addresses[0]));
    EXPECT_EQ(pauses, 2);
}

}  // namespace
}  // namespace vorlix
