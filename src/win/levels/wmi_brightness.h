// The built-in screen's brightness through the WMI classes
// WmiMonitorBrightness and WmiMonitorBrightnessMethods in ROOT\WMI. The
// connection is made once; a PC without them (a desktop) has no brightness.
// Used on the levels thread only.
#pragma once

#include <cstdint>

#include "levels/brightness_connection.h"
#include "levels/levels_loop.h"

struct IWbemServices;

namespace vorlix {

class WmiBrightness {
public:
    WmiBrightness();
    ~WmiBrightness();
    WmiBrightness(const WmiBrightness&) = delete;
    WmiBrightness& operator=(const WmiBrightness&) = delete;

    BrightnessReading read();
    // Failures are logged.
    void set(std::uint8_t percent);

private:
    // The connection when brightness can be set; made on the first call, and
    // tried again on the next while the probe's answer timed out or the
    // service was away.
    IWbemServices* connect();
    // Lets the connection go when `code` says its service went away (a
    // restarted WMI service): the next use connects again.
    void forget_if_gone(long code);

    BrightnessConnection connection_;
    IWbemServices* services_ = nullptr;
    bool probe_timed_out_ = false;
};

}  // namespace vorlix
