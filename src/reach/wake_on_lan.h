// Wake-on-LAN: magic packets for the MAC addresses of a `wakeOther`
// request, sent by UDP to the request's addresses, their /24 broadcasts and
// the limited broadcast, on ports 9 and 7, in three rounds.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/platform.h"
#include "host/text_checks.h"
#include "util/bytes.h"
#include "util/result.h"

namespace vorlix {

using Ipv4Address = std::array<std::uint8_t, 4>;

struct WakeDestination {
    Ipv4Address address{};
    std::uint16_t port = 0;
    bool operator==(const WakeDestination&) const = default;
};

constexpr std::size_t kMagicPacketBytes = 102;
constexpr std::array<std::uint16_t, 2> kWakePorts = {9, 7};
constexpr int kWakeRounds = 3;
constexpr std::chrono::milliseconds kWakeRoundPause{120};

// Six 0xFF bytes, then the MAC address sixteen times.
Bytes magic_packet(const MacAddress& mac);

// Each address and then its a.b.c.255, each once, and 255.255.255.255 last
// (once).
std::vector<Ipv4Address> wake_broadcast_targets(const std::vector<Ipv4Address>& addresses);

// One open UDP socket to send the packets from.
class WakeSocket {
public:
    virtual ~WakeSocket() = default;
    // Allows sends to broadcast addresses; the error text when refused.
    virtual Result<void> allow_broadcast() = 0;
    virtual bool send_to(const WakeDestination& destination, ByteView packet) = 0;
};

using WakeSocketOpener = std::function<Result<std::unique_ptr<WakeSocket>>()>;
using WakePause = std::function<void(std::chrono::milliseconds)>;

// Sends every packet to every destination in three rounds, pausing before
// the second and third, logs the count and says whether any packet left.
// Without a MAC address nothing is opened and the answer is false.
bool broadcast_magic_packets(const WakeTargets& targets, const WakeSocketOpener& open, const WakePause& pause);

// A UDP socket bound to 0.0.0.0 on any port. With `redirect`, every packet
// goes to that one destination instead of the one asked for (so that tests
// and test runs of the program only ever reach a listener of their own).
Result<std::unique_ptr<WakeSocket>> open_udp_wake_socket(std::optional<WakeDestination> redirect);

// "a.b.c.d:port" as a destination; nothing for any other text.
std::optional<WakeDestination> parse_wake_destination(std::string_view text);

}  // namespace vorlix
