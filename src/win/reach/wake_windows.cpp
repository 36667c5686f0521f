#include <thread>

#include "host/log.h"
#include "reach/wake_on_lan.h"
#include "win/capture/win_capture.h"
#include "win/reach/reach_windows.h"

namespace vorlix {

bool send_wake_packets_by_udp(const WakeTargets& targets) {
    std::optional<WakeDestination> redirect;
    if (const auto setting = read_environment(L"VORLIX_WAKE_TO")) {
        redirect = parse_wake_destination(*setting);
        if (!redirect) {
            log_line("wake: VORLIX_WAKE_TO is not an IPv4 address with a port; nothing sent");
            return false;
        }
    }
    return broadcast_magic_packets(
        targets, [redirect] { return open_udp_wake_socket(redirect); },
        [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); });
}

}  // namespace vorlix
