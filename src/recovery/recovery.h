// What the stream does when it cannot show the screen: how long it waits
// before trying again, whether the stop is worth telling the device, and the
// texts it tells.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "stream/clock.h"

namespace vorlix {

enum class PictureStopReason : std::uint8_t {
    screenLocked = 0,
    secureDesktop = 1,
    displayUnavailable = 2,
    captureFailed = 3,
    encoderFailed = 4,
    stoppedOnComputer = 5,
};

// Stands for "no reason" in the records below and, given to the
// picture-stopped callback, for "the picture runs again".
inline constexpr std::uint8_t kPictureResumed = 255;

inline constexpr std::uint8_t reason_code(PictureStopReason reason) {
    return static_cast<std::uint8_t>(reason);
}

// The reason of a code 0..5, or nothing.
std::optional<PictureStopReason> picture_stop_reason_from_code(std::uint8_t code);

// The reason's wire name, as also written in log lines ("captureFailed").
std::string_view picture_stop_reason_name(PictureStopReason reason);

// The English text that tells the device why the picture stopped.
std::string picture_stopped_text(PictureStopReason reason);

// The first wait after a stop of this reason, and the longest wait.
Duration picture_stop_base_delay(PictureStopReason reason);
Duration picture_stop_delay_cap(PictureStopReason reason);

// One stream's recovery record.
struct RecoveryState {
    std::optional<Instant> retry_at;  // nothing is reopened before this
    std::uint32_t repeat_count = 0;   // reports in a row with the same reason
    std::uint8_t last_reason = kPictureResumed;
    std::uint8_t last_announced = kPictureResumed;  // last reason told to the device
};

// Called with a reason code, or kPictureResumed.
using PictureStoppedCallback = std::function<void(std::uint8_t)>;

// True while a retry instant is set and not yet reached.
bool retry_pending(const RecoveryState& state, Instant now);

// A stop: clears frames_flowing, sets the retry instant with the reason's
// back-off, and, when the stop is worth telling, logs it and calls
// `notify` with the reason. Returns whether it was told.
bool report_stream_stop(RecoveryState& state, PictureStopReason reason, bool& frames_flowing,
                        std::int64_t stream_number, Instant now,
                        const PictureStoppedCallback& notify);

// Called when a video output sent bytes. The first one after a stop sets
// frames_flowing, empties the record and calls `notify` with
// kPictureResumed; returns whether it did.
bool note_picture_flowing(RecoveryState& state, bool& frames_flowing,
                          const PictureStoppedCallback& notify);

// What a session tells its device when its stream reports a stop or the
// picture's return.
struct PictureNotice {
    enum class Kind : std::uint8_t { nothing, stopped, resumed };
    Kind kind = Kind::nothing;
    std::string log_text;       // the session's log line, "session {}: ..."
    bool send_notice = false;   // a `notice` with `message` (device without the capability)
    bool send_stopped = false;  // a `pictureStopped` message
    bool send_resumed = false;  // a `pictureResumed` message
    std::string reason_name;    // pictureStopped: `reason`
    std::string message;        // notice text, or pictureStopped: `message`
    bool retrying = false;      // pictureStopped: `retrying`
};

// Decides, for a session whose current picture-stop reason is
// `session_reason` (updated here), what a callback value leads to.
// `has_capability`: the device listed "pictureStopped".
PictureNotice decide_picture_notice(std::uint8_t& session_reason, std::uint8_t value,
                                    bool has_capability, std::uint64_t session_number);

}  // namespace vorlix
