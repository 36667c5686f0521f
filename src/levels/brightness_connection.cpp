#include "levels/brightness_connection.h"

namespace vorlix {

namespace {

constexpr std::uint32_t kRpcDisconnected = 0x80010108;         // RPC_E_DISCONNECTED
constexpr std::uint32_t kRpcServerUnavailable = 0x800706BA;   // RPC_S_SERVER_UNAVAILABLE as a result code
constexpr std::uint32_t kWbemShuttingDown = 0x80041033;       // WBEM_E_SHUTTING_DOWN

}  // namespace

bool brightness_service_gone(std::uint32_t code) {
    return code == kRpcDisconnected || code == kRpcServerUnavailable || code == kWbemShuttingDown;
}

std::optional<std::string> BrightnessConnection::record(Outcome outcome) {
    switch (outcome) {
        case Outcome::available:
            state_ = State::available;
            if (told_available_) return std::nullopt;
            told_available_ = true;
            return "levels: this PC's screen brightness can be set";
        case Outcome::absent:
            // A screen whose brightness was read before still has one: while
            // its service comes back, a failed connection is tried again at
            // later readings.
            if (told_available_) {
                state_ = State::not_tried;
                return std::nullopt;
            }
            state_ = State::unavailable;
            if (told_absent_) return std::nullopt;
            told_absent_ = true;
            return "levels: no screen brightness to set (a desktop PC?)";
        case Outcome::retry:
            state_ = State::not_tried;
            return std::nullopt;
    }
    return std::nullopt;
}

bool BrightnessConnection::forget_on(std::uint32_t code) {
    if (state_ != State::available || !brightness_service_gone(code)) return false;
    state_ = State::not_tried;
    return true;
}

}  // namespace vorlix
