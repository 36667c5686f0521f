// When the levels thread connects to the screen brightness (WMI on
// Windows), when it lets a connection go, and what it logs about it. The
// calls themselves are the platform's; this keeps the state between them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vorlix {

// Whether a failed call's result code says the service behind the
// connection went away (RPC_E_DISCONNECTED, the RPC server unavailable or
// WMI shutting down while its service restarts): the connection is dead,
// the brightness is not.
bool brightness_service_gone(std::uint32_t code);

class BrightnessConnection {
public:
    enum class Outcome {
        available,  // the probe read a brightness
        absent,     // a step failed or the probe found none: no brightness to set,
                    // unless one was read before (then as retry)
        retry,      // the probe timed out or the service was away: try at the next use
    };

    // Whether the next use connects first.
    bool due() const { return state_ == State::not_tried; }
    bool available() const { return state_ == State::available; }

    // Takes an attempt's outcome; gives the line to log, if any. Each of the
    // two lines is logged at most once per process.
    std::optional<std::string> record(Outcome outcome);

    // A call on the connection failed with `code`. True when the service
    // went away: the connection is to be released, and the next use
    // connects again.
    bool forget_on(std::uint32_t code);

private:
    enum class State { not_tried, unavailable, available };
    State state_ = State::not_tried;
    bool told_available_ = false;
    bool told_absent_ = false;
};

}  // namespace vorlix
