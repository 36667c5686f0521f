#include "reach/wake_on_lan.h"

#include <algorithm>
#include <charconv>

#include "host/log.h"
#include "net/ip_address.h"

namespace vorlix {

Bytes magic_packet(const MacAddress& mac) {
    Bytes packet(6, 0xFF);
    packet.reserve(kMagicPacketBytes);
    for (int i = 0; i < 16; ++i) packet.insert(packet.end(), mac.begin(), mac.end());
    return packet;
}

std::vector<Ipv4Address> wake_broadcast_targets(const std::vector<Ipv4Address>& addresses) {
    std::vector<Ipv4Address> targets;
    const auto add = [&targets](const Ipv4Address& address) {
        if (std::find(targets.begin(), targets.end(), address) == targets.end()) targets.push_back(address);
    };
    for (const Ipv4Address& address : addresses) {
        add(address);
        add({address[0], address[1], address[2], 255});
    }
    add({255, 255, 255, 255});
    return targets;
}

bool broadcast_magic_packets(const WakeTargets& targets, const WakeSocketOpener& open, const WakePause& pause) {
    if (targets.mac_addresses.empty()) return false;
    Result<std::unique_ptr<WakeSocket>> socket = open();
    if (!socket) {
        log_line("wake: no socket to send from: " + socket.error().text);
        return false;
    }
    if (Result<void> allowed = (*socket)->allow_broadcast(); !allowed) {
        log_line("wake: broadcasts refused (" + allowed.error().text + "); sending to the addresses only");
    }
    std::vector<Bytes> packets;
    for (const MacAddress& mac : targets.mac_addresses) packets.push_back(magic_packet(mac));
    std::vector<WakeDestination> destinations;
    for (const Ipv4Address& address : wake_broadcast_targets(targets.addresses)) {
        for (std::uint16_t port : kWakePorts) destinations.push_back({address, port});
    }
    std::size_t sent = 0;
    std::size_t refused = 0;
    for (int round = 0; round < kWakeRounds; ++round) {
        if (round > 0) pause(kWakeRoundPause);
        for (const WakeDestination& destination : destinations) {
            for (const Bytes& packet : packets) {
                if ((*socket)->send_to(destination, packet)) {
                    ++sent;
                } else {
                    ++refused;
                }
            }
        }
    }
    log_line("wake: " + std::to_string(sent) + " packet(s) sent for " + std::to_string(packets.size()) +
             " network card(s)" + (refused > 0 ? ", " + std::to_string(refused) + " refused" : std::string()));
    return sent > 0;
}

std::optional<WakeDestination> parse_wake_destination(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const auto address = IpAddress::parse(text.substr(0, colon));
    if (!address || !address->is_v4()) return std::nullopt;
    const std::string_view digits = text.substr(colon + 1);
    unsigned port = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || port == 0 || port > 65535) {
        return std::nullopt;
    }
    const auto& b = address->bytes;
    return WakeDestination{{b[0], b[1], b[2], b[3]}, static_cast<std::uint16_t>(port)};
}

}  // namespace vorlix
