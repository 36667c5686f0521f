#include "reach/wake_on_lan.h"

#include <gtest/gtest.h>

#include "storage/log_capture.h"

namespace vorlix {
namespace {

TEST(WakeOnLan, DestinationsAndMagicPackets) {
    using Targets = std::vector<Ipv4Address>;
    const struct {
        Targets given, destinations;
    } cases[] = {
        {{}, {{255, 255, 255, 255}}},
        {{{192, 168, 1, 20}, {192, 168, 1, 30}},
         {{192, 168, 1, 20}, {192, 168, 1, 255}, {192, 168, 1, 30}, {255, 255, 255, 255}}},
        {{{10, 0, 0, 255}, {10, 0, 0, 1}, {10, 0, 0, 255}}, {{10, 0, 0, 255}, {10, 0, 0, 1}, {255, 255, 255, 255}}},
        {{{255, 255, 255, 255}}, {{255, 255, 255, 255}}},
    };
    for (const auto& c : cases) EXPECT_EQ(wake_broadcast_targets(c.given), c.destinations);

    const Bytes packet = magic_packet({0x00, 0x11, 0x22, 0x33, 0x44, 0x55});
    Bytes expected(6, 0xFF);
    for (int i = 0; i < 16; ++i) append(expected, Bytes{0x00, 0x11, 0x22, 0x33, 0x44, 0x55});
    EXPECT_EQ(packet, expected);
    EXPECT_EQ(packet.size(), kMagicPacketBytes);

    EXPECT_EQ(parse_wake_destination("127.0.0.1:40009"), (WakeDestination{{127, 0, 0, 1}, 40009}));
    for (const char* bad : {"127.0.0.1", "127.0.0.1:0", "127.0.0.1:65536", "::1:9", "host:9", "127.0.0.1:9x"}) {
        EXPECT_FALSE(parse_wake_destination(bad)) << bad;
    }
}

// Records each send as "last address byte:port first MAC byte", and each pause.
struct RecordingSocket final : WakeSocket {
    std::string& events;
    bool pass;
    explicit RecordingSocket(std::string& e, bool p) : events(e), pass(p) {}
    Result<void> allow_broadcast() override { return pass ? Result<void>() : Result<void>(Error("refused here")); }
    bool send_to(const WakeDestination& d, ByteView packet) override {
        events += std::to_string(d.address[3]) + ":" + std::to_string(d.port) + " " + std::to_string(packet[6]) + ",";
        return pass && packet.size() == kMagicPacketBytes;
    }
};

TEST(WakeOnLan, ThreeRoundsToEveryDestinationAndPortUnderAFakeClock) {
    test::LogCapture log;
    std::string events;
    bool pass = true;
    int opened = 0;
    const WakeSocketOpener open = [&]() -> Result<std::unique_ptr<WakeSocket>> {
        ++opened;
        return std::unique_ptr<WakeSocket>(std::make_unique<RecordingSocket>(events, pass));
    };
    const WakePause pause = [&](std::chrono::milliseconds ms) { events += "pause " + std::to_string(ms.count()) + ","; };
    WakeTargets targets{{{0xAA, 1, 2, 3, 4, 5}, {0xBB, 1, 2, 3, 4, 5}}, {{192, 168, 1, 20}}};

    EXPECT_TRUE(broadcast_magic_packets(targets, open, pause));
    const std::string round = "20:9 170,20:9 187,20:7 170,20:7 187,255:9 170,255:9 187,255:7 170,255:7 187,"
                              "255:9 170,255:9 187,255:7 170,255:7 187,";
    EXPECT_EQ(events, round + "pause 120," + round + "pause 120," + round);

    pass = false;  // broadcasts and every send refused: no packet left
    targets.mac_addresses.pop_back();
    EXPECT_FALSE(broadcast_magic_packets(targets, open, pause));
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

}  // namespace
}  // namespace vorlix
